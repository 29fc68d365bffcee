#include "core/ranges.h"

#include <vector>

#include "core/messages.h"
#include "platform/unicode.h"

namespace vesmer {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Plain decimal digits with an optional fraction, rounded half to even; blanks around are
// allowed. Fails for anything else and for values beyond a signed 32-bit integer.
bool ParseNumber(std::string_view text, std::int32_t& value) {
  text = TrimBlanks(text);
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view fraction =
      dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return false;
  std::int64_t n = 0;
  for (const char c : whole) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
    if (n > INT32_MAX + 1LL) n = INT32_MAX + 1LL;  // stays out of range, never overflows
  }
  for (const char c : fraction) {
    if (c < '0' || c > '9') return false;
  }
  if (!fraction.empty()) {
    const bool above_half =
        fraction[0] > '5' ||
        (fraction[0] == '5' && fraction.find_first_not_of('0', 1) != std::string_view::npos);
    const bool exactly_half = fraction[0] == '5' && !above_half;
    if (above_half || (exactly_half && n % 2 == 1)) ++n;
  }
  if (n > INT32_MAX) return false;
  value = static_cast<std::int32_t>(n);
  return true;
}

}  // namespace

ParseOutcome ParseRangeText(std::string_view text, RangeList& list) {
  list.Clear();
  std::vector<std::string_view> entries;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    entries.push_back(text.substr(start, comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (entries.size() > kMaxRanges) return ParseOutcome::kOverLimit;
  for (std::size_t i = 0; i < kMaxRanges; ++i) {
    const std::string_view entry = i < entries.size() ? entries[i] : std::string_view{};
    if (entry.empty()) return ParseOutcome::kValid;
    const std::size_t dash = entry.find('-');
    if (dash == std::string_view::npos) return ParseOutcome::kInvalid;
    if (entry.find('-', dash + 1) != std::string_view::npos) return ParseOutcome::kInvalid;
    std::int32_t first = 0, last = 0;
    if (!ParseNumber(entry.substr(0, dash), first) || !ParseNumber(entry.substr(dash + 1), last)) {
      return ParseOutcome::kInvalid;
    }
    list[i] = {first, last};
    if (first > last) return ParseOutcome::kInvalid;
  }
  return ParseOutcome::kValid;
}

ParseOutcome ParseKeyRange(std::string_view text, RangeList& list, std::string& message) {
  const ParseOutcome outcome = ParseRangeText(text, list);
  if (outcome == ParseOutcome::kOverLimit) message = messages::kKeyRangeOverLimit;
  return outcome;
}

ParseOutcome ParseOmitRange(std::string_view text, RangeList& list, std::string& message) {
  const ParseOutcome outcome = ParseRangeText(text, list);
  if (outcome == ParseOutcome::kOverLimit) message = messages::kOmitRangeOverLimit;
  return outcome;
}

bool CheckRangeOverlap(const RangeList& key, const RangeList& omit) {
  // The pairwise form of the column masks: same answer, no mask as long as the largest column.
  for (const ColumnRange& k : key) {
    if (k.Start == 0) continue;
    for (const ColumnRange& o : omit) {
      if (o.Start == 0) continue;
      if (k.Start <= o.End && o.Start <= k.End) return false;
    }
  }
  return true;
}

std::string NormaliseRangeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::size_t taken = 0;
    char32_t cp = DecodeUtf8(text.data() + i, text.size() - i, taken);
    if (cp == kReplacementChar) {
      out.append(text.substr(i, taken));  // keep what is not ours to judge
    } else {
      if (cp >= 0xFF01 && cp <= 0xFF5E) cp -= 0xFF01 - 0x21;
      if (cp == 0x3000) cp = ' ';
      AppendUtf8(cp, out);
    }
    i += taken;
  }
  const std::size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

}  // namespace vesmer
