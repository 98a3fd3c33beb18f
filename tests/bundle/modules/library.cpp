#define RADUZA_TEST_BUILDING_LIBRARY
#include "tests/bundle/modules/library.h"

const char* libraryBundleNames() {
    static const std::string names = bundleNames(raduza::Bundle::ofProgram());
    return names.c_str();
}

const char* executableBundleNamesSeenByLibrary() {
    static const std::string names = bundleNames(raduza::Bundle::ofExecutable());
    return names.c_str();
}
