// The UTF-8 input conversion on arbitrary bytes cut at arbitrary read edges: the direct encoder
// and the conversion's streaming loop give byte for byte what the character-by-character path
// gives for the whole input, and never write past the room they ask for.
//
// Input layout: the low six bits of byte 0 pick the read chunk (1 to 63 bytes, or 4096 for 63:
// the loop does not care how large a chunk is, and 1 MiB buffers would slow every run down), its
// top two bits how many of the following bytes (0 to 3) are read sizes, used in turn;
// the rest is the text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/utf8_input.h"
#include "platform/cp932.h"
#include "tests/support/utf8_reference.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t chunk = (data[0] & 0x3F) == 0x3F ? 4096 : 1 + (data[0] & 0x3F);
  const std::size_t size_count = std::min<std::size_t>(data[0] >> 6, size - 1);
  std::vector<std::size_t> sizes;
  for (std::size_t i = 0; i < size_count; ++i) sizes.push_back(data[1 + i]);
  if (sizes.empty()) sizes.push_back(chunk);
  const std::string text(reinterpret_cast<const char*>(data) + 1 + size_count,
                         size - 1 - size_count);

  // The encoder alone, on the whole text, in exactly the room it asks for.
  const std::string whole = vesmer::testing::ReferenceUtf8ToCp932(text);
  {
    auto room = std::make_unique<char[]>(vesmer::cp932::Utf8ToCp932MaxBytes(text.size()));
    std::size_t written = 0;
    Check(vesmer::cp932::Utf8ToCp932(text, room.get(), written, true) == text.size());
    Check(std::string_view(room.get(), written) == whole);
  }
  // The encoder on two pieces cut at the first read size, the unused tail carried over.
  {
    const std::size_t cut = std::min(sizes[0], text.size());
    std::string out;
    const std::size_t used =
        vesmer::cp932::Utf8ToCp932Append(std::string_view(text).substr(0, cut), out, false);
    Check(used <= cut && cut - used <= 3);
    const std::string_view rest = std::string_view(text).substr(used);
    Check(vesmer::cp932::Utf8ToCp932Append(rest, out, true) == rest.size());
    Check(out == whole);
  }
  // The conversion's loop, its reads cut at the given sizes (a read of 0 bytes would end the
  // stream, so a size of 0 reads one byte).
  std::size_t at = 0;
  std::size_t turn = 0;
  std::string out;
  const vesmer::Status s = vesmer::detail::TranscodeUtf8(
      [&](char* buffer, std::size_t capacity) -> ssize_t {
        const std::size_t want = std::max<std::size_t>(sizes[turn++ % sizes.size()], 1);
        const std::size_t n = std::min({want, capacity, text.size() - at});
        std::memcpy(buffer, text.data() + at, n);
        at += n;
        return static_cast<ssize_t>(n);
      },
      [&out](std::string_view bytes) {
        out += bytes;
        return vesmer::Status{};
      },
      chunk);
  Check(s.ok());
  Check(out == vesmer::testing::ReferenceUtf8InputConversion(text));
  return 0;
}
