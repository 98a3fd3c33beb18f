// Files and directories left out of walks and searches by pattern.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// A pattern without a '/' is matched against the last name of what a walk or a
// search finds, at any depth; a pattern with one is matched against its whole path
// below the directory walked, names joined by '/' whatever the platform's separator.
// `*` matches any run of characters ('/' included), `?` any one, and ASCII letters
// match either case, as in the tool's other patterns. A directory left out is not
// walked. What the command line names itself is never left out.
class Exclusions {
public:
    void add(std::string pattern) { patterns_.push_back(std::move(pattern)); }
    bool empty() const { return patterns_.empty(); }
    const std::vector<std::string>& patterns() const { return patterns_; }
    // `below` is the path under the walked directory, with the platform's separators.
    bool leavesOut(std::string_view below, std::string_view name, char separator) const;

private:
    std::vector<std::string> patterns_;
};
