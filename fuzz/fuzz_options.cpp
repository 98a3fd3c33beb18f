// The option pass, and the run it leads to, over arbitrary argument vectors on a
// small in-memory tree. The input's first byte picks the path rules; the rest,
// split at NUL bytes, is the argument vector. Every run must end with status 0 or
// 1 as the options decide, and leave a resource file that is absent or whole.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tests/support/fake_run.h"
#include "tests/support/res_reader.h"

namespace {

constexpr std::size_t MAX_INPUT = 4096;

enum class OptionVerdict { RUN, INVALID, MISSING_FILE_NAME, F_WITH_LETTERS, HELP, HELP_OR_VERSION };

// The option pass as the command line documents it, kept apart from the tool's code.
// What the options beyond the original set ask for.
struct Extensions {
    bool updating = false;     // -u
    bool uniqueNames = false;  // -d
    bool otherRecords = false;  // -n
    bool strict = false;        // -w
};

OptionVerdict judgeOptions(const std::vector<std::string>& arguments, const PathRules& rules, bool& optionsOnly,
                           const std::string*& resFile, Extensions& extensions) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool dashed = !argument.empty() && argument[0] == '-';
        if (!dashed && !(rules.slashStartsOption && !argument.empty() && argument[0] == '/')) continue;
        const char option = argument.size() > 1 ? argument[1] : '\0';
        if (argument.size() == 2 && (option == 'u' || option == 'd' || option == 'w')) {
            (option == 'u' ? extensions.updating : option == 'd' ? extensions.uniqueNames : extensions.strict) = true;
            continue;
        }
        if (dashed && (argument == "--help" || argument == "--version")) return OptionVerdict::HELP_OR_VERSION;
        if (argument.size() == 2 && (option == 'x' || option == 'n')) {
            if (i + 1 == arguments.size()) return OptionVerdict::MISSING_FILE_NAME;
            extensions.otherRecords = extensions.otherRecords || option == 'n';
            ++i;
            continue;
        }
        if (option == 'f') {
            if (argument.size() > 2) return OptionVerdict::F_WITH_LETTERS;
            if (i + 1 == arguments.size()) return OptionVerdict::MISSING_FILE_NAME;
            resFile = &arguments[++i];
        } else if (option == 't') {
            optionsOnly = true;
        } else if (option == 'j' || option == 'q' || option == 'r' || option == 'v') {
        } else if (dashed && argument == "-help-undocumented") {
            return OptionVerdict::HELP;
        } else if (!(dashed && (argument == "-show_padding" || argument == "-show_recurs" || argument == "-show_allspecs"))) {
            return OptionVerdict::INVALID;
        }
    }
    return OptionVerdict::RUN;
}

void addTree(FakeFileSystem& fs) {
    fs.addFile("a.gif", "alpha");
    fs.addFile("d/b.txt", "bee");
    fs.addFile("d/sub/c", "");
    fs.addFile("d/.hidden", "h");
    fs.addFile("ro.res", "old", true);
    fs.addLink("d/sub/up", "d");
    fs.addFifo("d/fifo");
    fs.addDirectory("empty");
}

bool startsWith(const std::string& text, const char* prefix) { return text.compare(0, std::strlen(prefix), prefix) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > MAX_INPUT) return 0;
    const PathRules rules = (data[0] & 1) ? WIN32_PATH_RULES : POSIX_PATH_RULES;
    std::vector<std::string> arguments;
    if (size > 1) {
        arguments.emplace_back();
        for (std::size_t i = 1; i < size; ++i) {
            if (data[i] == 0) arguments.emplace_back();
            else arguments.back() += static_cast<char>(data[i]);
        }
    }

    bool optionsOnly = false;
    const std::string* resFile = nullptr;
    Extensions extensions;
    const OptionVerdict verdict = judgeOptions(arguments, rules, optionsOnly, resFile, extensions);

    FakeFileSystem fs;
    addTree(fs);
    const std::string before = resFile ? fs.contentOf(*resFile) : std::string();
    const bool existedBefore = resFile && fs.exists(*resFile);
    const FakeRun run = runOnFake(fs, arguments, rules);

    switch (verdict) {
    case OptionVerdict::INVALID:
        FUZZ_CHECK(run.exitStatus == EXIT_STATUS_FAILED, "an invalid option ends with status 1");
        FUZZ_CHECK(startsWith(run.output, "Invalid option: "), "an invalid option is reported first");
        return 0;
    case OptionVerdict::MISSING_FILE_NAME:
        FUZZ_CHECK(run.exitStatus == EXIT_STATUS_FAILED, "-f without a name ends with status 1");
        FUZZ_CHECK(startsWith(run.output, "Error:  -"), "an option without its argument is reported");
        return 0;
    case OptionVerdict::F_WITH_LETTERS:
        FUZZ_CHECK(run.exitStatus == EXIT_STATUS_FAILED, "-f with letters attached ends with status 1");
        FUZZ_CHECK(run.output.find("write -f and the resource file name as two arguments") != std::string::npos,
                   "-f with letters attached is reported");
        FUZZ_CHECK(!resFile || fs.contentOf(*resFile) == before, "-f with letters attached touches nothing");
        return 0;
    case OptionVerdict::HELP:
        FUZZ_CHECK(run.exitStatus == EXIT_STATUS_OK, "-help-undocumented ends with status 0");
        FUZZ_CHECK(startsWith(run.output, "-show_padding"), "-help-undocumented prints its text");
        return 0;
    case OptionVerdict::HELP_OR_VERSION:
        FUZZ_CHECK(run.exitStatus == EXIT_STATUS_OK, "--help and --version end with status 0");
        FUZZ_CHECK(startsWith(run.output, "Raduza Resource Tool.\n") || startsWith(run.output, "raduza "),
                   "--help and --version print their text");
        return 0;
    case OptionVerdict::RUN:
        break;
    }
    // -w fails a run that warned or stored nothing; any run refuses an input that is its resource file.
    const std::string said = run.output + fs.stderrBytes;
    const bool strictFailure = extensions.strict && (said.find("Error:  -w makes the warnings above fail the run.\n") !=
                                                         std::string::npos ||
                                                     said.find("Error:  Nothing to do!\n") != std::string::npos);
    const bool outputIsInput = said.find(" is the resource file, named as a file to store too; it is left as it was.\n") !=
                               std::string::npos;
    if (arguments.empty() || optionsOnly) {
        FUZZ_CHECK(run.exitStatus == EXIT_STATUS_OK, "a run without output ends with status 0");
        if (resFile) FUZZ_CHECK(fs.contentOf(*resFile) == before, "-t leaves the resource file alone");
        return 0;
    }
    // No resource file of the fake has a record, and -u needs somewhere to keep one.
    if (extensions.otherRecords || (extensions.updating && !resFile)) {
        FUZZ_CHECK(run.exitStatus == EXIT_STATUS_FAILED, "a refused -u or -n ends with status 1");
        FUZZ_CHECK(startsWith(run.output, "Error:  "), "a refused -u or -n is reported first");
        FUZZ_CHECK(!existedBefore || fs.contentOf(*resFile) == before, "a refused run leaves the resource file alone");
        return 0;
    }
    // Standard output may carry the resource file, and the messages then go to standard error.
    const bool duplicate = extensions.uniqueNames && (run.output + fs.stderrBytes).find(" would both be stored as ") !=
                                                         std::string::npos;
    if (!resFile) {
        FUZZ_CHECK(run.exitStatus == EXIT_STATUS_OK || duplicate || strictFailure,
                   "a run to standard output succeeds on the fake");
        return 0;
    }
    if (run.exitStatus == EXIT_STATUS_FAILED) {
        // Only a resource file that cannot be written fails a run that got past its options.
        // Or, with -d, a name two files would share.
        const bool refused = run.output.find(" is not writable.\n") != std::string::npos ||
                             run.output.find("Error:  Could not create ") != std::string::npos || duplicate ||
                             strictFailure || outputIsInput;
        FUZZ_CHECK(refused, "status 1 comes with the reason");
        FUZZ_CHECK(!existedBefore || fs.contentOf(*resFile) == before, "a refused resource file is left alone");
        return 0;
    }
    FUZZ_CHECK(run.exitStatus == EXIT_STATUS_OK, "status 0 or 1");
    if (fs.exists(*resFile)) {
        const FakeFileSystem::Node* node = fs.find(*resFile);
        if (node && node->kind == FakeFileSystem::Kind::FILE) {
            const ResFile file = readResFile(fs.contentOf(*resFile));
            FUZZ_CHECK(file.valid, file.error.c_str());
        }
    }
    return 0;
}
