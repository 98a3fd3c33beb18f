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

#include "driver/messages.h"
#include "filespec/directory_walk.h"
#include "platform/file_system.h"
#include "platform/path_rules.h"
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
    Next rejectOption(char option);
    Next openOutput();
    int endRun();
    void printText(const char* text, std::size_t size);
    bool isSet(std::uint32_t flag) const { return (options & flag) != 0; }

    // True for the file being written, and for the one it replaces: never stored.
    bool isOwnOutput(const InputFile& input) const;
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
    // The name is taken and the run has stored something.
    void claimName(const NameClaim& claim);
    void storeAs(const std::string& path, InputFile& input, const NameClaim& claim);
    void recordStored(const std::string& path, const NameClaim& claim);
    // Flushes the output; on failure reports it once and halts the run.
    bool checkOutput();
    int failRun();
    void outputFailed(const std::string& reason);
    const char* outputName() const { return resFile ? resFile->c_str() : "standard output"; }

    // What the directory walk finds.
    void fileFound(const std::string& path, ListedFile& file) override;
    void enteringDirectory(const std::string& path) override;
    void unreadableDirectory(const std::string& path) override;
    void cycleRefused(const std::string&) override {}  // a cycle is walked once, silently
    bool stopped() const override { return halted_; }

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
    // Reused from entry to entry, so that storing a file allocates nothing.
    std::string keyStorage_;
    std::string nameStorage_;
};
