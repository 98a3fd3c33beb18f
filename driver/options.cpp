#include "driver/options.h"

#include <cstring>

#include "record/input_record.h"

namespace {

// Bumped whenever the tool would write other bytes for the same inputs.
constexpr std::string_view RECORD_KEY_VERSION = "2";

bool startsOption(const char* argument, const PathRules& rules) {
    return argument[0] == '-' || (rules.slashStartsOption && argument[0] == '/');
}

bool matches(const OptionRow& row, const char* argument) {
    if (row.spelling[2] != '\0') return std::strcmp(argument, row.spelling) == 0;
    return argument[1] == row.spelling[1] && (row.match == OptionRow::LETTERS_FOLLOW || argument[2] == '\0');
}

const OptionRow* rowOf(const char* argument) {
    for (const OptionRow& row : OPTION_TABLE)
        if (matches(row, argument)) return &row;
    return nullptr;
}

// What `argument`, the option at argv[i], does to `line`; nothing when the run goes on.
std::optional<OptionStop> applyOption(int argc, const char* const* argv, int& i, CommandLine& line) {
    const char* argument = argv[i];
    const OptionRow* row = rowOf(argument);
    // "-fgame.res" would take the next argument as the file and overwrite what the
    // user named as an input: refused, nothing touched.
    if (!row && argument[1] == 'f') return OptionStop{OptionStop::F_WITH_LETTERS, argument};
    if (!row) return OptionStop{OptionStop::BAD_OPTION, std::string(1, argument[1])};
    if (row->effect == OptionRow::FLAG) line.options |= row->flag;
    if (row->effect == OptionRow::STOP) return OptionStop{row->stops, argument};
    if (row->argumentName == nullptr) return std::nullopt;
    if (i + 1 >= argc) {
        if (row->effect == OptionRow::RESOURCE_FILE) return OptionStop{OptionStop::MISSING_FILE_NAME, argument};
        return OptionStop{OptionStop::MISSING_ARGUMENT, std::string(1, argument[1]), row->argumentName};
    }
    const char* value = argv[++i];
    if (row->effect == OptionRow::RESOURCE_FILE) line.resFile = value;  // a later -f replaces an earlier one
    if (row->effect == OptionRow::EXCLUSION) line.exclusions.emplace_back(value);
    if (row->effect == OptionRow::OTHER_RESOURCE_FILE) line.otherResourceFiles.emplace_back(value);
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

std::string recordKey(const CommandLine& line, std::string_view workingDirectory,
                      const std::vector<std::string>& otherRecordStamps) {
    std::string key(RECORD_KEY_VERSION);
    appendText(key, workingDirectory);
    for (const OptionRow& row : OPTION_TABLE)
        if (row.key == OptionRow::CHANGES_KEY && row.effect == OptionRow::FLAG)
            key += line.isSet(row.flag) ? row.spelling[1] : '-';
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
