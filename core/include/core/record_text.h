// Records in a code page other than 932 lines: decoded into UTF-16 text, each unit knowing the
// byte column of the record it came from, so that ranges given in bytes of the stored record cut
// the text, and records of different code pages with the same content compare equal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/ranges.h"

namespace vesmer {

// One record's text. `offsets[i]` is the 0-based byte of the record where the character of
// text[i] starts (never decreasing). Bytes that are no character of the code page are lone
// surrogates U+DC00 + byte, which equal no character.
// A record of fields (CSV) is its fields' values one after another, `offsets[i]` the 0-based
// number of the field of text[i]: a range of columns is then a range of field numbers, and two
// such records are equal when their texts, their offsets and their numbers of fields are.
struct DecodedRecord {
  std::u16string_view text;
  std::span<const std::uint32_t> offsets;
  std::size_t undecodable = 0;  // byte sequences that were no character
  std::size_t fields = 0;       // a record of fields: how many it has; 0 otherwise
  bool short_record = false;    // a record of fields with fewer than its file's first
  // A record of fields made of another's (some of its fields, in another order): 1 for each of
  // its fields that the record it was made of lacks, else 0; empty when it lacks none.
  std::span<const std::uint8_t> absent;
  // A record of typed fields: 1 for each field that holds a number, its text the canonical
  // decimal of the value ("-12.5"), or what is shown of a field that is no number; empty when no
  // field holds one. Keys order such fields by value, not by text.
  std::span<const std::uint8_t> numbers;
};

// Whether a record of fields lacks its field `field` (0-based): past its fields, or absent. A
// field one record lacks and its partner has differs, even where both texts are empty.
[[nodiscard]] inline bool Lacks(const DecodedRecord& record, std::uint64_t field) {
  return field >= record.fields || (field < record.absent.size() && record.absent[field] != 0);
}

// Whether a field of [first, end) (0-based) is one that one of two records of fields lacks and
// the other has; fields in the used ranges of `omitted`, when given, are not looked at.
[[nodiscard]] bool LackDiffers(const DecodedRecord& a, const DecodedRecord& b, std::uint64_t first,
                               std::uint64_t end, const RangeList* omitted);

// Decodes one record at a time; what it gives stays valid until its next Decode.
class RecordDecoder {
 public:
  virtual ~RecordDecoder() = default;
  // `first_in_file`: the record opens its file, where a byte order mark is no text.
  [[nodiscard]] virtual DecodedRecord Decode(std::string_view record, bool first_in_file) = 0;
  // True when `record` is known to be characters only (Decode would count nothing undecodable)
  // without decoding it; false when only a decode can tell. Most records of a run are equal to
  // their partner byte for byte and never need their text: this is all they are asked.
  [[nodiscard]] virtual bool KnownClean(std::string_view /*record*/, bool /*first_in_file*/) {
    return false;
  }
  // The characters that start in the first `bytes` bytes of `record`, as Decode gives them (the
  // text may go on past them), in a buffer apart from Decode's: valid until the next
  // DecodePrefix. Its counts mean nothing. Only asked of a record KnownClean took.
  [[nodiscard]] virtual DecodedRecord DecodePrefix(std::string_view record, bool first_in_file,
                                                   std::size_t /*bytes*/) {
    return Decode(record, first_in_file);
  }
  // Appends to `form` the key form (AppendKeyForm) of the characters that start in the used
  // ranges of `ranges`, made straight from the bytes where the code page can: each byte up to
  // the ranges' last column `last` a character alone. False, with nothing appended, otherwise.
  // Only asked of a record KnownClean took.
  [[nodiscard]] virtual bool AppendKeyFormOfBytes(std::string_view /*record*/,
                                                  bool /*first_in_file*/,
                                                  const RangeList& /*ranges*/, std::size_t /*last*/,
                                                  std::string& /*form*/) {
    return false;
  }
  // How the keys of two records of one length order (the key form of the characters that start
  // in the used ranges of `ranges`, as AppendKeyFormOfBytes makes it), told from their bytes
  // where the code page can: each byte of both up to the ranges' last column `last` a
  // character alone. True with `order` below 0, 0 or above 0 as a's key orders before, as or
  // after b's; false otherwise. A byte order mark is never a character alone: a record that
  // opens its file is taken as it is.
  [[nodiscard]] virtual bool OrderKeysOfBytes(std::string_view /*a*/, std::string_view /*b*/,
                                              const RangeList& /*ranges*/, std::size_t /*last*/,
                                              int& /*order*/) {
    return false;
  }
};

// The code page of an input's records, for a run that compares texts.
class RecordCoding {
 public:
  virtual ~RecordCoding() = default;
  // A decoder of its own for one reader (decoders are not shared between threads).
  [[nodiscard]] virtual std::unique_ptr<RecordDecoder> NewDecoder() const = 0;
  // Its canonical name ("ibm-930"): two inputs of one coding give one text for equal bytes.
  [[nodiscard]] virtual std::string Name() const = 0;
  // Whether a record whose every byte is a character of the input's code page, as a look at the
  // whole record tells (RecordFraming::MarkCleanRecords), is one KnownClean takes.
  [[nodiscard]] virtual bool CleanAsWholeRecord() const { return true; }
};

// The units of `record` whose characters start in the used ranges of `ranges`, range after
// range.
void AppendRangeText(const DecodedRecord& record, const RangeList& ranges, std::u16string& out);

// The units of `text` whose characters start in 1-based columns [start, start + length): of a
// record, `offsets` its units' byte offsets (field numbers, for a record of fields). Units of
// one character are never parted, as offsets never decrease. Nothing for an empty range.
[[nodiscard]] std::u16string_view FieldText(std::u16string_view text,
                                            std::span<const std::uint32_t> offsets,
                                            std::int32_t start, std::int32_t length);
[[nodiscard]] inline std::u16string_view FieldText(const DecodedRecord& record, std::int32_t start,
                                                   std::int32_t length) {
  return FieldText(record.text, record.offsets, start, length);
}

// Whether the 0-based byte `offset` (field number, for a record of fields) lies in a used range
// of `ranges`. In decoded records an omitted character is left out of the text rather than
// blanked: the same text takes other bytes in another code page, so only its characters can be
// compared.
[[nodiscard]] inline bool InOmitRange(const RangeList& ranges, std::uint32_t offset) {
  const std::uint64_t column = std::uint64_t{offset} + 1;
  for (std::size_t i = 0, used = ranges.UsedPrefix(); i < used; ++i) {
    if (column >= static_cast<std::uint64_t>(ranges[i].Start) &&
        column <= static_cast<std::uint64_t>(ranges[i].End)) {
      return true;
    }
  }
  return false;
}

// `text` without the half-width and full-width blanks at its end, when `trim` (a job that
// leaves padding out); `text` itself otherwise.
[[nodiscard]] std::u16string_view Unpadded(std::u16string_view text, bool trim);

// AppendRangeText for a record of fields, each field's units without the blanks (U+0020,
// U+3000) at their end: a key of several fields whose inputs pad them differently.
void AppendUnpaddedFieldsText(const DecodedRecord& record, const RangeList& ranges,
                              std::u16string& out);

// Appends the key form of a record of fields' key: each field of the ranges (columns are field
// numbers) in the key form, without its padding when `trim`, then 00 00; a NUL in a field is
// 00 01. Fields of any length are told apart so, and keys order as their fields do, field
// after field: ("A", "Z") before ("AB", "C"). A field that holds a number (see
// DecodedRecord::numbers) orders by its value, below every one that is no number: 9 before 10,
// -2 before -1.5.
void AppendFieldsKeyForm(const DecodedRecord& record, const RangeList& ranges, bool trim,
                         std::string& key);

// Appends `text` in the key form (see BuildKey): each UTF-16 unit as UTF-8 encodes a BMP
// character, a surrogate too, so that byte order is code unit order.
void AppendKeyForm(std::u16string_view text, std::string& key);

}  // namespace vesmer
