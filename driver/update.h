// Updating (-u): the resource file is made again only when what it would hold
// changed. The check walks as the run would, into a sink that only compares with
// the last run's record; when something differs, storing is wrapped by one that
// records what the run reads and copies the unchanged files' entries from the
// resource file the last run made. The record and its comparison are record/'s.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "driver/file_sink.h"
#include "record/input_record.h"
#include "resfile/earlier_entries.h"

class RADUza;

class Update final : private FileSink {
public:
    Update(RADUza& tool, std::string key) : tool_(tool), key_(std::move(key)) {}
    Update(const Update&) = delete;
    Update& operator=(const Update&) = delete;

    enum class Verdict {
        REFUSED,     // no resource file named, so no record beside it: reported
        UP_TO_DATE,  // it holds what this run would make: reported
        MAKE,
    };
    // Whether the resource file holds what this run would make, as the last run's
    // record tells and a walk that lists and asks for stamps only confirms.
    Verdict check();
    // The sink around `store` for the run that makes the file, once the output is open.
    FileSink& around(FileSink& store);

private:
    class Check;
    bool upToDate();
    // What a run met at a path: the stamp of the file there, and the entry the last
    // run's record has of the path.
    struct TrackedFile {
        std::optional<FileStamp> stamp;
        const RecordEntry* earlier = nullptr;
    };

    void startRecording();
    // Copies the entries of unchanged files from the resource file the last run made,
    // where the record tells where they lie and that file is replaced, not overwritten.
    void startReusing();
    // Records what is at `path`; false when it is not to be stored, or the run stopped.
    bool trackFile(const std::string& path, TrackedFile& tracked);
    // The stamp of what is at `path` (nothing when no file is there), and `earlier`, the
    // last run's entry of it when this run copies from the last one's resource file.
    std::optional<FileStamp> stampFollowingRecord(const std::string& path, const RecordEntry*& earlier);
    // Stores the file at `path`, found as `stamp`, by copying its entry from the earlier
    // resource file; false when that holds no entry of the file as it is.
    bool reuseEntry(const std::string& path, const RecordEntry& earlier, const FileStamp& stamp);
    // Most files met so far had changed: the rest of the walk reads its files with
    // the listing, opened ahead, rather than one by one between copies.
    bool mostFilesChanged() const { return filesRead_ >= 100 && filesRead_ * 2 >= filesMet_; }
    void writeRunRecord();
    void forgetRecord();

    void fileNamed(const std::string& path) override;
    void fileFound(const std::string& path, ListedFile& file) override;
    void specialFileNamed(const std::string& path) override { store_->specialFileNamed(path); }
    void directoryMet(const std::string& path) override;
    bool opensFiles() const override { return !earlier_ || mostFilesChanged(); }
    bool stopped() const override { return store_->stopped(); }
    void tell(std::string_view text, bool warning) override { store_->tell(text, warning); }
    void entryStored(std::string_view key, EntrySpan span) override;
    bool flushHeld() override;
    bool keepsEmptyOutput() const override { return true; }  // the leading entry alone, for an empty tree
    void releaseInputs() override { earlier_.reset(); }  // Windows replaces no file open for reading
    void runEnded(RunEnd end) override;

    RADUza& tool_;
    FileSink* store_ = nullptr;
    const std::string key_;
    // The last run's record and its entries, when it describes the resource file
    // there and was made with the same options and specs; how many of its entries,
    // from the first, the check found as recorded; the copying from that file.
    std::optional<RecordReader> earlierRecord_;
    std::optional<RecordedEntries> earlierEntries_;
    std::size_t verified_ = 0;
    std::unique_ptr<EarlierEntries> earlier_;
    bool recordLied_ = false;  // an entry was not where the last run's record said
    std::string headerStorage_;  // the header a copied entry must begin with
    std::string nameStorage_;
    // Files the walk met while copying, and those of them read because they changed.
    std::uint64_t filesMet_ = 0;
    std::uint64_t filesRead_ = 0;
    bool recording_ = false;
    RecordWriter record_;
    std::optional<std::int64_t> runStart_;  // the system's time as the walk began
};
