# Writes a C++ source holding the bytes of the PEM bundle INPUT as the
# library's compiled-in roots. Run at build time:
#   cmake -DINPUT=<bundle.pem> -DOUTPUT=<file.cpp> -P embed_roots.cmake
if(NOT EXISTS "${INPUT}")
  message(FATAL_ERROR "Root certificate bundle not found: ${INPUT}")
endif()
file(READ "${INPUT}" pem)
string(FIND "${pem}" "-----BEGIN CERTIFICATE-----" first)
if(first EQUAL -1)
  message(FATAL_ERROR "No PEM certificate in ${INPUT}")
endif()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
# Sixteen bytes to a line.
string(REGEX REPLACE "([0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f])"
       "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")

file(WRITE "${OUTPUT}.tmp"
"// Generated at build time from ${INPUT}; do not edit.
#include <string_view>

#include \"core/http/trusted_roots.hpp\"

namespace zephlar::http {
namespace {

const unsigned char roots[${size}] = {
${bytes}
};

}  // namespace

std::string_view compiled_in_roots() noexcept {
  return std::string_view(reinterpret_cast<const char*>(roots), sizeof roots);
}

}  // namespace zephlar::http
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
