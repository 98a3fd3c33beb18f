// The command line, read once by one table of options into one value that nothing
// changes afterwards; and the key of the record an updating run keeps, made from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path_rules.h"

enum OptionFlag : std::uint32_t {
    OPT_QUIET = 0x01,
    OPT_JUNK = 0x02,
    OPT_OPTIONS_ONLY = 0x04,
    OPT_RECURSE = 0x08,
    OPT_SHOW_PADDING = 0x10,
    OPT_SHOW_RECURS = 0x20,
    OPT_SHOW_ALLSPECS = 0x40,
    OPT_VERBOSE = 0x80,
    // The options beyond the original set.
    OPT_UPDATE = 0x100,        // -u
    OPT_UNIQUE_NAMES = 0x200,  // -d
    OPT_STRICT = 0x400,        // -w
};

struct CommandLine {
    std::uint32_t options = 0;
    std::optional<std::string> resFile;
    std::vector<std::string> specs;               // every argument that is no option, in order
    std::vector<std::string> exclusions;          // -x
    std::vector<std::string> otherResourceFiles;  // -n
    bool isSet(std::uint32_t flag) const { return (options & flag) != 0; }
};

// Where the option pass ends the run before anything is opened.
struct OptionStop {
    enum Kind { BAD_OPTION, F_WITH_LETTERS, MISSING_FILE_NAME, MISSING_ARGUMENT, HELP, VERSION, MORE_USAGE };
    Kind kind = BAD_OPTION;
    std::string argument;          // BAD_OPTION and MISSING_ARGUMENT: the letter; F_WITH_LETTERS: the argument
    const char* needs = nullptr;   // MISSING_ARGUMENT: what must follow the option
};

struct ParsedCommandLine {
    CommandLine line;
    std::optional<OptionStop> stop;
};

// Options are visited in order; the first that ends the run ends the pass.
ParsedCommandLine parseCommandLine(int argc, const char* const* argv, const PathRules& rules);

// One option. Each row says whether it changes the record's key: a run with other
// options may make other bytes from the same files, and must not find them up to date.
struct OptionRow {
    // A one-letter spelling matches '-' or '/' and the letter, alone or, for the
    // original options, whatever follows; a longer one the whole argument, with '-' only.
    enum Match { ALONE, LETTERS_FOLLOW };
    enum Key { CHANGES_KEY, NOT_IN_KEY };
    enum Effect { FLAG, RESOURCE_FILE, EXCLUSION, OTHER_RESOURCE_FILE, STOP };
    const char* spelling;
    Match match;
    Key key;
    Effect effect;
    std::uint32_t flag = 0;                     // FLAG
    const char* argumentName = nullptr;         // the effects that take the next argument
    OptionStop::Kind stops = OptionStop::HELP;  // STOP
};

// Every option the tool knows. The key's flags are made from this table in its
// order: -j, -r, -d, -w.
inline constexpr OptionRow OPTION_TABLE[] = {
    {"-f", OptionRow::ALONE, OptionRow::NOT_IN_KEY, OptionRow::RESOURCE_FILE, 0, "the resource file name"},
    {"-j", OptionRow::LETTERS_FOLLOW, OptionRow::CHANGES_KEY, OptionRow::FLAG, OPT_JUNK},
    {"-q", OptionRow::LETTERS_FOLLOW, OptionRow::NOT_IN_KEY, OptionRow::FLAG, OPT_QUIET},
    {"-r", OptionRow::LETTERS_FOLLOW, OptionRow::CHANGES_KEY, OptionRow::FLAG, OPT_RECURSE},
    {"-t", OptionRow::LETTERS_FOLLOW, OptionRow::NOT_IN_KEY, OptionRow::FLAG, OPT_OPTIONS_ONLY},
    {"-v", OptionRow::LETTERS_FOLLOW, OptionRow::NOT_IN_KEY, OptionRow::FLAG, OPT_VERBOSE},
    {"-show_padding", OptionRow::ALONE, OptionRow::NOT_IN_KEY, OptionRow::FLAG, OPT_SHOW_PADDING},
    {"-show_recurs", OptionRow::ALONE, OptionRow::NOT_IN_KEY, OptionRow::FLAG, OPT_SHOW_RECURS},
    {"-show_allspecs", OptionRow::ALONE, OptionRow::NOT_IN_KEY, OptionRow::FLAG, OPT_SHOW_ALLSPECS},
    {"-help-undocumented", OptionRow::ALONE, OptionRow::NOT_IN_KEY, OptionRow::STOP, 0, nullptr, OptionStop::MORE_USAGE},
    {"-u", OptionRow::ALONE, OptionRow::NOT_IN_KEY, OptionRow::FLAG, OPT_UPDATE},
    {"-d", OptionRow::ALONE, OptionRow::CHANGES_KEY, OptionRow::FLAG, OPT_UNIQUE_NAMES},
    // A run that warned is up to date only for runs that let it.
    {"-w", OptionRow::ALONE, OptionRow::CHANGES_KEY, OptionRow::FLAG, OPT_STRICT},
    {"-x", OptionRow::ALONE, OptionRow::CHANGES_KEY, OptionRow::EXCLUSION, 0, "a pattern"},
    {"-n", OptionRow::ALONE, OptionRow::CHANGES_KEY, OptionRow::OTHER_RESOURCE_FILE, 0, "a resource file name"},
    {"--help", OptionRow::ALONE, OptionRow::NOT_IN_KEY, OptionRow::STOP, 0, nullptr, OptionStop::HELP},
    {"--version", OptionRow::ALONE, OptionRow::NOT_IN_KEY, OptionRow::STOP, 0, nullptr, OptionStop::VERSION},
};

// Everything besides the files that decides the resource file's bytes: the command
// line, the directory it ran in, and `otherRecordStamps`, the stamp of each -n
// resource file's record in the order the command line names them.
std::string recordKey(const CommandLine& line, std::string_view workingDirectory,
                      const std::vector<std::string>& otherRecordStamps);
// The directory the run that wrote `key` ran in, which its paths are relative to;
// nothing when the key has none.
std::optional<std::string> directoryOfKey(std::string_view key);
