// Inside the code pages: the decoders built on ICU, opened by code_page.cpp.
#pragma once

#include <memory>
#include <string>

#include "formats/code_page.h"

namespace vesmer::code_page_internal {

// Opens ICU's converter `name` (not empty, no NUL) as a code page; nullptr when ICU has none by
// that name. The code pages this program was made for take their short names ("ibm-930"),
// whichever of their names was given; others ICU's name ("ibm-37_P100-1995").
[[nodiscard]] std::unique_ptr<CodePage> OpenIcu(const std::string& name);

// True when `a` and `b` are the same converter name as ICU compares them: case, '-', '_' and
// blanks aside.
[[nodiscard]] bool SameConverterName(const char* a, const char* b);

}  // namespace vesmer::code_page_internal
