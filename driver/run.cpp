// The run: option pass, output and leading entry, spec pass, end of run.
#include "driver/raduza.h"
#include "driver/update.h"

namespace {

// The console needs room for messages only, unless it also carries the resource file.
constexpr std::size_t CONSOLE_CAPACITY = OutputBuffer::DEFAULT_CAPACITY;

}  // namespace

RADUza::RADUza(FileSystem& fileSystem, PathRules rules)
    : fs_(fileSystem), rules_(rules), console_(fileSystem.standardOutput(), CONSOLE_CAPACITY) {}

int RADUza::run(int argc, char** argv) {
    if (argc <= 1) {
        usage();
        return endRun();
    }
    const ParsedCommandLine parsed = parseCommandLine(argc, argv, rules_);
    // Set once: nothing changes them after the option pass.
    options = parsed.line.options;
    resFile = parsed.line.resFile;
    commandLine_ = parsed.line;
    if (parsed.stop) return stopOptions(*parsed.stop);
    return runWith(commandLine_);
}

int RADUza::runWith(const CommandLine& line) {
    if (isSet(OPT_OPTIONS_ONLY)) return endRun();
    if (!refuseOutputAsInput()) return EXIT_STATUS_FAILED;
    for (const std::string& pattern : line.exclusions) exclusions_.add(pattern);
    if (isSet(OPT_UPDATE) || isSet(OPT_UNIQUE_NAMES)) workingDirectory_ = fs_.currentDirectory();
    if (!loadOtherRecords()) return EXIT_STATUS_FAILED;
    std::optional<Update> update;
    if (isSet(OPT_UPDATE)) {
        update.emplace(*this, recordKey(line, workingDirectory_.value_or(""), otherRecordStamps_));
        if (const Update::Verdict verdict = update->check(); verdict != Update::Verdict::MAKE)
            return verdict == Update::Verdict::UP_TO_DATE ? EXIT_STATUS_OK : EXIT_STATUS_FAILED;
    }

    if (!openOutput()) return EXIT_STATUS_FAILED;
    writer_.emplace(*out, isSet(OPT_SHOW_PADDING) ? static_cast<PaddingObserver*>(this) : nullptr);
    writer_->writeLeadingEntry();
    (void)checkOutput();

    sink_ = update ? &update->around(*this) : this;
    for (const auto& [name, claimant] : otherNames_) {
        names.insert(name);
        if (isSet(OPT_UNIQUE_NAMES)) claimants_.add(name, claimant);
    }
    specPass(*sink_);
    const int status = endRun();
    sink_ = this;
    return status;
}

void RADUza::specPass(FileSink& sink) {
    FileSink* const outer = std::exchange(sink_, &sink);
    for (const std::string& spec : commandLine_.specs) {
        if (sink_->stopped()) break;
        if (isSet(OPT_SHOW_ALLSPECS)) msg<MSG_SPEC>(spec.c_str());
        doSpec(spec);
    }
    sink_ = outer;
}

// Makes `out` the resource file or standard output.
bool RADUza::openOutput() {
    if (!resFile) {
        out = &console_;
        // Standard output redirected into a walked tree must not store itself.
        standardOutputId_ = fs_.standardOutput().id();
        return true;
    }
    const Result<PathStatus> status = fs_.status(*resFile);
    if (status && status->readOnly) {
        msg<MSG_NOT_WRITABLE>(resFile->c_str());
        return false;
    }
    Result<std::unique_ptr<ResourceOutput>> opened = ResourceOutput::open(fs_, *resFile, formatMessage<MSG_LEFT_EMPTY>(resFile->c_str()));
    if (!opened) {
        msg<MSG_CANNOT_CREATE>(resFile->c_str(), opened.error().text.c_str());
        return false;
    }
    resourceOutput_ = std::move(*opened);
    // A resource file named by a path to standard output (/dev/stdout, /dev/fd/1)
    // carries no message either.
    messagesToStandardError_ = resourceOutput_->isStandardOutput();
    resourceBuffer_ = std::make_unique<OutputBuffer>(resourceOutput_->file());
    out = resourceBuffer_.get();
    return true;
}

// A run ends with one of three outcomes: the complete new resource file; no
// resource file, when nothing was stored; or, after a failure, the previous
// resource file as it was, with a message and status 1. A resource that may not
// match its file (standard output could not take it back) also makes it status 1.
int RADUza::endRun() {
    if (!sink_->flushHeld() || trouble_ >= Trouble::SHARED_NAME) return failRun();
    const bool anyStored = (stored & 1) != 0;
    if (strictRunFailed(anyStored)) return failRun();
    sink_->releaseInputs();
    const bool keep = anyStored || sink_->keepsEmptyOutput();
    if (resourceOutput_) {
        // The last entries the resource file gathered are written now.
        if (keep && !checkOutput()) return failRun();
        resourceBuffer_.reset();
        out = nullptr;
        if (!keep) {
            resourceOutput_->discard();
        } else if (const Result<void> committed = resourceOutput_->commit(); !committed) {
            msg<MSG_REPLACE_FAILED>(resFile->c_str(), committed.error().text.c_str());
            return EXIT_STATUS_FAILED;
        }
        sink_->runEnded(trouble_ == Trouble::DAMAGED ? RunEnd::DAMAGED : RunEnd::KEPT);
    }
    if (!anyStored && !isSet(OPT_QUIET)) msg<MSG_NOTHING_TO_DO>();
    return trouble_ == Trouble::DAMAGED ? EXIT_STATUS_FAILED : EXIT_STATUS_OK;
}

// Under -w a warning, or a run that stores nothing, fails the run before the
// resource file is replaced. An updating run's empty bundle is what an empty tree
// makes, and -t only checks the options: neither fails.
bool RADUza::strictRunFailed(bool anyStored) {
    if (!isSet(OPT_STRICT) || isSet(OPT_OPTIONS_ONLY)) return false;
    if (warned_) {
        msg<MSG_STRICT_FAILED>();
        return true;
    }
    if (anyStored || sink_->keepsEmptyOutput()) return false;
    msg<MSG_NOTHING_TO_DO>();
    return true;
}

int RADUza::failRun() {
    resourceBuffer_.reset();
    out = nullptr;
    if (resourceOutput_ && resourceOutput_->abandon()) msg<MSG_LEFT_EMPTY>(resFile->c_str());
    sink_->runEnded(RunEnd::FAILED);
    return EXIT_STATUS_FAILED;
}

bool RADUza::checkOutput() {
    if (stopped()) return false;
    const Result<void> flushed = out->flush();
    if (!flushed) outputFailed(flushed.error().text);
    return flushed.ok();
}

void RADUza::outputFailed(const std::string& reason) {
    meet(Trouble::HALTED);
    msg<MSG_WRITE_FAILED>(outputName(), reason.c_str());
}
