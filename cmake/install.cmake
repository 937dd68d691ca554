# Installation: the program, the engine libraries with their headers under
# include/tallow/, a CMake package (find_package(Tallow) -> Tallow::tallow),
# a pkg-config file, the man page, the Python module; and a Debian package
# with `cpack -G DEB`.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The version header, from project(VERSION).
configure_file(${CMAKE_SOURCE_DIR}/cmake/tallow_version.h.in
               ${CMAKE_BINARY_DIR}/generated/tallow_version.h @ONLY)
target_include_directories(tallow_app PUBLIC ${CMAKE_BINARY_DIR}/generated)

# In link order: each library before those it uses.
set(TALLOW_INSTALL_LIBS tallow_app tallow_engine tallow_toolkit tallow_refine tallow_grouper
    tallow_tables)
set(TALLOW_PC_LIBS)
foreach(lib IN LISTS TALLOW_INSTALL_LIBS)
  string(APPEND TALLOW_PC_LIBS " -l${lib}")
endforeach()
string(STRIP "${TALLOW_PC_LIBS}" TALLOW_PC_LIBS)

install(TARGETS tallow RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(lib IN LISTS TALLOW_INSTALL_LIBS)
  install(FILES $<TARGET_FILE:${lib}> DESTINATION ${CMAKE_INSTALL_LIBDIR})
  # The installed libraries hold machine code only: the intermediate code of
  # the link-time build is read by this compiler version alone, and would
  # make every program linked with them be optimised at link time. (Without
  # a strip tool they keep it, and link with this compiler only.)
  if(TALLOW_LTO_ACTIVE AND CMAKE_STRIP)
    install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" -p -R .gnu.lto_* -R .gnu.debuglto_*
        -N __gnu_lto_v1 \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:${lib}>\"
        COMMAND_ERROR_IS_FATAL ANY)")
  endif()
endforeach()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/src/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tallow
        FILES_MATCHING PATTERN "*.h")
install(FILES ${CMAKE_SOURCE_DIR}/include/tallow/tallow.h
              ${CMAKE_BINARY_DIR}/generated/tallow_version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tallow)

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/TallowConfig.cmake.in
  ${CMAKE_BINARY_DIR}/generated/TallowConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Tallow)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/generated/TallowConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/generated/TallowConfig.cmake
              ${CMAKE_BINARY_DIR}/generated/TallowConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Tallow)

# The prefix is found from where the file lies, so the install may move.
file(RELATIVE_PATH TALLOW_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_SOURCE_DIR}/cmake/tallow.pc.in ${CMAKE_BINARY_DIR}/generated/tallow.pc
               @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/generated/tallow.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${CMAKE_SOURCE_DIR}/docs/tallow.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(TARGET tallow_python)
  install(TARGETS tallow_python LIBRARY DESTINATION lib/python3/dist-packages)
endif()

set(CPACK_PACKAGE_NAME tallow)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Batch grouper for hospital inpatient cases")
set(CPACK_PACKAGE_CONTACT "Tallow developers <tallow@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6, libstdc++6, libssl3, libfmt9, nlohmann-json3-dev, libssl-dev, libfmt-dev")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3, python3-pandas")
include(CPack)

# A consumer program built with find_package(Tallow) against an install into
# a temporary prefix.
if(TALLOW_BUILD_TESTS AND NOT TALLOW_SANITIZE)
  add_test(NAME install_consumer
           COMMAND ${CMAKE_SOURCE_DIR}/tests/install/consumer_test.sh ${CMAKE_BINARY_DIR}
                   ${CMAKE_SOURCE_DIR} ${CMAKE_COMMAND} ${CMAKE_CXX_COMPILER})
  set_tests_properties(install_consumer PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
endif()
# The batch as a filter over split input, as Spark and Hadoop run it.
if(TALLOW_BUILD_TESTS)
  add_test(NAME pipe_split
           COMMAND ${CMAKE_SOURCE_DIR}/tests/pipe_split.sh $<TARGET_FILE:tallow>
                   ${CMAKE_BINARY_DIR}/data/demo/tables ${CMAKE_SOURCE_DIR}/data/demo/tallow.in)
endif()
