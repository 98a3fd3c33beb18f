// The wildcard matcher against a plain dynamic-programming reference. The input's
// first byte says how long the pattern is; the rest is pattern, then name.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/wildcard.h"

namespace {

constexpr std::size_t MAX_LENGTH = 200;  // keeps the quadratic reference quick

char foldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// matches[i][j]: the first i pattern characters match the first j name characters.
bool referenceMatch(const std::string& pattern, const std::string& name) {
    if (pattern == "*.*") return true;
    std::vector<std::vector<bool>> matches(pattern.size() + 1, std::vector<bool>(name.size() + 1, false));
    matches[0][0] = true;
    for (std::size_t i = 1; i <= pattern.size(); ++i) {
        const char p = pattern[i - 1];
        for (std::size_t j = 0; j <= name.size(); ++j) {
            if (p == '*') matches[i][j] = matches[i - 1][j] || (j > 0 && matches[i][j - 1]);
            else if (j > 0) matches[i][j] = matches[i - 1][j - 1] && (p == '?' || foldAscii(p) == foldAscii(name[j - 1]));
        }
    }
    return matches[pattern.size()][name.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = data[0] % (rest.size() + 1);
    const std::string pattern = rest.substr(0, split);
    const std::string name = rest.substr(split);
    if (pattern.size() > MAX_LENGTH || name.size() > MAX_LENGTH) return 0;
    FUZZ_CHECK(wildcardMatch(pattern, name) == referenceMatch(pattern, name), "the matcher agrees with the reference");
    return 0;
}
