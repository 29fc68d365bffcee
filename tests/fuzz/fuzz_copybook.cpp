// The copybook reader on arbitrary bytes: no crash; a layout it makes is well formed (fields
// inside the column limit, names unique across fields and groups, the compared fields never
// overlapping) and reads back from its layout-file text as the same compared fields.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "layout/copybook.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckLayout(const vesmer::Layout& layout) {
  Check(!layout.fields.empty());
  std::vector<std::pair<std::int64_t, std::int64_t>> compared;
  for (const vesmer::Field& f : layout.fields) {
    Check(!f.name.empty());
    Check(f.start >= 1 && f.length >= 1);
    Check(std::int64_t{f.start} + f.length - 1 <= std::numeric_limits<std::int32_t>::max());
    Check(layout.Find(f.name) == &f && layout.FindGroup(f.name) == nullptr);
    if (f.Compared()) compared.emplace_back(f.start, std::int64_t{f.start} + f.length);
  }
  for (const vesmer::FieldGroup& g : layout.groups) {
    Check(g.start >= 1 && g.length >= 1 && g.first_field < layout.fields.size());
    Check(layout.FindGroup(g.name) == &g && layout.Find(g.name) == nullptr);
  }
  std::sort(compared.begin(), compared.end());
  for (std::size_t i = 1; i < compared.size(); ++i) {
    Check(compared[i - 1].second <= compared[i].first);
  }
  vesmer::Layout again;
  std::string message;
  const bool read =
      vesmer::ParseLayoutText(vesmer::LayoutText(layout), "/fuzz/b.csv", again, message);
  Check(read == !compared.empty());
  if (!read) return;
  std::size_t j = 0;
  for (const vesmer::Field& f : layout.fields) {
    if (!f.Compared()) continue;
    Check(j < again.fields.size());
    const vesmer::Field& b = again.fields[j++];
    Check(f.name == b.name && f.start == b.start && f.length == b.length && f.type == b.type &&
          f.places == b.places && f.attribute == b.attribute);
  }
  Check(j == again.fields.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)vesmer::LooksLikeCopybook(bytes);
  vesmer::Layout layout;
  std::string message;
  if (vesmer::ParseCopybookText(bytes, "/fuzz/a.cpy", layout, message)) {
    CheckLayout(layout);
  } else {
    Check(layout.fields.empty() && layout.groups.empty() && message.starts_with("★"));
  }
  return 0;
}
