// Starting and reaping child processes on POSIX, shared by the test runners.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

inline constexpr int CLOSED_DESCRIPTOR = -1;

// Starts `commandLine` (a path, or a name looked up in PATH) in `workDir` with the
// given standard output (CLOSED_DESCRIPTOR closes it) and standard error, closing
// `closeInChild` in the child. The parent's ends of any pipes are the caller's.
pid_t startProcess(const std::vector<std::string>& commandLine, const std::string& workDir, int stdoutFd,
                   int stderrFd, const std::vector<int>& closeInChild);

// Reads `fd` to its end, then closes it.
std::string drainDescriptor(int fd);

// Waits for `child`; its exit status, or 128 + the signal that ended it.
int waitForExit(pid_t child);
