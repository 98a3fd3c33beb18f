// The tool object: one run of raduza, from the command line to the finished
// resource file. Its methods live with their subsystem: driver/ (run, messages),
// resfile/ (headers, storing), filespec/ (naming, specs, walks).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/path_rules.h"
#include "resfile/name_tree.h"
#include "resfile/output_buffer.h"
#include "resfile/res_format.h"

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

// Catalogue ids; the texts are in driver/messages.cpp. Ids 0 to 12 are the
// original catalogue; later ids report failures of the output and of inputs.
enum MessageId : int {
    MSG_PAD_HEADER = 0,
    MSG_CHECKING,
    MSG_PAD_DATA,
    MSG_STORED,
    MSG_NAME_IN_USE,
    MSG_NO_FILE,
    MSG_DESCENDING,
    MSG_LOOKING,
    MSG_NO_MATCH,
    MSG_BAD_OPTION,
    MSG_NOT_WRITABLE,
    MSG_SPEC,
    MSG_NOTHING_TO_DO,
    MSG_MISSING_FILE_NAME,
    MSG_CANNOT_CREATE,
    MSG_WRITE_FAILED,
    MSG_CANNOT_READ,
    MSG_TOO_LARGE,
    MSG_FILE_CHANGED,
    MSG_FILE_DAMAGED,
    MSG_CANNOT_READ_DIR,
    MSG_COUNT
};

inline constexpr int EXIT_STATUS_OK = 0;
inline constexpr int EXIT_STATUS_FAILED = 1;

class RADUza {
public:
    explicit RADUza(FileSystem& fileSystem = realFileSystem(), PathRules rules = PLATFORM_PATH_RULES);
    RADUza(const RADUza&) = delete;
    RADUza& operator=(const RADUza&) = delete;

    // The whole run; returns the process exit status.
    int run(int argc, char** argv);

    // Reporting (driver/messages.cpp). Formats catalogue entry `id` to standard output.
    void msg(int id, ...);
    void usage();
    void moreUsage();

    // Resource file (resfile/).
    void initHeader();
    void writeHeader();
    // `input` is the file at `path` opened for reading, or null when it exists but
    // could not be opened.
    void storeFile(const std::string& path, InputFile* input);

    // File selection (filespec/).
    void addFile(const std::string& path);
    void doSpec(const std::string& spec);
    void doDir(const std::string& dir, const std::string& pattern);

    ResHeader hdr;
    std::int8_t headerPad = 0;
    std::optional<std::string> resFile;
    std::uint32_t options = 0;
    std::uint32_t stored = 0;
    OutputBuffer* out = nullptr;
    std::string_view curName;
    NameTree names;

private:
    bool optionPass(int argc, char** argv, int& exitStatus);
    bool rejectOption(char option, int& exitStatus);
    bool openOutput(int& exitStatus);
    int endRun();
    void printText(const char* text, std::size_t size);
    bool isSet(std::uint32_t flag) const { return (options & flag) != 0; }

    // Storing (resfile/store_file.cpp).
    enum class CopyOutcome { COMPLETE, READ_FAILED, SIZE_CHANGED, OUTPUT_FAILED };
    CopyOutcome copyData(InputFile& input);
    void takeBackEntry(const std::string& path, CopyOutcome outcome, std::uint64_t entryStart, std::uint64_t written);
    bool checkOutput();

    // Walking (filespec/do_spec.cpp).
    bool enterDirectory(const std::string& dir);
    // False when `dir` could not be read.
    bool walkSubdirectories(const std::string& dir, const std::string& pattern);
    bool storeMatchingFiles(const std::string& dir, const std::string& pattern);

    FileSystem& fs_;
    PathRules rules_;
    OutputBuffer console_;
    std::unique_ptr<OutputFile> resourceFile_;
    std::unique_ptr<OutputBuffer> resourceBuffer_;
    std::optional<FileId> outputId_;
    std::vector<FileId> walkPath_;  // directories on the current walk, to refuse cycles
    bool halted_ = false;          // the output failed: the run stops with status 1
};
