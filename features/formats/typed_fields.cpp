#include "formats/typed_fields.h"

#include <algorithm>
#include <array>
#include <cassert>

#include "fields_out.h"
#include "formats/code_page.h"
#include "numbers/number_decoders.h"

namespace vesmer {
namespace {

constexpr char kShiftOut = 0x0E;
constexpr char kShiftIn = 0x0F;

// The bytes of `field` in `record`: fewer where the record is shorter, maybe none.
std::string_view Cut(std::string_view record, const TypedField& field) {
  if (field.begin >= record.size()) return {};
  const std::size_t end = std::min<std::size_t>(record.size(), field.end);
  return record.substr(field.begin, end - field.begin);
}

std::size_t FieldLength(const TypedField& field) {
  return field.end == TypedField::kToRecordEnd ? 0 : field.end - field.begin;
}

class TypedBytesDecoder final : public RecordDecoder {
 public:
  TypedBytesDecoder(std::unique_ptr<CodePage> code_page, const std::vector<TypedField>& fields,
                    bool byte_order_mark)
      : code_page_(std::move(code_page)), fields_(fields), byte_order_mark_(byte_order_mark) {
    // What the code page's bytes are: its digits, and whether it shifts into double bytes.
    DecodedText probe;
    family_ = code_page_->Decode("\xF0", probe) == 0 && probe.text() == u"0" ? DigitFamily::kEbcdic
                                                                             : DigitFamily::kAscii;
    shifts_ = code_page_->Decode(std::string_view("\x0E\x0F", 2), probe) == 0 && probe.size() == 0;
    numbers_.resize(fields_.size(), 0);
    for (std::size_t f = 0; f < fields_.size(); ++f) {
      numbers_[f] = fields_[f].kind == TypedField::Kind::kNumber ? 1 : 0;
    }
  }

  DecodedRecord Decode(std::string_view record, bool first_in_file) override {
    return DecodeFields(record, first_in_file, fields_.size(), out_);
  }

  DecodedRecord DecodePrefix(std::string_view record, bool first_in_file,
                             std::size_t bytes) override {
    // Of a record of fields, the first `bytes` columns are its first `bytes` fields.
    // In a buffer of its own: the record Decode gave may still be looked at.
    return DecodeFields(record, first_in_file, std::min(bytes, fields_.size()), prefix_);
  }

  bool KnownClean(std::string_view record, bool first_in_file) override {
    if (first_in_file && byte_order_mark_) record = code_page_->WithoutByteOrderMark(record);
    for (const TypedField& field : fields_) {
      if (field.kind == TypedField::Kind::kNumber && field.number.type != NumberType::kText) {
        continue;  // no characters: a number or not, never undecodable
      }
      const std::string_view bytes = Cut(record, field);
      if (field.kind == TypedField::Kind::kDoubleByte && shifts_ &&
          (bytes.empty() || bytes.front() != kShiftOut)) {
        return false;  // decoded with shifts added
      }
      if (!code_page_->KnownClean(bytes)) return false;
    }
    return true;
  }

 private:
  DecodedRecord DecodeFields(std::string_view record, bool first_in_file, std::size_t count,
                             FieldsOut& out) {
    // Columns count from after a byte order mark, in a file that can have one.
    if (first_in_file && byte_order_mark_) record = code_page_->WithoutByteOrderMark(record);
    out.Clear();
    std::size_t undecodable = 0;
    for (std::size_t f = 0; f < count; ++f) {
      const TypedField& field = fields_[f];
      const auto number = static_cast<std::uint32_t>(f);
      const std::string_view bytes = Cut(record, field);
      switch (field.kind) {
        case TypedField::Kind::kText:
          undecodable += code_page_->Decode(bytes, decoded_);
          out.Append(decoded_.text(), number);
          break;
        case TypedField::Kind::kDoubleByte: {
          if (!shifts_ || bytes.empty() || bytes.front() == kShiftOut) {
            undecodable += code_page_->Decode(bytes, decoded_);
            out.Append(decoded_.text(), number);
            break;
          }
          // Double bytes without their shifts, as a host's PIC G field holds them; a field that
          // does not read so holds characters of one byte (a layout's N over text). Each way
          // into its own buffer, so that neither is decoded twice.
          wrapped_.assign(1, kShiftOut).append(bytes).push_back(kShiftIn);
          const std::size_t shifted = code_page_->Decode(wrapped_, decoded_);
          const std::size_t plain = shifted == 0 ? 0 : code_page_->Decode(bytes, plain_);
          const bool as_plain = shifted != 0 && plain <= shifted;
          undecodable += as_plain ? plain : shifted;
          out.Append(as_plain ? plain_.text() : decoded_.text(), number);
          break;
        }
        case TypedField::Kind::kNumber:
          AppendNumber(field, bytes, number, out);
          break;
      }
    }
    DecodedRecord result = out.Result(undecodable, fields_.size(), false);
    result.numbers = numbers_;
    return result;
  }

  void AppendNumber(const TypedField& field, std::string_view bytes, std::uint32_t number,
                    FieldsOut& out) {
    NumberFormat format = field.number;
    format.family = family_;
    Decimal value;
    if (format.type == NumberType::kText) {
      code_page_->Decode(bytes, decoded_);
      if (ParseDecimalText(decoded_.text(), value)) {
        out.AppendNumber(value, number);
      } else {
        out.AppendNoNumber(decoded_.text(), number);
      }
      return;
    }
    // A record that ends inside the field holds no number of it, even where its first bytes
    // would read as one.
    if (bytes.size() == FieldLength(field) && DecodeNumber(format, bytes, value)) {
      out.AppendNumber(value, number);
    } else {
      out.AppendBytesShown(bytes, number);
    }
  }

  std::unique_ptr<CodePage> code_page_;
  const std::vector<TypedField> fields_;  // a copy: a decoder may outlive its coding
  const bool byte_order_mark_;
  DigitFamily family_ = DigitFamily::kAscii;
  bool shifts_ = false;
  std::vector<std::uint8_t> numbers_;
  FieldsOut out_;
  FieldsOut prefix_;
  DecodedText decoded_;
  DecodedText plain_;  // a double-byte field read without its shifts
  std::string wrapped_;
};

class NumberFieldsDecoder final : public RecordDecoder {
 public:
  NumberFieldsDecoder(std::unique_ptr<RecordDecoder> inner,
                      const std::vector<std::uint8_t>& numbers)
      : inner_(std::move(inner)), numbers_(numbers) {}

  DecodedRecord Decode(std::string_view record, bool first_in_file) override {
    DecodedRecord result = inner_->Decode(record, first_in_file);
    const std::span<const std::uint32_t> offsets = result.offsets;
    out_.Clear();
    for (std::size_t u = 0; u < offsets.size();) {
      const std::uint32_t field = offsets[u];
      const std::size_t from = u;
      while (u < offsets.size() && offsets[u] == field) ++u;
      const std::u16string_view units = result.text.substr(from, u - from);
      Decimal value;
      if (field >= numbers_.size() || numbers_[field] == 0) {
        out_.Append(units, field);
      } else if (ParseDecimalText(units, value)) {
        out_.AppendNumber(value, field);
      } else {
        out_.AppendNoNumber(units, field);
      }
    }
    // The inner record's counts and absent fields hold for its fields as rewritten.
    result.text = out_.text();
    result.offsets = out_.offsets();
    result.numbers = numbers_;
    return result;
  }

  bool KnownClean(std::string_view record, bool first_in_file) override {
    return inner_->KnownClean(record, first_in_file);
  }

 private:
  std::unique_ptr<RecordDecoder> inner_;
  const std::vector<std::uint8_t> numbers_;
  FieldsOut out_;
};

}  // namespace

std::unique_ptr<TypedBytesCoding> TypedBytesCoding::Open(const std::string& code_page,
                                                         std::vector<TypedField> fields,
                                                         bool byte_order_mark, std::string& message,
                                                         std::string layout) {
  assert(!fields.empty());
  std::unique_ptr<CodePage> opened = CodePage::Open(code_page, message);
  if (opened == nullptr) return nullptr;
  return std::unique_ptr<TypedBytesCoding>(
      new TypedBytesCoding(opened->name(), std::move(fields), byte_order_mark, std::move(layout)));
}

std::unique_ptr<RecordDecoder> TypedBytesCoding::NewDecoder() const {
  std::string message;
  return std::make_unique<TypedBytesDecoder>(CodePage::Open(code_page_, message), fields_,
                                             byte_order_mark_);
}

std::string TypedBytesCoding::Name() const {
  std::string name = code_page_ + (byte_order_mark_ ? ",mark" : "") + ",typed=";
  for (const TypedField& f : fields_) {
    name += std::to_string(static_cast<int>(f.kind)) + ':' + std::to_string(f.begin) + '-' +
            std::to_string(f.end);
    if (f.kind == TypedField::Kind::kNumber) {
      name += ':' + std::to_string(static_cast<int>(f.number.type)) + ':' +
              std::to_string(static_cast<int>(f.number.sign)) + ':' +
              std::to_string(f.number.places) + (f.number.blank_when_zero ? ":bz" : "");
    }
    name += '/';
  }
  return layout_.empty() ? name : name + ",layout=" + layout_;
}

NumberFieldsCoding::NumberFieldsCoding(std::unique_ptr<RecordCoding> inner,
                                       std::vector<std::uint8_t> numbers)
    : inner_(std::move(inner)), numbers_(std::move(numbers)) {
  assert(inner_ != nullptr);
}

std::unique_ptr<RecordDecoder> NumberFieldsCoding::NewDecoder() const {
  return std::make_unique<NumberFieldsDecoder>(inner_->NewDecoder(), numbers_);
}

std::string NumberFieldsCoding::Name() const {
  std::string name = inner_->Name() + ",numbers=";
  for (const std::uint8_t n : numbers_) name += n != 0 ? '1' : '0';
  return name;
}

bool IsNumberText(std::u16string_view text) {
  Decimal value;
  return !text.empty() && text.front() != u'X' && ParseDecimalText(text, value);
}

}  // namespace vesmer
