#include "driver/options.h"

#include <cstring>

#include "record/input_record.h"

namespace {

using Row = OptionRow;

// Every option the tool knows. The key's flags are made from this table in its
// order: -j, -r, -d, -w.
constexpr OptionRow TABLE[] = {
    {"-f", Row::LETTER, Row::NOT_IN_KEY, Row::RESOURCE_FILE, 0, OptionStop::HELP, "the resource file name"},
    {"-j", Row::LETTER_LEADS, Row::CHANGES_KEY, Row::FLAG, OPT_JUNK},
    {"-q", Row::LETTER_LEADS, Row::NOT_IN_KEY, Row::FLAG, OPT_QUIET},
    {"-r", Row::LETTER_LEADS, Row::CHANGES_KEY, Row::FLAG, OPT_RECURSE},
    {"-t", Row::LETTER_LEADS, Row::NOT_IN_KEY, Row::FLAG, OPT_OPTIONS_ONLY},
    {"-v", Row::LETTER_LEADS, Row::NOT_IN_KEY, Row::FLAG, OPT_VERBOSE},
    {"-show_padding", Row::WHOLE, Row::NOT_IN_KEY, Row::FLAG, OPT_SHOW_PADDING},
    {"-show_recurs", Row::WHOLE, Row::NOT_IN_KEY, Row::FLAG, OPT_SHOW_RECURS},
    {"-show_allspecs", Row::WHOLE, Row::NOT_IN_KEY, Row::FLAG, OPT_SHOW_ALLSPECS},
    {"-help-undocumented", Row::WHOLE, Row::NOT_IN_KEY, Row::STOP, 0, OptionStop::MORE_USAGE},
    {"-u", Row::LETTER, Row::NOT_IN_KEY, Row::FLAG, OPT_UPDATE},
    {"-d", Row::LETTER, Row::CHANGES_KEY, Row::FLAG, OPT_UNIQUE_NAMES},
    // A run that warned is up to date only for runs that let it.
    {"-w", Row::LETTER, Row::CHANGES_KEY, Row::FLAG, OPT_STRICT},
    {"-x", Row::LETTER, Row::CHANGES_KEY, Row::EXCLUSION, 0, OptionStop::HELP, "a pattern"},
    {"-n", Row::LETTER, Row::CHANGES_KEY, Row::OTHER_RESOURCE_FILE, 0, OptionStop::HELP, "a resource file name"},
    {"--help", Row::WHOLE, Row::NOT_IN_KEY, Row::STOP, 0, OptionStop::HELP},
    {"--version", Row::WHOLE, Row::NOT_IN_KEY, Row::STOP, 0, OptionStop::VERSION},
};

// Bumped whenever the tool would write other bytes for the same inputs.
constexpr std::string_view RECORD_KEY_VERSION = "2";

bool startsOption(const char* argument, const PathRules& rules) {
    return argument[0] == '-' || (rules.slashStartsOption && argument[0] == '/');
}

bool matches(const OptionRow& row, const char* argument) {
    switch (row.match) {
    case Row::WHOLE: return std::strcmp(argument, row.spelling) == 0;
    case Row::LETTER: return argument[1] == row.spelling[1] && argument[2] == '\0';
    case Row::LETTER_LEADS: return argument[1] == row.spelling[1];
    }
    return false;
}

const OptionRow* rowOf(const char* argument) {
    for (const OptionRow& row : TABLE)
        if (matches(row, argument)) return &row;
    return nullptr;
}

OptionStop stopAt(OptionStop::Kind kind, std::string argument, const char* needs = nullptr) {
    return OptionStop{kind, std::move(argument), needs};
}

// What `argument`, the option at argv[i], does to `line`; nothing when the run goes on.
std::optional<OptionStop> applyOption(int argc, const char* const* argv, int& i, CommandLine& line) {
    const char* argument = argv[i];
    const OptionRow* row = rowOf(argument);
    // "-fgame.res" would take the next argument as the file and overwrite what the
    // user named as an input: refused, nothing touched.
    if (!row && argument[1] == 'f') return stopAt(OptionStop::F_WITH_LETTERS, argument);
    if (!row) return stopAt(OptionStop::BAD_OPTION, std::string(1, argument[1]));
    if (row->effect == Row::FLAG) line.options |= row->flag;
    if (row->effect == Row::STOP) return stopAt(row->stops, argument);
    if (row->argumentName == nullptr) return std::nullopt;
    if (i + 1 >= argc) {
        if (row->effect == Row::RESOURCE_FILE) return stopAt(OptionStop::MISSING_FILE_NAME, argument);
        return stopAt(OptionStop::MISSING_ARGUMENT, std::string(1, argument[1]), row->argumentName);
    }
    const char* value = argv[++i];
    if (row->effect == Row::RESOURCE_FILE) line.resFile = value;  // a later -f replaces an earlier one
    if (row->effect == Row::EXCLUSION) line.exclusions.emplace_back(value);
    if (row->effect == Row::OTHER_RESOURCE_FILE) line.otherResourceFiles.emplace_back(value);
    return std::nullopt;
}

}  // namespace

ParsedCommandLine parseCommandLine(int argc, const char* const* argv, const PathRules& rules) {
    ParsedCommandLine parsed;
    for (int i = 1; i < argc; ++i) {
        if (!startsOption(argv[i], rules)) {
            parsed.line.specs.emplace_back(argv[i]);
        } else if (std::optional<OptionStop> stop = applyOption(argc, argv, i, parsed.line)) {
            parsed.stop = std::move(stop);
            break;
        }
    }
    return parsed;
}

OptionTable optionTable() { return OptionTable{TABLE, sizeof TABLE / sizeof TABLE[0]}; }

std::string recordKey(const CommandLine& line, std::string_view workingDirectory,
                      const std::vector<std::string>& otherRecordStamps) {
    std::string key(RECORD_KEY_VERSION);
    appendText(key, workingDirectory);
    for (const OptionRow& row : TABLE)
        if (row.key == Row::CHANGES_KEY && row.effect == Row::FLAG) key += line.isSet(row.flag) ? row.spelling[1] : '-';
    for (const std::string& pattern : line.exclusions) appendText(key, "x" + pattern);
    std::string others;
    for (std::size_t i = 0; i < line.otherResourceFiles.size(); ++i) {
        appendText(others, line.otherResourceFiles[i]);
        appendText(others, i < otherRecordStamps.size() ? otherRecordStamps[i] : std::string());
    }
    appendText(key, others);
    for (const std::string& spec : line.specs) appendText(key, spec);
    return key;
}

std::optional<std::string> directoryOfKey(std::string_view key) {
    if (key.substr(0, RECORD_KEY_VERSION.size()) != RECORD_KEY_VERSION) return std::nullopt;
    key.remove_prefix(RECORD_KEY_VERSION.size());
    const std::optional<std::string_view> directory = takeText(key);
    if (!directory || directory->empty()) return std::nullopt;
    return std::string(*directory);
}
