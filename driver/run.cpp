// The run: option pass, output and leading entry, spec pass, end of run.
#include <cstring>

#include "driver/raduza.h"

namespace {

// The console needs room for messages only, unless it also carries the resource file.
constexpr std::size_t CONSOLE_CAPACITY = OutputBuffer::DEFAULT_CAPACITY;

bool startsOption(const char* argument, const PathRules& rules) {
    return argument[0] == '-' || (rules.slashStartsOption && argument[0] == '/');
}

}  // namespace

RADUza::RADUza(FileSystem& fileSystem, PathRules rules)
    : fs_(fileSystem), rules_(rules), console_(fileSystem.standardOutput(), CONSOLE_CAPACITY) {}

int RADUza::run(int argc, char** argv) {
    int exitStatus = EXIT_STATUS_OK;
    if (argc <= 1) {
        usage();
        return endRun();
    }
    if (!optionPass(argc, argv, exitStatus)) return exitStatus;
    if (isSet(OPT_OPTIONS_ONLY)) return endRun();

    initHeader();
    hdr.MemoryFlags = 0;
    hdr.LanguageId = 0;
    if (!openOutput(exitStatus)) return exitStatus;
    writeHeader();
    (void)checkOutput();

    for (int i = 1; i < argc && !halted_; ++i) {
        if (argv[i] == nullptr) continue;
        if (isSet(OPT_SHOW_ALLSPECS)) msg(MSG_SPEC, argv[i]);
        doSpec(argv[i]);
    }
    return endRun();
}

// Sets the option flags and takes the resource file name, clearing the slots of
// every recognised option. False when the run must end at once with `exitStatus`.
bool RADUza::optionPass(int argc, char** argv, int& exitStatus) {
    for (int i = 1; i < argc; ++i) {
        char* argument = argv[i];
        if (!startsOption(argument, rules_)) continue;
        const bool dashed = argument[0] == '-';
        switch (argument[1]) {
        case 'f':
            if (i + 1 >= argc) {
                msg(MSG_MISSING_FILE_NAME);
                usage();
                exitStatus = EXIT_STATUS_FAILED;
                return false;
            }
            resFile = argv[i + 1];
            argv[i] = nullptr;
            argv[++i] = nullptr;
            continue;
        case 'j': options |= OPT_JUNK; break;
        case 'q': options |= OPT_QUIET; break;
        case 'r': options |= OPT_RECURSE; break;
        case 't': options |= OPT_OPTIONS_ONLY; break;
        case 'v': options |= OPT_VERBOSE; break;
        case 'h':
            if (dashed && std::strcmp(argument, "-help-undocumented") == 0) {
                moreUsage();
                exitStatus = EXIT_STATUS_OK;
                return false;
            }
            [[fallthrough]];
        case 's':
            if (dashed && std::strcmp(argument, "-show_padding") == 0) options |= OPT_SHOW_PADDING;
            else if (dashed && std::strcmp(argument, "-show_recurs") == 0) options |= OPT_SHOW_RECURS;
            else if (dashed && std::strcmp(argument, "-show_allspecs") == 0) options |= OPT_SHOW_ALLSPECS;
            else return rejectOption(argument[1], exitStatus);
            break;
        default: return rejectOption(argument[1], exitStatus);
        }
        argv[i] = nullptr;
    }
    return true;
}

bool RADUza::rejectOption(char option, int& exitStatus) {
    msg(MSG_BAD_OPTION, option);
    usage();
    exitStatus = EXIT_STATUS_FAILED;
    return false;
}

// Makes `out` the resource file or standard output. False when the run must end.
bool RADUza::openOutput(int& exitStatus) {
    if (!resFile) {
        out = &console_;
        return true;
    }
    const std::optional<PathStatus> status = fs_.queryPath(*resFile);
    if (status && status->readOnly) {
        msg(MSG_NOT_WRITABLE, resFile->c_str());
        exitStatus = EXIT_STATUS_FAILED;
        return false;
    }
    resourceFile_ = fs_.createOutput(*resFile);
    if (!resourceFile_) {
        msg(MSG_CANNOT_CREATE, resFile->c_str());
        exitStatus = EXIT_STATUS_FAILED;
        return false;
    }
    outputId_ = resourceFile_->id();
    resourceBuffer_ = std::make_unique<OutputBuffer>(*resourceFile_);
    out = resourceBuffer_.get();
    return true;
}

// After a failed output, the partial file this run created is removed so that no
// build picks up a truncated resource file. Only a regular file is removed: a
// device such as /dev/null named with -f is never deleted.
int RADUza::endRun() {
    const bool failed = halted_;
    if ((failed || (stored & 1) == 0) && resourceFile_) {
        resourceBuffer_.reset();
        resourceFile_.reset();
        out = nullptr;
        if (outputId_) (void)fs_.removeFile(*resFile);
    }
    if (failed) return EXIT_STATUS_FAILED;
    if ((stored & 1) == 0 && !isSet(OPT_QUIET)) msg(MSG_NOTHING_TO_DO);
    return EXIT_STATUS_OK;
}

// Flushes the output; on failure reports it once and halts the run.
bool RADUza::checkOutput() {
    if (halted_) return false;
    if (out->flush()) return true;
    halted_ = true;
    msg(MSG_WRITE_FAILED, resFile ? resFile->c_str() : "standard output");
    return false;
}
