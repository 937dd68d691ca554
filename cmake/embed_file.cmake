# cmake -DIN=FILE -DOUT=SOURCE -DFUNCTION=NAME -P embed_file.cmake
# Writes a C++ source whose function tallow::app::NAME() returns the bytes of
# FILE as a std::string_view, so the program carries the file in itself.
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n  " bytes "${bytes}")
get_filename_component(name "${IN}" NAME)
file(WRITE "${OUT}.tmp"
"// Made from ${name} by cmake/embed_file.cmake; edit that file, not this one.
#include <string_view>

namespace tallow::app {
namespace {
constexpr unsigned char kBytes[] = {
  ${bytes}0x00};
}  // namespace

std::string_view ${FUNCTION}() {
  return {reinterpret_cast<const char*>(kBytes), ${size}};
}

}  // namespace tallow::app
")
file(RENAME "${OUT}.tmp" "${OUT}")
