// raduza-list: lists the entries of a resource file, checks its structure, and
// extracts its RT_RADUZA resources as a tree of files.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "lister/lister.h"
#include "raduza/bundle.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

enum ExitStatus { STATUS_OK = 0, STATUS_TROUBLE = 1, STATUS_USAGE = 2 };

const char* const USAGE =
    "usage: raduza-list [-x DIR] FILE\n"
    "Lists the resources in FILE ('-' reads standard input), one a line: size, name,\n"
    "and the type when it is not RT_RADUZA. FILE is a resource file, a PE executable\n"
    "or DLL, or an ELF program or shared library with an embedded bundle. Exits with\n"
    "status 1 when FILE is not valid.\n"
    "  -x DIR  extract the RT_RADUZA resources as files below DIR instead of listing\n";

struct Options {
    std::string file;
    std::optional<std::string> extractTo;
};

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
            files.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "-x" && i + 1 < argc && !options.extractTo) {
            options.extractTo = argv[++i];
        } else {
            return std::nullopt;
        }
    }
    if (files.size() != 1) return std::nullopt;
    options.file = files[0];
    return options;
}

// The file's bytes, or the system's words for why they could not be read.
std::optional<std::string> readAll(const std::string& file, std::string& reason) {
    std::FILE* in = stdin;
    if (file == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);  // the bytes as they are, no CR LF translation
#endif
    } else if (!(in = std::fopen(file.c_str(), "rb"))) {
        reason = std::strerror(errno);
        return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes.append(buffer, got);
    const bool failed = std::ferror(in) != 0;
    if (failed) reason = std::strerror(errno);
    if (in != stdin) std::fclose(in);
    if (failed) return std::nullopt;
    return bytes;
}

int reportBroken(const std::string& file, const std::string& bytes, raduza::BundleError error, std::size_t offset) {
    std::fprintf(stderr, "raduza-list: %s: not a valid %s: %s (at offset %zu)\n", file.c_str(),
                 raduza::describe(raduza::programKindOf(bytes.data(), bytes.size())), raduza::describe(error), offset);
    return STATUS_TROUBLE;
}

int listEntries(const std::string& file, const std::string& bytes) {
    const raduza::WalkOutcome outcome =
        raduza::walkProgramResources(bytes.data(), bytes.size(), [](const raduza::ResourceEntry& entry) {
            std::printf("%s\n", listingLine(entry).c_str());
        });
    std::fflush(stdout);
    if (outcome.error != raduza::BundleError::NONE) return reportBroken(file, bytes, outcome.error, outcome.offset);
    return STATUS_OK;
}

void warnUnnamed(const raduza::ResourceEntry& entry) {
    if (entry.name.isOrdinal())
        std::fprintf(stderr, "raduza-list: warning: not extracting #%u (at offset %zu): it has a number, not a name\n",
                     static_cast<unsigned>(entry.name.ordinal()), entry.offset);
    else
        std::fprintf(stderr, "raduza-list: warning: not extracting the resource at offset %zu: its name is empty\n",
                     entry.offset);
}

// Every RT_RADUZA file that a lookup would find, in name order; a resource that
// names no file and a refused name are reported and skipped, and make the status 1.
int extractEntries(const std::string& file, const std::string& bytes, const std::string& directory) {
    const raduza::Bundle bundle = raduza::Bundle::fromProgramImage(bytes.data(), bytes.size());
    if (!bundle.ok()) return reportBroken(file, bytes, bundle.error(), bundle.errorOffset());
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (!std::filesystem::is_directory(directory, error)) {
        std::fprintf(stderr, "raduza-list: cannot create the directory %s\n", directory.c_str());
        return STATUS_TROUBLE;
    }
    const std::size_t unnamed = findUnnamed(bytes.data(), bytes.size(), warnUnnamed);
    const std::size_t refused =
        extractAll(bundle, directory, [](const raduza::BundleFile& stored, const Extracted& extracted) {
            std::fprintf(stderr, "raduza-list: warning: not extracting %s: %s\n", printableName(stored.name).c_str(),
                         describe(extracted).c_str());
        });
    return unnamed + refused == 0 ? STATUS_OK : STATUS_TROUBLE;
}

int run(int argc, char** argv) {
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        std::fputs(USAGE, stderr);
        return STATUS_USAGE;
    }
    std::string reason;
    const std::optional<std::string> bytes = readAll(options->file, reason);
    if (!bytes) {
        std::fprintf(stderr, "raduza-list: cannot read %s: %s\n", options->file.c_str(), reason.c_str());
        return STATUS_TROUBLE;
    }
    if (options->extractTo) return extractEntries(options->file, *bytes, *options->extractTo);
    return listEntries(options->file, *bytes);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "raduza-list: %s\n", failure.what());
        return STATUS_TROUBLE;
    }
}
