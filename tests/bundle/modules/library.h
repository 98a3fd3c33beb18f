// A shared library (a .so, or a DLL) with a bundle of its own, and a program
// that links it with or without a bundle: each module must read its own bundle.
#pragma once

#if defined(_WIN32) && defined(RADUZA_TEST_BUILDING_LIBRARY)
#define RADUZA_TEST_LIBRARY_API __declspec(dllexport)
#elif defined(_WIN32)
#define RADUZA_TEST_LIBRARY_API __declspec(dllimport)
#else
#define RADUZA_TEST_LIBRARY_API __attribute__((visibility("default")))
#endif

// The names of the files of a bundle, in stored order, each followed by a space.
// Bundle::ofProgram() as the library's code calls it.
extern "C" RADUZA_TEST_LIBRARY_API const char* libraryBundleNames();
// Bundle::ofExecutable() as the library's code calls it.
extern "C" RADUZA_TEST_LIBRARY_API const char* executableBundleNamesSeenByLibrary();
