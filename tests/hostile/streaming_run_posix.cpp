#include "tests/hostile/streaming_run_posix.h"

#include "tests/support/process_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t startTool(const std::vector<std::string>& arguments, const std::string& workDir, int stdoutFd, int stderrFd,
                const std::vector<int>& closeInChild, const std::vector<std::string>& launcher = {}) {
    std::vector<std::string> commandLine = launcher;
    commandLine.push_back(toolPath());
    commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
    return startProcess(commandLine, workDir, stdoutFd, stderrFd, closeInChild);
}

}  // namespace

StreamingRun::StreamingRun(const std::vector<std::string>& arguments, const std::string& workDir,
                           const std::vector<std::string>& launcher) {
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) return;
    child_ = startTool(arguments, workDir, out[1], err[1], {out[0], out[1], err[0], err[1]}, launcher);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
}

StreamingRun::~StreamingRun() {
    if (child_ > 0) (void)finish();
}

bool StreamingRun::readSome() {
    char buffer[65536];
    const ssize_t got = ::read(out_, buffer, sizeof buffer);
    if (got <= 0) return false;
    output_.append(buffer, static_cast<std::size_t>(got));
    return true;
}

bool StreamingRun::readUntil(const std::string& text) {
    while (output_.find(text) == std::string::npos)
        if (!readSome()) return false;
    return true;
}

bool StreamingRun::readAtLeast(std::size_t count) {
    while (output_.size() < count)
        if (!readSome()) return false;
    return true;
}

void StreamingRun::signal(int signal) { ::kill(child_, signal); }

ToolResult StreamingRun::finish() {
    ToolResult result;
    if (child_ <= 0) return result;
    result.output = output_ + drainDescriptor(out_);
    result.errors = drainDescriptor(err_);
    result.exitStatus = waitForExit(child_);
    child_ = -1;
    return result;
}

ToolResult runToolWritingTo(const std::vector<std::string>& arguments, const std::string& workDir,
                            const std::string& stdoutPath) {
    ToolResult result;
    int err[2];
    const int target = ::open(stdoutPath.c_str(), O_WRONLY);
    if (target < 0 || ::pipe(err) != 0) return result;
    const pid_t child = startTool(arguments, workDir, target, err[1], {target, err[0], err[1]});
    ::close(target);
    ::close(err[1]);
    result.errors = drainDescriptor(err[0]);
    result.exitStatus = waitForExit(child);
    return result;
}
