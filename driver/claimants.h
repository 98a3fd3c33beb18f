// Who stored each name, for -d's report of a name two files would share. Every
// stored file adds its name and path, so they go to one growing string rather than
// two allocations each; the index is made only when a name is first asked for,
// which is when the run has already failed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

class Claimants {
public:
    // `name` as the resource file holds it, stored from `path`; a name added again keeps its first path.
    void add(std::string_view name, std::string_view path);
    // The path that first stored `name`; nothing when none did.
    std::optional<std::string> firstOf(std::string_view name);

private:
    void putText(std::string_view text);
    std::string_view textAt(std::size_t& at) const;

    std::string log_;  // name and path of each claim, each text after its 4-byte length
    std::unordered_map<std::string, std::string> index_;
    std::size_t indexedTo_ = 0;  // how much of the log the index holds
};
