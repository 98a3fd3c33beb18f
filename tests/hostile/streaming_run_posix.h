// Runs of the real tool whose standard output the test controls: a pipe read at
// the test's own pace, so the tool can be held at a known point while its inputs
// change, or a path such as /dev/full.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/tool_process.h"

class StreamingRun {
public:
    // `launcher` comes before the tool on the command line (such as setpriv and its options).
    StreamingRun(const std::vector<std::string>& arguments, const std::string& workDir,
                 const std::vector<std::string>& launcher = {});
    ~StreamingRun();
    StreamingRun(const StreamingRun&) = delete;
    StreamingRun& operator=(const StreamingRun&) = delete;

    // Reads standard output until `text` has appeared in it (false when it ended first).
    bool readUntil(const std::string& text);
    // Reads until at least `count` bytes have come (false when the output ended first).
    bool readAtLeast(std::size_t count);
    // Reads the rest of both outputs and waits for the tool to end.
    ToolResult finish();
    // Sends `signal` to the tool.
    void signal(int signal);

private:
    bool readSome();

    pid_t child_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string output_;
};

// Runs the tool with standard output opened on `stdoutPath` for writing.
ToolResult runToolWritingTo(const std::vector<std::string>& arguments, const std::string& workDir,
                            const std::string& stdoutPath);
