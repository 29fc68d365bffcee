// Text laid out for a terminal: how many columns it takes, and where its lines break, with
// Japanese full-width characters taking two columns.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vesmer {

// The columns a UTF-8 text takes on a terminal: East Asian wide and full-width characters two,
// every other character one. Bytes that are not UTF-8 count one each.
[[nodiscard]] std::size_t DisplayWidth(std::string_view text);

// Breaks a UTF-8 text into lines of at most `width` columns. A '\n' in the text always ends a
// line. Lines break at a space (which is dropped) or between two full-width characters, but
// never before closing punctuation such as 、。）」 nor after opening punctuation such as （「,
// so that a line never starts with a comma or ends with a bracket that opens. A run of
// half-width characters without a space ("--key", "SHA-256") is kept whole unless it alone is
// wider than `width`.
[[nodiscard]] std::vector<std::string> WrapText(std::string_view text, std::size_t width);

}  // namespace vesmer
