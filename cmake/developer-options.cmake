# Warning flags and sanitizers for every target of the project.
add_library(tallow_warnings INTERFACE)
target_compile_options(tallow_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Wunused -Woverloaded-virtual -Wnull-dereference
  -Wimplicit-fallthrough)
# g++ 12 reports -Wrestrict on ordinary std::string concatenation and insertion
# at -O2 (a false positive of its libstdc++ inlining, fixed in later releases).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(tallow_warnings INTERFACE -Wno-restrict)
endif()
if(TALLOW_WERROR)
  target_compile_options(tallow_warnings INTERFACE -Werror)
endif()

if(TALLOW_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
