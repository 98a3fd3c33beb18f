// The fixture of the hostile-tree tests: a scratch directory and the real tool.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/path_rules.h"
#include "tests/support/fixtures.h"
#include "tests/support/res_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

class Hostile : public ::testing::Test {
protected:
    ToolResult run(const std::vector<std::string>& arguments, StdoutMode mode = StdoutMode::CAPTURED) const {
        return runTool(arguments, dir.path(), mode);
    }
    // The resource file as the structural reader sees it; a test fails when it is broken.
    ResFile resFile(const std::string& name = "out.res") const {
        ResFile file = readResFile(dir.readFile(name));
        EXPECT_TRUE(file.valid) << file.error;
        return file;
    }
    static std::string sep() { return std::string(1, PLATFORM_PATH_RULES.separator); }

    TempDir dir;
};
