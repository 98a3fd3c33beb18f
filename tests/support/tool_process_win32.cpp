#include <windows.h>

#include <thread>

#include "tests/support/tool_process.h"

namespace {

// Quotes one argument by the rules the C runtime uses to split a command line.
std::string quoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

std::string drain(HANDLE handle) {
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(handle, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(handle);
    return bytes;
}

}  // namespace

std::string toolPath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(2 * path.size());
    }
    return path.substr(0, path.find_last_of("\\/") + 1) + "raduza.exe";
}

ToolResult runTool(const std::vector<std::string>& arguments, const std::string& workDir, StdoutMode stdoutMode) {
    std::vector<std::string> commandLine{toolPath()};
    commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
    return runProgram(commandLine, workDir, stdoutMode);
}

ToolResult runProgram(const std::vector<std::string>& arguments, const std::string& workDir, StdoutMode stdoutMode) {
    if (arguments.empty()) return {};
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    CreatePipe(&outRead, &outWrite, &inherit, 0);
    CreatePipe(&errRead, &errWrite, &inherit, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

    std::string commandLine = quoteArgument(arguments[0]);
    for (std::size_t i = 1; i < arguments.size(); ++i) commandLine += " " + quoteArgument(arguments[i]);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = stdoutMode == StdoutMode::CLOSED ? nullptr : outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process{};
    ToolResult result;
    const BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        workDir.c_str(), &startup, &process);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (!started) {
        CloseHandle(outRead);
        CloseHandle(errRead);
        return result;
    }
    if (stdoutMode == StdoutMode::BROKEN_PIPE) CloseHandle(outRead);
    std::string errors;
    std::thread errorReader([&] { errors = drain(errRead); });
    if (stdoutMode != StdoutMode::BROKEN_PIPE) result.output = drain(outRead);
    errorReader.join();
    result.errors = errors;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.exitStatus = static_cast<int>(code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return result;
}
