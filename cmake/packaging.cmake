# CPack: a Debian package from the native build, a zip from the Win32 build.
# Both hold what `cmake --install` installs: the tool, its manual page and the
# CMake package. Run `cpack` in the build directory.
set(CPACK_PACKAGE_NAME raduza)
set(CPACK_PACKAGE_VENDOR "The raduza maintainers")
set(RADUZA_PACKAGE_CONTACT "raduza maintainers <maintainers@raduza.invalid>"
  CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT "${RADUZA_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bundle files into a Win32 binary resource file (.res)")
set(CPACK_PACKAGE_DESCRIPTION
  "raduza stores files (images, sounds, any data) in one Win32 binary resource
file, each file one resource of the type RT_RADUZA named after its path, ready
to be linked into a Windows program. It includes a CMake package that bundles a
directory as part of a target's build, also when cross-building Windows
programs on Linux.")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

# The licence goes with every package: the header's users compile it into their programs.
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION share/doc/raduza)
else()
  # Debian's form: the copyright file in machine-readable format, and the changelog, compressed.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" licence_holder "${licence}")
  set(licence_holder "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "^MIT License\n\nCopyright [^\n]*\n\n" "" licence_text "${licence}")
  string(REGEX REPLACE "\n\n" "\n.\n" licence_text "${licence_text}")
  string(REGEX REPLACE "\n([^\n])" "\n \\1" licence_text " ${licence_text}")
  file(WRITE ${PROJECT_BINARY_DIR}/copyright
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: raduza\n\n"
    "Files: *\nCopyright: ${licence_holder}\nLicense: Expat\n${licence_text}")
  configure_file(${PROJECT_SOURCE_DIR}/doc/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
  find_program(RADUZA_GZIP gzip)
  if(RADUZA_GZIP)
    execute_process(COMMAND ${RADUZA_GZIP} -9nc ${PROJECT_BINARY_DIR}/changelog
      OUTPUT_FILE ${PROJECT_BINARY_DIR}/changelog.gz RESULT_VARIABLE gzip_status)
  endif()
  if(NOT RADUZA_GZIP OR NOT gzip_status EQUAL 0)
    message(FATAL_ERROR "gzip is needed to compress the package's changelog")
  endif()
  install(FILES ${PROJECT_BINARY_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION share/doc/raduza)
endif()
# Symbols are for the build tree; the packages carry the tool at its smallest.
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  # raduza-<version>-win32.zip for the shipped 32-bit tool.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  # Dependencies on the C and C++ runtimes, found by dpkg-shlibdeps (dpkg-dev).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
