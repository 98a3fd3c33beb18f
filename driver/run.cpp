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
    : fs_(fileSystem), rules_(rules), walk_(fileSystem, rules_, *this),
      console_(fileSystem.standardOutput(), CONSOLE_CAPACITY) {}

int RADUza::run(int argc, char** argv) {
    if (argc <= 1) {
        usage();
        return endRun();
    }
    if (const Next next = optionPass(argc, argv); !next.proceed) return next.exitStatus;
    if (isSet(OPT_OPTIONS_ONLY)) return endRun();

    initHeader();
    hdr.MemoryFlags = 0;
    hdr.LanguageId = 0;
    if (const Next next = openOutput(); !next.proceed) return next.exitStatus;
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
// every recognised option.
RADUza::Next RADUza::optionPass(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        char* argument = argv[i];
        if (!startsOption(argument, rules_)) continue;
        const bool dashed = argument[0] == '-';
        switch (argument[1]) {
        case 'f':
            if (i + 1 >= argc) {
                msg(MSG_MISSING_FILE_NAME);
                usage();
                return exitWith(EXIT_STATUS_FAILED);
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
                return exitWith(EXIT_STATUS_OK);
            }
            [[fallthrough]];
        case 's':
            if (dashed && std::strcmp(argument, "-show_padding") == 0) options |= OPT_SHOW_PADDING;
            else if (dashed && std::strcmp(argument, "-show_recurs") == 0) options |= OPT_SHOW_RECURS;
            else if (dashed && std::strcmp(argument, "-show_allspecs") == 0) options |= OPT_SHOW_ALLSPECS;
            else return rejectOption(argument[1]);
            break;
        default: return rejectOption(argument[1]);
        }
        argv[i] = nullptr;
    }
    return PROCEED;
}

RADUza::Next RADUza::rejectOption(char option) {
    msg(MSG_BAD_OPTION, option);
    usage();
    return exitWith(EXIT_STATUS_FAILED);
}

// Makes `out` the resource file or standard output.
RADUza::Next RADUza::openOutput() {
    if (!resFile) {
        out = &console_;
        return PROCEED;
    }
    const std::optional<PathStatus> status = fs_.queryPath(*resFile);
    if (status && status->readOnly) {
        msg(MSG_NOT_WRITABLE, resFile->c_str());
        return exitWith(EXIT_STATUS_FAILED);
    }
    CreatedOutput created = fs_.createOutput(*resFile);
    if (!created.file) {
        msg(MSG_CANNOT_CREATE, resFile->c_str(), created.error.c_str());
        return exitWith(EXIT_STATUS_FAILED);
    }
    resourceFile_ = std::move(created.file);
    outputId_ = resourceFile_->id();
    resourceBuffer_ = std::make_unique<OutputBuffer>(*resourceFile_);
    out = resourceBuffer_.get();
    return PROCEED;
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

bool RADUza::checkOutput() {
    if (halted_) return false;
    if (out->flush()) return true;
    halted_ = true;
    msg(MSG_WRITE_FAILED, outputName(), out->errorText().c_str());
    return false;
}
