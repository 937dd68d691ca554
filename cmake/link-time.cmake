# Link-time optimisation of the grouping path. A case crosses the table
# searches, the grouping steps, the refinement and the batch loop, each in
# files of their own; optimised together at link time, the small functions
# between them are inlined and a case costs about 8 % fewer instructions.
#
# The libraries of that path are compiled to objects that hold both the
# intermediate code and ordinary machine code ("fat" objects): the program
# and the benchmarks are optimised at link time, while the tests and other
# targets link the ordinary code as before and build as fast as they did.
# Only release builds with GCC do this; sanitizer and fuzz builds do not.
option(TALLOW_LTO "Optimise tallow and its benchmarks at link time (GCC release builds)" ON)

set(TALLOW_LTO_ACTIVE OFF)
if(TALLOW_LTO AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_BUILD_TYPE STREQUAL "Release"
   AND NOT TALLOW_SANITIZE)
  set(TALLOW_LTO_ACTIVE ON)
endif()

# A library of the grouping path: fat objects.
function(tallow_lto_library target)
  if(TALLOW_LTO_ACTIVE)
    target_compile_options(${target} PRIVATE -flto=auto -ffat-lto-objects)
  endif()
endfunction()

# An executable optimised at link time with the libraries of the path.
function(tallow_lto_executable target)
  if(TALLOW_LTO_ACTIVE)
    target_compile_options(${target} PRIVATE -flto=auto)
    target_link_options(${target} PRIVATE -flto=auto)
    set_property(TARGET ${target} PROPERTY TALLOW_LTO_LINKED ON)
  endif()
endfunction()

# GCC's linker plugin optimises every link that meets fat objects unless
# told not to: each other executable and shared library of the build links
# their ordinary code. Called once, after every target is defined.
function(tallow_lto_other_links_plain)
  if(NOT TALLOW_LTO_ACTIVE)
    return()
  endif()
  set(directories ${CMAKE_SOURCE_DIR})
  while(directories)
    list(POP_FRONT directories directory)
    get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
    list(APPEND directories ${subdirectories})
    get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      get_target_property(linked ${target} TALLOW_LTO_LINKED)
      if(type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$" AND NOT linked)
        target_link_options(${target} PRIVATE -fno-lto)
      endif()
    endforeach()
  endwhile()
endfunction()
