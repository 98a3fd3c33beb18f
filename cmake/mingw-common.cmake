# Shared part of the mingw-w64 toolchain files. The posix thread model gives the
# test framework std::mutex.
set(CMAKE_C_COMPILER ${RADUZA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RADUZA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${RADUZA_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${RADUZA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh 64)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh 32)
endif()
# Every executable carries mingw's own runtime (libgcc, libstdc++, winpthread), so
# it runs on a Windows without mingw's DLLs. Not -static: that would refuse the
# import library of a DLL the program links, where this still links the DLL.
set(CMAKE_EXE_LINKER_FLAGS_INIT
  "-static-libgcc -static-libstdc++ -Wl,--whole-archive -l:libwinpthread.a -Wl,--no-whole-archive")
