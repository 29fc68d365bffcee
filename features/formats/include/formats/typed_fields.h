// Records of typed fields: each field cut from the record's bytes before anything is decoded,
// numbers (zoned, packed, binary, decimal text) read as exact decimals and shown as their
// canonical text, so that an old and a new system's records compare value against value
// whatever bytes hold the values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/record_text.h"
#include "numbers/number_format.h"

namespace vesmer {

// How one field of a record of byte columns is read.
struct TypedField {
  enum class Kind : std::uint8_t {
    kText,        // characters of the record's code page
    kDoubleByte,  // double-byte characters; in a code page with shifts, with or without them
    kNumber,      // a number of `number`'s type; kText numbers are decoded first
  };
  Kind kind = Kind::kText;
  // Bytes [begin, end) of the record as stored (0-based); kToRecordEnd: up to its end.
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
  NumberFormat number;
  static constexpr std::uint32_t kToRecordEnd = 0xFFFFFFFF;
};

// Records of byte columns of one code page seen as records of fields (offsets are field
// numbers), field i the value of fields[i]:
// - a text field: its bytes decoded on their own, from the code page's initial state, so that a
//   number's byte that happens to be a shift code (0x0E, 0x0F) changes nothing after it; a
//   double-byte field of a code page with shifts that does not open with a shift-out is read as
//   if it did (a host's PIC G field holds no shift codes);
// - a number field: the canonical decimal text of its value (Decimal::ToChars: "-12.5", "0");
//   a field that is no number of its type is shown as its bytes in hexadecimal ("X'00C1'"), so
//   it equals only the same bytes, and is flagged in the record's `numbers` all the same; a
//   number of text that is none keeps its text, quoted where it could be taken for that.
// A record shorter than a field gives what it has of it; a number field it lacks entirely is
// empty and no number. The records are never short.
class TypedBytesCoding final : public RecordCoding {
 public:
  // The fields, not empty, over records of the code page `code_page`; null with `message` (the
  // user's words) when there is no such code page. Zoned digits are EBCDIC's when the code page
  // writes '0' as 0xF0, else ASCII's; the family given in a field's format is not looked at.
  // `byte_order_mark`: the file's first record may open with one (lines of UTF-8), which is then
  // no part of its columns; in records of a fixed length those bytes are data.
  // `layout`: what else tells the records apart besides the fields read (the whole layout of
  // a side whose record holds more): records of one name and the same bytes are the same
  // values, so two sides of other layouts must not share a name.
  [[nodiscard]] static std::unique_ptr<TypedBytesCoding> Open(const std::string& code_page,
                                                              std::vector<TypedField> fields,
                                                              bool byte_order_mark,
                                                              std::string& message,
                                                              std::string layout = {});
  [[nodiscard]] std::unique_ptr<RecordDecoder> NewDecoder() const override;
  [[nodiscard]] std::string Name() const override;
  // Whole records of the code page's characters may still hold fields that are not: a field is
  // decoded on its own, not in the shift state the bytes before it leave.
  [[nodiscard]] bool CleanAsWholeRecord() const override { return false; }

 private:
  TypedBytesCoding(std::string code_page, std::vector<TypedField> fields, bool byte_order_mark,
                   std::string layout)
      : code_page_(std::move(code_page)),
        fields_(std::move(fields)),
        byte_order_mark_(byte_order_mark),
        layout_(std::move(layout)) {}
  std::string code_page_;  // canonical
  std::vector<TypedField> fields_;
  bool byte_order_mark_;
  std::string layout_;
};

// Records of fields made by `inner` (CSV columns), with the fields flagged in `numbers` read as
// decimal text (ParseDecimalText) and shown as the canonical text of their value; one that is
// no number keeps its text, flagged all the same (in quotes when it opens with X' or a quote, so
// that it never equals a field of bytes shown as TypedBytesCoding shows them).
class NumberFieldsCoding final : public RecordCoding {
 public:
  NumberFieldsCoding(std::unique_ptr<RecordCoding> inner, std::vector<std::uint8_t> numbers);
  [[nodiscard]] std::unique_ptr<RecordDecoder> NewDecoder() const override;
  [[nodiscard]] std::string Name() const override;

 private:
  std::unique_ptr<RecordCoding> inner_;
  std::vector<std::uint8_t> numbers_;
};

// Whether the text of a field flagged as a number is a number's canonical text, rather than what
// is shown of a field that is no number.
[[nodiscard]] bool IsNumberText(std::u16string_view text);

}  // namespace vesmer
