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

// Runs any program (the first element of `commandLine`, a path or a name looked up
// in PATH) in `workDir`. It could not be started when the status is -1 or, on
// POSIX, 127.
ToolResult runProgram(const std::vector<std::string>& commandLine, const std::string& workDir,
                      StdoutMode stdoutMode = StdoutMode::CAPTURED);
