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
    if (const Next next = refuseOutputAsInput(argc, argv); !next.proceed) return next.exitStatus;
    if (updating_ || uniqueNames_) workingDirectory_ = fs_.currentDirectory();
    if (const Next next = loadOtherRecords(); !next.proceed) return next.exitStatus;
    if (updating_) {
        if (const Next next = prepareUpdate(argc, argv); !next.proceed) return next.exitStatus;
    }

    if (const Next next = openOutput(); !next.proceed) return next.exitStatus;
    writer_.emplace(*out, isSet(OPT_SHOW_PADDING) ? static_cast<PaddingObserver*>(this) : nullptr);
    writer_->writeLeadingEntry();
    (void)checkOutput();

    if (updating_) {
        startRecording();
        startReusing();
    }
    for (const auto& [name, claimant] : otherNames_) {
        names.insert(name);
        if (uniqueNames_) claimants_.add(name, claimant);
    }
    specPass(argc, argv);
    return endRun();
}

void RADUza::specPass(int argc, char** argv) {
    for (int i = 1; i < argc && !stopped(); ++i) {
        if (argv[i] == nullptr) continue;
        if (isSet(OPT_SHOW_ALLSPECS)) msg(MSG_SPEC, argv[i]);
        doSpec(argv[i]);
    }
}

// Sets the option flags and takes the resource file name, clearing the slots of
// every recognised option.
RADUza::Next RADUza::optionPass(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        char* argument = argv[i];
        if (!startsOption(argument, rules_)) continue;
        const bool dashed = argument[0] == '-';
        if (Next next = PROCEED; extendedOption(argc, argv, i, next)) {
            if (!next.proceed) return next;
            continue;
        }
        switch (argument[1]) {
        case 'f':
            if (argument[2] != '\0') {
                // "-fgame.res" would take the next argument as the file and overwrite
                // what the user named as an input: refused, nothing touched.
                msg(MSG_F_WITH_LETTERS, argument);
                return exitWith(EXIT_STATUS_FAILED);
            }
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
        case '-':
            if (dashed && std::strcmp(argument, "--help") == 0) {
                usage();
                printText(ownOptionsText().data(), ownOptionsText().size());
                return exitWith(EXIT_STATUS_OK);
            }
            if (dashed && std::strcmp(argument, "--version") == 0) {
                printText(versionText().data(), versionText().size());
                return exitWith(EXIT_STATUS_OK);
            }
            return rejectOption(argument[1]);
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

// -u, -d, -w, -x <pattern> and -n <file.res>, each written exactly so.
bool RADUza::extendedOption(int argc, char** argv, int& i, Next& next) {
    const char* argument = argv[i];
    const char letter = argument[1];
    if (letter == '\0' || std::strchr("udwxn", letter) == nullptr || argument[2] != '\0') return false;
    if (letter == 'u') updating_ = true;
    if (letter == 'd') uniqueNames_ = true;
    if (letter == 'w') strict_ = true;
    if (letter == 'x' || letter == 'n') {
        if (i + 1 >= argc) {
            msg(MSG_MISSING_ARGUMENT, letter, letter == 'x' ? "a pattern" : "a resource file name");
            usage();
            next = exitWith(EXIT_STATUS_FAILED);
            return true;
        }
        if (letter == 'x') exclusions_.add(argv[i + 1]);
        else otherResourceFiles_.push_back(argv[i + 1]);
        argv[i++] = nullptr;
    }
    argv[i] = nullptr;
    return true;
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
        // Standard output redirected into a walked tree must not store itself.
        standardOutputId_ = fs_.standardOutput().id();
        return PROCEED;
    }
    const Result<PathStatus> status = fs_.status(*resFile);
    if (status && status->readOnly) {
        msg(MSG_NOT_WRITABLE, resFile->c_str());
        return exitWith(EXIT_STATUS_FAILED);
    }
    Result<std::unique_ptr<ResourceOutput>> opened = ResourceOutput::open(fs_, *resFile, formatMessage(MSG_LEFT_EMPTY, resFile->c_str()));
    if (!opened) {
        msg(MSG_CANNOT_CREATE, resFile->c_str(), opened.error().text.c_str());
        return exitWith(EXIT_STATUS_FAILED);
    }
    resourceOutput_ = std::move(*opened);
    // A resource file named by a path to standard output (/dev/stdout, /dev/fd/1)
    // carries no message either.
    messagesToStandardError_ = resourceOutput_->isStandardOutput();
    resourceBuffer_ = std::make_unique<OutputBuffer>(resourceOutput_->file());
    out = resourceBuffer_.get();
    return PROCEED;
}

// A run ends with one of three outcomes: the complete new resource file; no
// resource file, when nothing was stored; or, after a failure, the previous
// resource file as it was, with a message and status 1. A resource that may not
// match its file (standard output could not take it back) also makes it status 1.
int RADUza::endRun() {
    if (!flushEarlier() || duplicateFound_) return failRun();
    const bool anyStored = (stored & 1) != 0;
    if (strictRunFailed(anyStored)) return failRun();
    earlier_.reset();  // closed before it is replaced: Windows replaces no file open for reading
    // An updating run leaves a resource file even when it is empty: the leading entry alone.
    const bool keep = anyStored || updating_;
    if (resourceOutput_) {
        // The last entries the resource file gathered are written now.
        if (keep && !checkOutput()) return failRun();
        resourceBuffer_.reset();
        out = nullptr;
        if (!keep) {
            resourceOutput_->discard();
        } else if (const Result<void> committed = resourceOutput_->commit(); !committed) {
            msg(MSG_REPLACE_FAILED, resFile->c_str(), committed.error().text.c_str());
            return EXIT_STATUS_FAILED;
        }
        if (updating_ && !damaged_) writeRunRecord();  // a damaged entry must be made again next time
    }
    if (!anyStored && !isSet(OPT_QUIET)) msg(MSG_NOTHING_TO_DO);
    return damaged_ ? EXIT_STATUS_FAILED : EXIT_STATUS_OK;
}

// Under -w a warning, or a run that stores nothing, fails the run before the
// resource file is replaced. An updating run's empty bundle is what an empty tree
// makes, and -t only checks the options: neither fails.
bool RADUza::strictRunFailed(bool anyStored) {
    if (!strict_ || isSet(OPT_OPTIONS_ONLY)) return false;
    if (warned_) {
        msg(MSG_STRICT_FAILED);
        return true;
    }
    if (anyStored || updating_) return false;
    msg(MSG_NOTHING_TO_DO);
    return true;
}

int RADUza::failRun() {
    resourceBuffer_.reset();
    out = nullptr;
    if (resourceOutput_ && resourceOutput_->abandon()) msg(MSG_LEFT_EMPTY, resFile->c_str());
    if (earlier_ && earlier_->failed()) forgetRecord();
    return EXIT_STATUS_FAILED;
}

bool RADUza::checkOutput() {
    if (halted_) return false;
    if (out->flush()) return true;
    outputFailed(out->errorText());
    return false;
}

void RADUza::outputFailed(const std::string& reason) {
    halted_ = true;
    msg(MSG_WRITE_FAILED, outputName(), reason.c_str());
}
