// Runs the tool's logic on a file system of the tests' choosing, with POSIX path rules.
#pragma once

#include <string>
#include <vector>

#include "driver/raduza.h"
#include "tests/support/fake_file_system.h"

inline int runOn(FileSystem& fs, const std::vector<std::string>& arguments, PathRules rules = POSIX_PATH_RULES) {
    std::vector<std::string> storage{"raduza"};
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : storage) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    RADUza tool(fs, rules);
    return tool.run(static_cast<int>(storage.size()), argv.data());
}

struct FakeRun {
    int exitStatus;
    std::string output;
};

inline FakeRun runOnFake(FakeFileSystem& fs, const std::vector<std::string>& arguments,
                         PathRules rules = POSIX_PATH_RULES) {
    const int status = runOn(fs, arguments, rules);
    return FakeRun{status, fs.stdoutBytes};
}
