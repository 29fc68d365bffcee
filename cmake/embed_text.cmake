# Writes the C++ header OUT holding the bytes of the text file IN as the string view NAME, so that
# a text the program needs (a page template) builds into it and is never looked up at run time.
# Run as: cmake -DIN=file -DOUT=header -DNAME=kName -P embed_text.cmake
file(READ "${IN}" text)
set(delimiter "vesmer_text")
string(FIND "${text}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${IN} holds )${delimiter}\", which would end the raw string early")
endif()
get_filename_component(source_name "${IN}" NAME)
set(content "// Made from ${source_name} when building; edit that file, not this one.
#pragma once

#include <string_view>

namespace vesmer::embedded {

inline constexpr std::string_view ${NAME} = R\"${delimiter}(${text})${delimiter}\";

}  // namespace vesmer::embedded
")
# Rewritten only when it changes, so that what includes it is not rebuilt for nothing.
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
  if(old STREQUAL content)
    return()
  endif()
endif()
file(WRITE "${OUT}" "${content}")
