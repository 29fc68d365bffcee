#include "cli/terminal_text.h"

#include "platform/unicode.h"

namespace vesmer {
namespace {

bool IsWide(char32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
         (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
         (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
         (cp >= 0xFFE0 && cp <= 0xFFE6);
}

// Japanese line breaking (禁則): these never start a line...
constexpr std::u32string_view kNoLineStart =
    U"、。，．・：；？！）」』】〕］｝〉》ー々ぁぃぅぇぉっゃゅょァィゥェォッャュョ";
// ...and these never end one.
constexpr std::u32string_view kNoLineEnd = U"（「『【〔［｛〈《";

// A piece of a line that is never broken, and the spaces in front of it.
struct Piece {
  std::string spaces;
  std::string text;
  std::size_t width = 0;
  char32_t last = 0;
};

struct Char {
  char32_t cp;
  std::string_view bytes;
  bool wide;
};

bool IsHalfWidthMark(const Char& c) { return !c.wide && c.cp != U' '; }

// Whether a line may break between chars[i - 1] and chars[i], which no space parts.
bool MayBreakBefore(const std::vector<Char>& chars, std::size_t i) {
  const Char& before = chars[i - 1];
  const Char& after = chars[i];
  if (!before.wide || !after.wide) return false;
  if (kNoLineStart.find(after.cp) != std::u32string_view::npos) return false;
  if (kNoLineEnd.find(before.cp) != std::u32string_view::npos) return false;
  // Full-width characters written against half-width ones belong to one term
  // ("名前,開始桁", "比較元名_UTF8.TXT").
  if (i >= 2 && IsHalfWidthMark(chars[i - 2])) return false;
  return i + 1 >= chars.size() || !IsHalfWidthMark(chars[i + 1]);
}

std::vector<Piece> Pieces(std::string_view paragraph) {
  std::vector<Char> chars;
  for (std::size_t i = 0; i < paragraph.size();) {
    std::size_t taken = 0;
    const char32_t cp = DecodeUtf8(paragraph.data() + i, paragraph.size() - i, taken);
    chars.push_back(Char{cp, paragraph.substr(i, taken), IsWide(cp)});
    i += taken;
  }
  std::vector<Piece> pieces;
  std::string spaces;
  for (std::size_t i = 0; i < chars.size(); ++i) {
    const Char& c = chars[i];
    if (c.cp == U' ') {
      spaces += ' ';
      continue;
    }
    if (pieces.empty() || !spaces.empty() || MayBreakBefore(chars, i)) {
      pieces.push_back(Piece{std::move(spaces), {}, 0, 0});
    }
    spaces.clear();
    Piece& piece = pieces.back();
    piece.text += c.bytes;
    piece.width += c.wide ? 2 : 1;
    piece.last = c.cp;
  }
  return pieces;
}

// Cuts a piece wider than a line into pieces that fit, between characters.
std::vector<Piece> Cut(const Piece& piece, std::size_t width) {
  std::vector<Piece> parts(1);
  parts.front().spaces = piece.spaces;
  for (std::size_t i = 0; i < piece.text.size();) {
    std::size_t taken = 0;
    const char32_t cp = DecodeUtf8(piece.text.data() + i, piece.text.size() - i, taken);
    const std::size_t w = IsWide(cp) ? 2 : 1;
    if (parts.back().width + w > width && parts.back().width != 0) parts.emplace_back();
    parts.back().text.append(piece.text, i, taken);
    parts.back().width += w;
    parts.back().last = cp;
    i += taken;
  }
  return parts;
}

void WrapParagraph(std::string_view paragraph, std::size_t width, std::vector<std::string>& lines) {
  std::string line;
  std::size_t line_width = 0;
  bool empty = true;
  for (const Piece& whole : Pieces(paragraph)) {
    for (const Piece& piece : whole.width > width ? Cut(whole, width) : std::vector{whole}) {
      const std::size_t added = piece.spaces.size() + piece.width;
      if (!empty && line_width + added > width) {
        lines.push_back(std::move(line));
        line = piece.text;
        line_width = piece.width;
      } else {
        line += piece.spaces + piece.text;
        line_width += added;
      }
      empty = false;
    }
  }
  lines.push_back(std::move(line));
}

}  // namespace

std::size_t DisplayWidth(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t taken = 0;
    const char32_t cp = DecodeUtf8(text.data() + i, text.size() - i, taken);
    i += taken;
    width += IsWide(cp) ? 2 : 1;
  }
  return width;
}

std::vector<std::string> WrapText(std::string_view text, std::size_t width) {
  std::vector<std::string> lines;
  if (width == 0) width = 1;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find('\n', start);
    WrapParagraph(text.substr(start, end - start), width, lines);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

}  // namespace vesmer
