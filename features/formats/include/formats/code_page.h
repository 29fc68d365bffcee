// Code pages of records: a record's bytes decoded on their own into UTF-16 text, with the byte
// offset each unit came from, so that ranges given in bytes of the stored record cut the text and
// records of different code pages with the same content compare equal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/display_text.h"

namespace vesmer {

// Records longer than this are decoded up to here (offsets are 32 bits, ICU's lengths signed).
inline constexpr std::size_t kMaxDecodedRecordBytes = 0x7FFFFFFF;

// One record's text and where in the record each unit comes from. Reused from record to record:
// its buffers only grow, to the longest record seen, so a warm decode allocates nothing.
class DecodedText {
 public:
  DecodedText() = default;
  DecodedText(const DecodedText&) = delete;
  DecodedText& operator=(const DecodedText&) = delete;

  [[nodiscard]] std::u16string_view text() const { return {units_.get(), size_}; }
  // offsets()[i] is the byte offset in the record where the character holding text()[i] starts.
  // Never decreasing; the units of one character (a surrogate pair) share their offset.
  [[nodiscard]] std::span<const std::uint32_t> offsets() const { return {offsets_.get(), size_}; }
  [[nodiscard]] std::size_t size() const { return size_; }

  // The text of bytes [begin, end) of the record: the units of the characters that start there.
  // A character begun before `begin` belongs to the range before it even when its bytes reach
  // in, so a range that cuts a double-byte character in two holds only whole characters. Shift
  // bytes give no text: a range inside a shift sequence is its characters as shifted.
  [[nodiscard]] std::u16string_view Slice(std::size_t begin, std::size_t end) const;

 private:
  friend class CodePage;

  std::unique_ptr<char16_t[]> units_;
  std::unique_ptr<std::uint32_t[]> offsets_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// A code page, opened by name, that decodes one record at a time. Each decode starts in the code
// page's initial state (single-byte for the IBM host code pages), whatever the record before
// left. Not safe to share between threads: open one per input.
class CodePage {
 public:
  virtual ~CodePage();
  CodePage(const CodePage&) = delete;
  CodePage& operator=(const CodePage&) = delete;

  // Opens the code page `name`, compared as ICU compares converter names (case, '-', '_' and
  // blanks do not count):
  // - "cp932" (also "windows-31j", "ms932", "windows-932"): Windows' own tables, not ICU's;
  // - "utf-8";
  // - "euc-jp", "ibm-930", "ibm-939", "ibm-1390", "ibm-1399" and any other converter ICU knows
  //   ("shift_jis" is ICU's ibm-943, not Windows' code page 932).
  // Returns nullptr when there is no such code page, with `message` saying so in the user's
  // words: "★コードページ「xyz」はありません".
  [[nodiscard]] static std::unique_ptr<CodePage> Open(std::string_view name, std::string& message);

  // The canonical name: "cp932", "utf-8", "euc-jp", "ibm-930", "ibm-939", "ibm-1390",
  // "ibm-1399" for those, ICU's own for other converters ("ibm-37_P100-1995").
  [[nodiscard]] const std::string& name() const { return name_; }

  // Decodes one record (without its line end) into `out`, replacing what it held. Shift bytes
  // (SO 0x0E, SI 0x0F) give no text. Each byte of a sequence that is not a character (illegal,
  // unassigned, cut off by the record's end, a code page 932 pair not in Windows' table) gives
  // ByteEscape(byte). Returns how many such sequences there were: 0 for a clean record.
  std::size_t Decode(std::string_view record, DecodedText& out);

  // True when Decode would find every byte of `record` a character, known without decoding it
  // (a look at its bytes through the tables); false when only a decode can tell.
  [[nodiscard]] bool KnownClean(std::string_view record) {
    return record.size() <= kMaxDecodedRecordBytes && IsKnownClean(record);
  }

  // When every byte of `bytes` is a character of one unit on its own (from the initial state),
  // those units in `units` (as many as the bytes) and true; false otherwise.
  [[nodiscard]] virtual bool SingleByteUnits(std::string_view /*bytes*/,
                                             std::u16string& /*units*/) {
    return false;
  }

  // Compares `a` and `b`, of one length, unit by unit as SingleByteUnits would give them, when
  // every byte of both is a character of one unit on its own: true, with `order` below 0, 0 or
  // above 0 as a's units order before, as or after b's. False otherwise.
  [[nodiscard]] virtual bool CompareSingleByteUnits(std::string_view /*a*/, std::string_view /*b*/,
                                                    int& /*order*/) {
    return false;
  }

  // Decodes into `out` the characters that start in the first `bytes` bytes of `record`, each as
  // Decode gives it; what follows them may be missing or cut. Returns nothing: what is
  // undecodable is Decode's to count.
  void DecodePrefix(std::string_view record, std::size_t bytes, DecodedText& out);

  // The file's first record without the byte order mark (EF BB BF) a UTF-8 file may start with;
  // for other code pages, or without the mark, `first_record` itself. Only for the first record
  // of a file: elsewhere U+FEFF is text. Offsets then count from after the mark.
  [[nodiscard]] std::string_view WithoutByteOrderMark(std::string_view first_record) const;

  // How many records so far went through ICU's own conversion (all but an ASCII beginning), not
  // through a table: the IBM host code pages send only records with bytes that are no character
  // or with unusual shifts there.
  [[nodiscard]] std::uint64_t records_through_icu() const { return records_through_icu_; }

 protected:
  explicit CodePage(std::string name) : name_(std::move(name)) {}

  // Room for `units` units (and their offsets) in `out`, which keeps what it holds below
  // `keep` units; the decoders write there and then say how many they wrote.
  static void Reserve(DecodedText& out, std::size_t units, std::size_t keep = 0);
  static char16_t* Units(DecodedText& out) { return out.units_.get(); }
  static std::uint32_t* Offsets(DecodedText& out) { return out.offsets_.get(); }
  static std::size_t Capacity(const DecodedText& out) { return out.capacity_; }
  static void SetSize(DecodedText& out, std::size_t size) { out.size_ = size; }
  void CountRecordThroughIcu() { ++records_through_icu_; }

  // DecodePrefix for `bytes` short of the record's size. This one decodes the record cut a
  // character's longest sequence after `bytes`: a character begun before the cut is whole.
  virtual void DecodeRecordPrefix(std::string_view record, std::size_t bytes, DecodedText& out);

 private:
  // Decode for a record of at most kMaxDecodedRecordBytes.
  virtual std::size_t DecodeRecord(std::string_view record, DecodedText& out) = 0;
  // KnownClean for a record of at most kMaxDecodedRecordBytes: false unless a code page knows.
  [[nodiscard]] virtual bool IsKnownClean(std::string_view /*record*/) { return false; }

  std::string name_;
  std::uint64_t records_through_icu_ = 0;
};

}  // namespace vesmer
