// The names of a bundle's files on one line, for the module tests.
#pragma once

#include <cstdint>
#include <string>

#include "raduza/bundle.h"

// "NAME " for every file in stored order, and a note for data not on a 4-byte boundary.
inline std::string bundleNames(const raduza::Bundle& bundle) {
    std::string names = bundle.ok() ? "" : std::string("broken: ") + raduza::describe(bundle.error());
    for (const raduza::BundleFile& file : bundle) {
        names += file.utf8Name() + " ";
        if (reinterpret_cast<std::uintptr_t>(file.bytes.data()) % 4 != 0) names += "(misaligned) ";
    }
    return names;
}
