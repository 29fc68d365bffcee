// The code page 932 decoder on arbitrary bytes: no crash, never more units than bytes, the
// canonical form is stable, and the quick round-trip test agrees with the slow one.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/cp932.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string text = vesmer::cp932::Decode(bytes);
  if (text.size() > bytes.size()) std::abort();
  const std::string encoded = vesmer::cp932::Encode(text);
  if (vesmer::cp932::RoundTrips(bytes) != (encoded == bytes)) std::abort();
  std::string scratch;
  if (vesmer::cp932::Canonical(bytes, scratch) != encoded) std::abort();
  if (!vesmer::cp932::RoundTrips(encoded)) std::abort();
  return 0;
}
