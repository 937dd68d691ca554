# Warning flags and sanitizers for every target of the project.
add_library(tallow_warnings INTERFACE)
target_compile_options(tallow_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Wunused -Woverloaded-virtual -Wnull-dereference
  -Wimplicit-fallthrough)
if(TALLOW_WERROR)
  target_compile_options(tallow_warnings INTERFACE -Werror)
endif()

if(TALLOW_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
