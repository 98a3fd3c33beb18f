// A shared library (a .so, or a DLL) with a bundle of its own, and a program
// that links it with or without a bundle: each module must read its own bundle.
#pragma once

#include <cstdint>
#include <string>

#include "raduza/bundle.h"

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

// "NAME " for every file in stored order, and a note for data not on a 4-byte boundary.
inline std::string bundleNames(const raduza::Bundle& bundle) {
    std::string names = bundle.ok() ? "" : std::string("broken: ") + raduza::describe(bundle.error());
    for (const raduza::BundleFile& file : bundle) {
        names += file.utf8Name() + " ";
        if (reinterpret_cast<std::uintptr_t>(file.bytes.data()) % 4 != 0) names += "(misaligned) ";
    }
    return names;
}
