#include "tests/hostile/streaming_run_posix.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string drain(int fd) {
    std::string bytes;
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    return bytes;
}

// Starts the tool in `workDir` with the given standard output and error; the parent's
// ends of any pipes are the caller's to close.
pid_t startTool(const std::vector<std::string>& arguments, const std::string& workDir, int stdoutFd, int stderrFd,
                const std::vector<int>& closeInChild) {
    const std::string tool = toolPath();
    std::vector<char*> argv{const_cast<char*>(tool.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(workDir.c_str()) != 0) ::_exit(127);
        ::dup2(stdoutFd, STDOUT_FILENO);
        ::dup2(stderrFd, STDERR_FILENO);
        for (int fd : closeInChild) ::close(fd);
        ::execv(tool.c_str(), argv.data());
        ::_exit(127);
    }
    return child;
}

int waitFor(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

StreamingRun::StreamingRun(const std::vector<std::string>& arguments, const std::string& workDir) {
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) return;
    child_ = startTool(arguments, workDir, out[1], err[1], {out[0], out[1], err[0], err[1]});
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

ToolResult StreamingRun::finish() {
    ToolResult result;
    if (child_ <= 0) return result;
    result.output = output_ + drain(out_);
    result.errors = drain(err_);
    result.exitStatus = waitFor(child_);
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
    result.errors = drain(err[0]);
    result.exitStatus = waitFor(child);
    return result;
}
