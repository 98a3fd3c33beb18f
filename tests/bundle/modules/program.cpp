// Prints what each module reads as its bundle; linked with a bundle of its own or without one.
#include <cstdio>

#include "tests/bundle/modules/library.h"

int main() {
    std::printf("program: %s\nprogram's executable: %s\nlibrary: %s\nlibrary's executable: %s\n",
                bundleNames(raduza::Bundle::ofProgram()).c_str(), bundleNames(raduza::Bundle::ofExecutable()).c_str(),
                libraryBundleNames(), executableBundleNamesSeenByLibrary());
    return 0;
}
