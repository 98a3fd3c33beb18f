// raduza-coff: converts a resource file into a COFF object for GNU linkers.
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "coff/converter.h"

namespace {

enum ExitStatus { STATUS_OK = 0, STATUS_TROUBLE = 1, STATUS_USAGE = 2 };

const char* const USAGE =
    "usage: raduza-coff [-m i386|x86-64] -o OBJECT FILE\n"
    "Converts the resource file FILE into the COFF object OBJECT that GNU linkers\n"
    "(mingw-w64) link, merged with the program's other resource objects. Exits with\n"
    "status 1, and writes nothing, when FILE is not a valid resource file.\n"
    "  -m MACHINE  i386 for 32-bit Windows (the default), x86-64 for 64-bit Windows\n"
    "  -o OBJECT   the object to write\n";

std::optional<CoffMachine> machineNamed(const std::string& name) {
    if (name == "i386") return CoffMachine::I386;
    if (name == "x86-64" || name == "x86_64") return CoffMachine::AMD64;
    return std::nullopt;
}

// The request, or nothing when the arguments are not as USAGE says.
std::optional<ConversionRequest> parseOptions(int argc, char** argv) {
    ConversionRequest request;
    std::optional<std::string> output;
    std::optional<CoffMachine> machine;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument.empty() || argument[0] != '-') {
            files.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "-o" && i + 1 < argc && !output) {
            output = argv[++i];
        } else if (argument == "-m" && i + 1 < argc && !machine) {
            machine = machineNamed(argv[++i]);
            if (!machine) return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (files.size() != 1 || !output || output->empty()) return std::nullopt;
    request.input = files[0];
    request.output = *output;
    request.machine = machine.value_or(CoffMachine::I386);
    return request;
}

int run(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help")) {
        std::fputs(USAGE, stdout);
        return STATUS_OK;
    }
    const std::optional<ConversionRequest> request = parseOptions(argc, argv);
    if (!request) {
        std::fputs(USAGE, stderr);
        return STATUS_USAGE;
    }
    std::string messages;
    const int status = convertToObject(realFileSystem(), *request, messages);
    std::fputs(messages.c_str(), stderr);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "raduza-coff: %s\n", failure.what());
        return STATUS_TROUBLE;
    }
}
