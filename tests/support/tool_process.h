// Runs the real raduza binary in a directory and captures what it printed.
#pragma once

#include <string>
#include <vector>

struct ToolResult {
    int exitStatus = -1;
    std::string output;  // standard output, byte for byte
    std::string errors;  // standard error
};

enum class StdoutMode { CAPTURED, CLOSED, BROKEN_PIPE };

// The path of the raduza executable under test.
std::string toolPath();

ToolResult runTool(const std::vector<std::string>& arguments, const std::string& workDir,
                   StdoutMode stdoutMode = StdoutMode::CAPTURED);
