// The tool object: one run of raduza, from the command line to the finished
// resource file. It holds the tool's policy (which message, which option flag)
// over the layers below: resfile/ writes entries, filespec/ selects and names
// files, platform/ talks to the operating system.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver/claimants.h"
#include "driver/messages.h"
#include "filespec/directory_walk.h"
#include "filespec/exclusion.h"
#include "platform/file_system.h"
#include "platform/path_rules.h"
#include "record/input_record.h"
#include "resfile/earlier_entries.h"
#include "resfile/entry_writer.h"
#include "resfile/name_tree.h"
#include "resfile/output_buffer.h"
#include "resfile/res_format.h"
#include "resfile/resource_output.h"

enum OptionFlag : std::uint32_t {
    OPT_QUIET = 0x01,
    OPT_JUNK = 0x02,
    OPT_OPTIONS_ONLY = 0x04,
    OPT_RECURSE = 0x08,
    OPT_SHOW_PADDING = 0x10,
    OPT_SHOW_RECURS = 0x20,
    OPT_SHOW_ALLSPECS = 0x40,
    OPT_VERBOSE = 0x80,
};

inline constexpr int EXIT_STATUS_OK = 0;
inline constexpr int EXIT_STATUS_FAILED = 1;

class RADUza : private WalkObserver, private PaddingObserver {
public:
    explicit RADUza(FileSystem& fileSystem = realFileSystem(), PathRules rules = PLATFORM_PATH_RULES);
    RADUza(const RADUza&) = delete;
    RADUza& operator=(const RADUza&) = delete;

    // The whole run; returns the process exit status.
    int run(int argc, char** argv);

    // Reporting. Formats catalogue entry `id` to standard output.
    void msg(int id, ...);
    // The text `msg` would print.
    static std::string formatMessage(int id, ...);
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
    // Where the run goes after a stage: on, or out with an exit status.
    struct Next {
        bool proceed;
        int exitStatus;
    };
    static constexpr Next PROCEED{true, EXIT_STATUS_OK};
    static Next exitWith(int status) { return Next{false, status}; }

    Next optionPass(int argc, char** argv);
    // The options beyond the original set: true when `argument` is one of them,
    // taking the argument after it where it needs one.
    bool extendedOption(int argc, char** argv, int& i, Next& next);
    Next rejectOption(char option);
    void specPass(int argc, char** argv);
    Next openOutput();
    int endRun();
    bool strictRunFailed(bool anyStored);
    // A resource file named as a spec too is refused before anything is opened.
    Next refuseOutputAsInput(int argc, char** argv);
    void printText(const char* text, std::size_t size);
    bool isSet(std::uint32_t flag) const { return (options & flag) != 0; }

    // Stores the file at `path` opened as `input`; a null `input` is reported as
    // missing or refused as unreadable.
    void storeOpened(const std::string& path, InputFile* input);
    // Names the file at `path` and stores it; a null `input` (unreadable, or a device
    // or FIFO that is never opened) has its name checked and is refused.
    void storeUnderDerivedName(const std::string& path, InputFile* input);
    // A name as the file holds it (`key`, under which the registry keeps it) and
    // where the registry will keep it once the file is stored.
    struct NameClaim {
        std::string_view key;
        NameTree::Place place;
    };
    // Where an entry lies in the resource file.
    struct EntrySpan {
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
    };
    // The name `curName` as the file holds it, and where it would go; nothing when it
    // is taken, which is reported.
    std::optional<NameClaim> claimFor(const std::string& path);
    // The name is taken and the run has stored something.
    void claimName(const NameClaim& claim, EntrySpan span);
    void storeAs(const std::string& path, InputFile& input, const NameClaim& claim);
    void recordStored(const std::string& path, const NameClaim& claim, EntrySpan span);
    // Flushes the output; on failure reports it once and halts the run.
    bool checkOutput();
    int failRun();
    void outputFailed(const std::string& reason);
    const char* outputName() const { return resFile ? resFile->c_str() : "standard output"; }

    // Updating (-u), other resource files' names (-n), names that must differ (-d),
    // leaving out (-x): driver/update.cpp.
    // The record kept beside `resourceFile`, when there is one to believe; a FIFO,
    // device, link or directory in its place is reported.
    std::optional<RecordReader> readRecordOf(const std::string& resourceFile, const Result<PathStatus>& resource);
    Next loadOtherRecords();
    // True when `path` names the file standard output writes to.
    bool namesStandardOutput(const std::string& path);
    // True for the record beside the resource file, met at `path` as `id`: never
    // stored, in either mode. Only a path of the record's name costs a look.
    bool isOwnRecord(const std::string& path, const FileId& id);
    Next prepareUpdate(int argc, char** argv);
    std::string recordKey(int argc, char** argv) const;
    bool isUpToDate(int argc, char** argv);
    void startRecording();
    // Copies the entries of unchanged files from the resource file the last run made,
    // where the record tells where they lie and that file is replaced, not overwritten.
    void startReusing();
    // What a run met at a path: the stamp of the file there, and the entry the last
    // run's record has of the path.
    struct TrackedFile {
        std::optional<FileStamp> stamp;
        const RecordEntry* earlier = nullptr;
    };
    // The stamp of what is at `path` (nothing when no file is there), and `earlier`, the
    // last run's entry of it when this run copies from the last one's resource file.
    std::optional<FileStamp> stampFollowingRecord(const std::string& path, const RecordEntry*& earlier);
    // Stores the file at `path`, found as `stamp`, by copying its entry from the earlier
    // resource file; false when that holds no entry of the file as it is.
    bool reuseEntry(const std::string& path, const RecordEntry& earlier, const FileStamp& stamp);
    // Copies the entries taken from the earlier resource file; on failure halts the run.
    bool flushEarlier();
    // Leaves an empty record, so that the next run reads every file again.
    void forgetRecord();
    // Most files met so far had changed: the rest of the walk reads its files with
    // the listing, opened ahead, rather than one by one between copies.
    bool mostFilesChanged() const { return filesRead_ >= 100 && filesRead_ * 2 >= filesMet_; }
    void writeRunRecord();
    bool tracking() const { return comparison_ != nullptr || recording_; }
    // Compares or records what is at `path`; false when it is not to be stored.
    bool trackFile(const std::string& path, TrackedFile& tracked);
    void noteDirectory(const std::string& path);
    // True for what the run writes and keeps beside it, met at `path` as `id`: the
    // resource file, the one it replaces or standard output, the record, and while
    // checking the resource file there. None of them is ever stored.
    bool isOwnFile(const std::string& path, const FileId& id);
    bool leftOutOfWalk(const std::string& path, const std::string& name) const;
    // A file the walk found that may be stored: no leftover of a killed run, nothing left out.
    bool isWalkCandidate(const std::string& path, const std::string& name) const;
    // False for the file that holds the name, named again: only another file is a duplicate.
    bool reportDuplicate(const std::string& path, std::string_view key);
    // `path` as reached from `directory` (or the run's own): absolute paths stay as they are.
    std::string fullPathIn(const std::string& directory, const std::string& path) const;
    std::string fullPath(const std::string& path) const;

    // What the directory walk finds.
    void fileFound(const std::string& path, ListedFile& file) override;
    bool opensFiles() const override { return comparison_ == nullptr && (!earlier_ || mostFilesChanged()); }
    void fileListed(const std::string& path, const std::string& name) override;
    void enteringDirectory(const std::string& path) override;
    void unreadableDirectory(const std::string& path) override;
    void cycleRefused(const std::string&) override {}  // a cycle is walked once, silently
    bool leavesOut(const std::string& path, const std::string& name) override { return leftOutOfWalk(path, name); }
    bool stopped() const override { return halted_ || (comparison_ && comparison_->differs()); }

    // What the writer pads with, under -show_padding.
    void headerPadding() override { msg(MSG_PAD_HEADER); }
    void dataPadding() override { msg(MSG_PAD_DATA); }

    std::optional<std::string> resFile;
    std::uint32_t options = 0;
    std::uint32_t stored = 0;
    OutputBuffer* out = nullptr;
    std::string_view curName;
    NameTree names;

    FileSystem& fs_;
    PathRules rules_;
    DirectoryWalk walk_;
    OutputBuffer console_;
    std::unique_ptr<ResourceOutput> resourceOutput_;
    std::unique_ptr<OutputBuffer> resourceBuffer_;
    std::optional<EntryWriter> writer_;  // lays out `out` once it is open
    std::optional<FileId> standardOutputId_;  // standard output carrying the resource file, when a regular file
    bool halted_ = false;  // the output failed: the run stops with status 1
    bool damaged_ = false;  // an entry may not match its file: the run ends with status 1
    bool messagesToStandardError_ = false;  // the resource file goes where standard output does
    bool updating_ = false;     // -u
    bool uniqueNames_ = false;  // -d: a name two files would share fails the run
    bool strict_ = false;       // -w: a warning, or storing nothing, fails the run
    bool warned_ = false;       // the run printed a warning
    Exclusions exclusions_;     // -x
    std::vector<std::string> otherResourceFiles_;  // -n
    std::optional<std::string> workingDirectory_;  // for -u's record and -d's full paths
    std::string otherRecordsKey_;  // the stamps of their records
    std::vector<std::pair<std::string, std::string>> otherNames_;  // name as written, and who stored it
    std::string walkRoot_;  // the directory doDir walks, for patterns with a path
    RecordComparison* comparison_ = nullptr;  // checking whether anything changed
    bool recording_ = false;
    RecordWriter record_;
    std::string recordKey_;
    // The last run's record and its entries, when it describes the resource file
    // there and was made with the same options and specs; how many of its entries,
    // from the first, the check found as recorded; the copying from that file.
    std::optional<RecordReader> earlierRecord_;
    std::optional<RecordedEntries> earlierEntries_;
    std::size_t verified_ = 0;
    std::unique_ptr<EarlierEntries> earlier_;
    // Files the walk met while copying, and those of them read because they changed.
    std::uint64_t filesMet_ = 0;
    std::uint64_t filesRead_ = 0;
    std::optional<std::int64_t> runStart_;  // the system's time as the walk began
    std::optional<std::optional<FileId>> recordId_;  // the record beside the resource file, once looked for
    bool recordLied_ = false;               // an entry was not where the last run's record said
    std::string headerStorage_;             // the header a copied entry must begin with
    std::vector<FileId> ownIds_;            // while checking, the resource file
    Claimants claimants_;  // -d: who stored each name
    bool duplicateFound_ = false;
    // Reused from entry to entry, so that storing a file allocates nothing.
    std::string keyStorage_;
    std::string nameStorage_;
};
