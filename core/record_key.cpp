#include "core/record_key.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "platform/cp932.h"
#include "platform/fast_paths.h"

namespace vesmer {
namespace {

// The bytes of `line` from 1-based `start`, `end - start + 1` of them, fewer or none where the
// line is shorter.
std::string_view Slice(std::string_view line, std::int32_t start, std::int32_t end) {
  const auto first = static_cast<std::uint64_t>(start) - 1;
  if (first >= line.size()) return {};
  const auto length = static_cast<std::uint64_t>(end) - static_cast<std::uint64_t>(start) + 1;
  const std::size_t rest = line.size() - static_cast<std::size_t>(first);
  return std::string_view(line.data() + first,
                          static_cast<std::size_t>(std::min<std::uint64_t>(length, rest)));
}

}  // namespace

std::string_view KeyLineBytes(std::string_view raw, const RangeList& ranges, std::string& scratch) {
  std::int32_t last = 0;
  for (std::size_t i = 0, n = ranges.UsedPrefix(); i < n; ++i) last = std::max(last, ranges[i].End);
  const std::string_view prefix(raw.data(),
                                std::min<std::size_t>(raw.size(), static_cast<std::size_t>(last)));
  return cp932::RoundTrips(prefix) ? raw : cp932::Canonical(raw, scratch);
}

void BuildKey(std::string_view line_bytes, const RangeList& ranges, std::string& key) {
  key.clear();
  const std::size_t used = ranges.UsedPrefix();
  for (std::size_t i = 0; i < used; ++i)
    key.append(Slice(line_bytes, ranges[i].Start, ranges[i].End));
  if (cp932::IsAscii(key)) return;
  key.clear();
  for (std::size_t i = 0; i < used; ++i) {
    cp932::DecodeAppendUtf8(Slice(line_bytes, ranges[i].Start, ranges[i].End), key);
  }
}

void KeyBuilder::Reset() {
  used_ = ranges_.UsedPrefix();
  last_ = 0;
  for (std::size_t i = 0; i < used_; ++i) {
    last_ = std::max(last_, static_cast<std::size_t>(ranges_[i].End));
  }
  if (used_ > 0) {
    first_start_ = static_cast<std::size_t>(ranges_[0].Start) - 1;
    first_length_ = static_cast<std::size_t>(ranges_[0].End) - first_start_;
  }
}

void KeyBuilder::BuildAny(std::string_view raw, KeyText& key, std::string& scratch) const {
  const std::string_view prefix(raw.data(), std::min(raw.size(), last_));
  if (!kFastPaths || !cp932::IsAscii(prefix)) {
    BuildKey(KeyLineBytes(raw, ranges_, scratch), ranges_, key.Long());
    return;
  }
  // ASCII comes back unchanged from a decode and encode, and is its own key form.
  if (used_ == 1) {
    const std::size_t have = prefix.size() > first_start_ ? prefix.size() - first_start_ : 0;
    key.Assign(have == 0
                   ? std::string_view()
                   : std::string_view(prefix.data() + first_start_, std::min(have, first_length_)));
    return;
  }
  std::string& joined = key.Long();
  joined.clear();
  for (std::size_t i = 0; i < used_; ++i) {
    joined.append(Slice(prefix, ranges_[i].Start, ranges_[i].End));
  }
  if (joined.size() <= 16) key.Assign(std::string_view(joined));  // out of the string
}

void KeyBuilder::BuildFromText(const DecodedRecord& record, KeyText& key) const {
  std::string& form = key.Long();
  form.clear();
  if (record.fields != 0) {
    AppendFieldsKeyForm(record, ranges_, trim_padding_, form);
  } else {
    // The units of the ranges go into the key form as they are, range after range.
    const std::span<const std::uint32_t> offsets = record.offsets;
    for (std::size_t i = 0; i < used_; ++i) {
      const auto first = static_cast<std::uint32_t>(ranges_[i].Start - 1);
      const auto last = static_cast<std::uint32_t>(ranges_[i].End - 1);
      const auto begin = std::lower_bound(offsets.begin(), offsets.end(), first);
      const auto end = std::upper_bound(begin, offsets.end(), last);
      AppendKeyForm(record.text.substr(static_cast<std::size_t>(begin - offsets.begin()),
                                       static_cast<std::size_t>(end - begin)),
                    form);
    }
  }
  if (form.size() <= 16) key.Assign(std::string_view(form));  // out of the string
  if (trim_padding_ && record.fields == 0) TrimPadding(key);
}

void KeyBuilder::BuildOfCleanRecord(RecordDecoder& decoder, std::string_view record,
                                    bool first_in_file, KeyText& key) const {
  std::string& form = key.Long();
  form.clear();
  if (!decoder.AppendKeyFormOfBytes(record, first_in_file, ranges_, last_, form)) {
    BuildFromText(decoder.DecodePrefix(record, first_in_file, last_), key);
    return;
  }
  if (form.size() <= 16) key.Assign(std::string_view(form));  // out of the string
  if (trim_padding_) TrimPadding(key);
}

void KeyBuilder::TrimPadding(KeyText& key) {
  // The key form is ASCII or UTF-8, where a U+3000 is always these three bytes.
  std::string_view v = key.view();
  for (;;) {
    if (v.ends_with(' ')) {
      v.remove_suffix(1);
    } else if (v.ends_with("\xE3\x80\x80")) {
      v.remove_suffix(3);
    } else {
      break;
    }
  }
  if (v.size() == key.view().size()) return;
  if (v.size() > 16) {
    key.Long().resize(v.size());  // a key this long lives in its string
    return;
  }
  char kept[16];
  if (!v.empty()) std::memcpy(kept, v.data(), v.size());
  key.Assign(std::string_view(kept, v.size()));
}

}  // namespace vesmer
