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
