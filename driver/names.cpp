// The names other resource files hold (-n), and names that must not be shared (-d).
// The records are record/'s; here is what the run takes from them and says.
#include "driver/raduza.h"

namespace {

std::string stampText(const FileStamp& stamp) {
    return std::to_string(stamp.size) + ' ' + std::to_string(stamp.changed) + ' ' + std::to_string(stamp.id.volume) +
           ' ' + std::to_string(stamp.id.index);
}

}  // namespace

Result<RecordReader> RADUza::readRecordOf(const std::string& resourceFile, const Result<PathStatus>& resource) {
    const std::string recordPath = recordPathOf(resourceFile);
    Result<RecordReader> record = RecordReader::read(fs_, recordPath, resource ? *resource : PathStatus{});
    if (!record && record.error().isNotRegular()) msg<MSG_RECORD_NOT_A_FILE>(recordPath.c_str());
    return record;
}

bool RADUza::loadOtherRecords() {
    for (const std::string& other : commandLine_.otherResourceFiles) {
        const std::optional<FileStamp> stamp = stampOf(fs_, recordPathOf(other));
        Result<RecordReader> record = readRecordOf(other, fs_.status(other));
        const Result<RecordedEntries> entries = record ? RecordedEntries::of(*record) : record.error();
        if (!stamp || !entries) {
            msg<MSG_NO_RECORD>(other.c_str());
            return false;
        }
        otherRecordStamps_.push_back(stampText(*stamp));
        const std::optional<std::string> directory = directoryOfKey(record->key());
        const std::string where = " (in " + fullPath(other) + ")";
        for (std::size_t i = 0; i < entries->size(); ++i) {
            const RecordEntry& entry = (*entries)[i];
            if (entry.name.empty()) continue;
            // By its full path: the other run's paths are relative to where it ran.
            const std::string path(entry.path);
            otherNames_.emplace_back(entry.name, (directory ? fullPathIn(*directory, path) : path) + where);
        }
    }
    return true;
}

bool RADUza::reportDuplicate(const std::string& path, std::string_view key) {
    const std::optional<std::string> first = claimants_.firstOf(key);
    if (first && *first == path) return false;  // the file that holds the name, named again
    // By their full paths: the two may come from runs in different directories (-n).
    const std::string firstPath = first ? fullPath(*first) : "an earlier file";
    msg<MSG_DUPLICATE_NAME>(firstPath.c_str(), fullPath(path).c_str(), std::string(curName).c_str());
    meet(Trouble::SHARED_NAME);
    return true;
}

std::string RADUza::fullPathIn(const std::string& directory, const std::string& path) const {
    const bool absolute = !path.empty() && (path[0] == rules_.separator || path[0] == '/' ||
                                            (rules_.hasDrivePrefixes && path.size() >= 2 && path[1] == ':'));
    if (absolute || directory.empty()) return path;
    return directory.back() == rules_.separator ? directory + path : directory + rules_.separator + path;
}

std::string RADUza::fullPath(const std::string& path) const { return fullPathIn(workingDirectory_.value_or(""), path); }
