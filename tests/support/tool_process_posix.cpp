#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/process_posix.h"
#include "tests/support/tool_process.h"

pid_t startProcess(const std::vector<std::string>& commandLine, const std::string& workDir, int stdoutFd,
                   int stderrFd, const std::vector<int>& closeInChild) {
    std::vector<char*> argv;
    for (const std::string& argument : commandLine) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(workDir.c_str()) != 0) ::_exit(127);
        if (stdoutFd == CLOSED_DESCRIPTOR) ::close(STDOUT_FILENO);
        else ::dup2(stdoutFd, STDOUT_FILENO);
        ::dup2(stderrFd, STDERR_FILENO);
        for (int fd : closeInChild) ::close(fd);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return child;
}

std::string drainDescriptor(int fd) {
    std::string bytes;
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    return bytes;
}

int waitForExit(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string toolPath() {
    const char* overridden = std::getenv("RADUZA_TOOL");
    return overridden ? overridden : RADUZA_TOOL_PATH;
}

ToolResult runTool(const std::vector<std::string>& arguments, const std::string& workDir, StdoutMode stdoutMode) {
    std::vector<std::string> commandLine{toolPath()};
    commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
    return runProgram(commandLine, workDir, stdoutMode);
}

ToolResult runProgram(const std::vector<std::string>& commandLine, const std::string& workDir, StdoutMode stdoutMode) {
    int out[2], err[2];
    if (commandLine.empty() || ::pipe(out) != 0 || ::pipe(err) != 0) return {};
    const int stdoutFd = stdoutMode == StdoutMode::CLOSED ? CLOSED_DESCRIPTOR : out[1];
    const pid_t child = startProcess(commandLine, workDir, stdoutFd, err[1], {out[0], out[1], err[0], err[1]});
    ::close(out[1]);
    ::close(err[1]);
    ToolResult result;
    if (stdoutMode == StdoutMode::BROKEN_PIPE) ::close(out[0]);
    else result.output = drainDescriptor(out[0]);
    result.errors = drainDescriptor(err[0]);
    result.exitStatus = waitForExit(child);
    return result;
}
