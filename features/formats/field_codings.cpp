#include "formats/field_codings.h"

#include <algorithm>
#include <cassert>

#include "fields_out.h"

namespace vesmer {
namespace {

class ByteFieldsDecoder final : public RecordDecoder {
 public:
  ByteFieldsDecoder(std::unique_ptr<RecordDecoder> inner, const std::vector<ByteSpan>& spans)
      : inner_(std::move(inner)), spans_(spans) {}

  DecodedRecord Decode(std::string_view record, bool first_in_file) override {
    const DecodedRecord whole = inner_->Decode(record, first_in_file);
    const std::span<const std::uint32_t> offsets = whole.offsets;
    out_.Clear();
    for (std::size_t f = 0; f < spans_.size(); ++f) {
      // Offsets never decrease: the units of a span lie together.
      const auto begin = std::lower_bound(offsets.begin(), offsets.end(), spans_[f].begin);
      const auto end = std::lower_bound(begin, offsets.end(), spans_[f].end);
      out_.Append(whole.text.substr(static_cast<std::size_t>(begin - offsets.begin()),
                                    static_cast<std::size_t>(end - begin)),
                  static_cast<std::uint32_t>(f));
    }
    return out_.Result(whole.undecodable, spans_.size(), false);
  }

 private:
  std::unique_ptr<RecordDecoder> inner_;
  const std::vector<ByteSpan> spans_;
  FieldsOut out_;
};

class SelectedFieldsDecoder final : public RecordDecoder {
 public:
  SelectedFieldsDecoder(std::unique_ptr<RecordDecoder> inner,
                        const std::vector<std::uint32_t>& columns)
      : inner_(std::move(inner)), columns_(columns) {}

  DecodedRecord Decode(std::string_view record, bool first_in_file) override {
    const DecodedRecord whole = inner_->Decode(record, first_in_file);
    const std::span<const std::uint32_t> offsets = whole.offsets;
    out_.Clear();
    bool short_record = whole.short_record;
    for (std::size_t f = 0; f < columns_.size(); ++f) {
      const std::uint32_t column = columns_[f];
      if (column >= whole.fields) {
        short_record = true;  // empty, and differs from any field that is there
        out_.Lack(static_cast<std::uint32_t>(f), columns_.size());
        continue;
      }
      const auto [begin, end] = std::equal_range(offsets.begin(), offsets.end(), column);
      out_.Append(whole.text.substr(static_cast<std::size_t>(begin - offsets.begin()),
                                    static_cast<std::size_t>(end - begin)),
                  static_cast<std::uint32_t>(f));
    }
    return out_.Result(whole.undecodable, columns_.size(), short_record);
  }

 private:
  std::unique_ptr<RecordDecoder> inner_;
  const std::vector<std::uint32_t> columns_;
  FieldsOut out_;
};

}  // namespace

ByteFieldsCoding::ByteFieldsCoding(std::unique_ptr<RecordCoding> inner, std::vector<ByteSpan> spans)
    : inner_(std::move(inner)), spans_(std::move(spans)) {
  assert(inner_ != nullptr && !spans_.empty());
}

std::unique_ptr<RecordDecoder> ByteFieldsCoding::NewDecoder() const {
  return std::make_unique<ByteFieldsDecoder>(inner_->NewDecoder(), spans_);
}

std::string ByteFieldsCoding::Name() const {
  std::string name = inner_->Name() + ",bytes=";
  for (const ByteSpan& span : spans_) {
    name += std::to_string(span.begin) + '-' + std::to_string(span.end) + '/';
  }
  return name;
}

SelectedFieldsCoding::SelectedFieldsCoding(std::unique_ptr<RecordCoding> inner,
                                           std::vector<std::uint32_t> columns)
    : inner_(std::move(inner)), columns_(std::move(columns)) {
  assert(inner_ != nullptr && !columns_.empty());
}

std::unique_ptr<RecordDecoder> SelectedFieldsCoding::NewDecoder() const {
  return std::make_unique<SelectedFieldsDecoder>(inner_->NewDecoder(), columns_);
}

std::string SelectedFieldsCoding::Name() const {
  std::string name = inner_->Name() + ",columns=";
  for (const std::uint32_t column : columns_) name += std::to_string(column) + '/';
  return name;
}

}  // namespace vesmer
