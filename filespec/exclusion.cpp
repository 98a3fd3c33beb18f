#include "filespec/exclusion.h"

#include "platform/wildcard.h"

namespace {

bool holdsSlash(std::string_view pattern) { return pattern.find('/') != std::string_view::npos; }

}  // namespace

bool Exclusions::leavesOut(std::string_view below, std::string_view name, char separator) const {
    std::string slashed;
    for (const std::string& pattern : patterns_) {
        if (!holdsSlash(pattern)) {
            if (wildcardMatch(pattern, name)) return true;
            continue;
        }
        if (slashed.empty()) {
            slashed.assign(below);
            for (char& c : slashed)
                if (c == separator) c = '/';
        }
        if (wildcardMatch(pattern, slashed)) return true;
    }
    return false;
}
