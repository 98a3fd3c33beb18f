// The tool object: one run of raduza, from the command line to the finished
// resource file. It holds the tool's policy (which message, which option flag)
// over the layers below: resfile/ writes entries, filespec/ selects and names
// files, platform/ talks to the operating system. It is itself the sink that
// stores what the spec pass finds; updating (-u) is driver/update.h's.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver/claimants.h"
#include "driver/file_sink.h"
#include "driver/messages.h"
#include "driver/options.h"
#include "filespec/exclusion.h"
#include "platform/file_system.h"
#include "platform/path_rules.h"
#include "record/input_record.h"
#include "resfile/entry_writer.h"
#include "resfile/name_tree.h"
#include "resfile/output_buffer.h"
#include "resfile/res_format.h"
#include "resfile/resource_output.h"

inline constexpr int EXIT_STATUS_OK = 0;
inline constexpr int EXIT_STATUS_FAILED = 1;

class RADUza : private FileSink, private PaddingObserver {
public:
    explicit RADUza(FileSystem& fileSystem = realFileSystem(), PathRules rules = PLATFORM_PATH_RULES);
    RADUza(const RADUza&) = delete;
    RADUza& operator=(const RADUza&) = delete;

    // The whole run; returns the process exit status.
    int run(int argc, char** argv);

    // Reporting. Formats catalogue entry `id` with `args`, the arguments its text
    // takes, to standard output.
    template <MessageId id, typename... Args>
    void msg(Args... args) {
        const std::string text = formatMessage<id>(args...);
        if (!text.empty()) sink_->tell(text, isWarning(id));
    }
    void usage();
    void moreUsage();

    // Resource file.
    // `input` is the file at `path` opened for reading, or null when it exists but
    // could not be opened.
    void storeFile(const std::string& path, InputFile* input);

    // File selection.
    void addFile(const std::string& path);
    void doSpec(const std::string& spec);
    void doDir(const std::string& dir, const std::string& pattern);

private:
    friend class Update;
    class WalkReport;

    int runWith(const CommandLine& line);
    int stopOptions(const OptionStop& stop);
    // Hands every spec to doSpec, reporting what they select to `sink`.
    void specPass(FileSink& sink);
    // False when the run ends there, reported, with status 1.
    bool openOutput();
    int endRun();
    bool strictRunFailed(bool anyStored);
    // A resource file named as a spec too is refused before anything is opened.
    bool refuseOutputAsInput();
    void printText(std::string_view text);
    bool isSet(std::uint32_t flag) const { return (options & flag) != 0; }

    // A null `input` is reported as missing or refused as unreadable.
    void storeOpened(const std::string& path, InputFile* input);
    // A null `input` (unreadable, or a device or FIFO never opened) has its name checked and is refused.
    void storeUnderDerivedName(const std::string& path, InputFile* input);
    // A name as the file holds it, and where the registry will keep it once the file is stored.
    struct NameClaim {
        std::string_view key;
        NameTree::Place place;
    };
    // `curName` as the file holds it, and where it would go; nothing when taken, which is reported.
    std::optional<NameClaim> claimFor(const std::string& path);
    void claimName(const NameClaim& claim, EntrySpan span);
    void storeAs(const std::string& path, InputFile& input, const NameClaim& claim);
    void recordStored(const std::string& path, const NameClaim& claim, EntrySpan span);
    // Flushes the output; on failure reports it once and halts the run.
    bool checkOutput();
    int failRun();
    void outputFailed(const std::string& reason);
    const char* outputName() const { return resFile ? resFile->c_str() : "standard output"; }

    // A FIFO, device, link or directory in the record's place is reported.
    Result<RecordReader> readRecordOf(const std::string& resourceFile, const Result<PathStatus>& resource);
    // True for what the run writes and keeps beside it, met at `path` as `id`: the resource
    // file, the one it replaces or standard output, and the record. None is ever stored.
    bool isOwnFile(const std::string& path, const FileId& id);
    bool isOwnRecord(const std::string& path, const FileId& id);

    // Other resource files' names (-n) and names that must differ (-d): driver/names.cpp.
    bool loadOtherRecords();
    bool reportDuplicate(const std::string& path, std::string_view key);
    // `path` as reached from `directory` (or the run's own): absolute paths stay as they are.
    std::string fullPathIn(const std::string& directory, const std::string& path) const;
    std::string fullPath(const std::string& path) const;

    bool leftOutOfWalk(const std::string& path, const std::string& name) const;
    bool isWalkCandidate(const std::string& path, const std::string& name) const;

    void fileNamed(const std::string& path) override { addFile(path); }
    void fileFound(const std::string& path, ListedFile& file) override;
    void specialFileNamed(const std::string& path) override { storeUnderDerivedName(path, nullptr); }
    bool opensFiles() const override { return true; }
    bool stopped() const override { return trouble_ == Trouble::HALTED; }
    void tell(std::string_view text, bool warning) override;
    bool flushHeld() override { return !stopped(); }

    // Under -show_padding.
    void headerPadding() override { msg<MSG_PAD_HEADER>(); }
    void dataPadding() override { msg<MSG_PAD_DATA>(); }

    std::optional<std::string> resFile;
    std::uint32_t options = 0;
    std::uint32_t stored = 0;
    OutputBuffer* out = nullptr;
    std::string_view curName;
    NameTree names;

    FileSystem& fs_;
    PathRules rules_;
    CommandLine commandLine_;  // read once; resFile and options are its own
    FileSink* sink_ = this;    // where what the pass finds, and says, goes
    OutputBuffer console_;
    std::unique_ptr<ResourceOutput> resourceOutput_;
    std::unique_ptr<OutputBuffer> resourceBuffer_;
    std::optional<EntryWriter> writer_;  // lays out `out` once it is open
    std::optional<FileId> standardOutputId_;  // standard output carrying the resource file, when a regular file
    // What went wrong so far, the worst kept: each kind fails the run more than the one before.
    enum class Trouble {
        NONE,
        DAMAGED,      // an entry may not match its file: the run ends with status 1
        SHARED_NAME,  // -d: a name two files would share fails the run before the file is replaced
        HALTED,       // the output failed: the run stops with status 1
    };
    Trouble trouble_ = Trouble::NONE;
    void meet(Trouble trouble) { trouble_ = std::max(trouble_, trouble); }
    bool messagesToStandardError_ = false;  // the resource file goes where standard output does
    bool warned_ = false;       // the run printed a warning
    Exclusions exclusions_;     // -x
    std::string walkRoot_;  // the directory doDir walks, for patterns with a path
    std::optional<std::optional<FileId>> recordId_;  // the record beside the resource file, once looked for
    std::optional<std::string> workingDirectory_;  // for -u's record and -d's full paths
    std::vector<std::string> otherRecordStamps_;   // -n: the stamps of their records
    std::vector<std::pair<std::string, std::string>> otherNames_;  // name as written, and who stored it
    Claimants claimants_;  // -d: who stored each name
    // Reused from entry to entry, so that storing a file allocates nothing.
    std::string keyStorage_;
    std::string nameStorage_;
};
