// Name derivation over arbitrary paths, with both path rules and with and without
// junked paths. The input's first byte picks the rules and -j; the rest is the path.
#include <cstdint>
#include <string>

#include "filespec/resource_name.h"
#include "fuzz/fuzz_check.h"
#include "util/ascii.h"

namespace {

constexpr std::size_t MAX_INPUT = 8192;

std::string upperAscii(std::string text) {
    makeAsciiUpper(text);
    return text;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// POSIX: the upper-cased path, less a run of two or more leading slashes.
std::string posixName(const std::string& path) {
    std::string name = upperAscii(path);
    if (name.size() >= 2 && name[0] == '/' && name[1] == '/') name.erase(0, name.find_first_not_of('/'));
    return name;
}

void checkPosix(const std::string& path, bool junk) {
    const std::string name = deriveResourceName(path, junk, POSIX_PATH_RULES);
    const std::string full = posixName(path);
    if (!junk) {
        FUZZ_CHECK(name == full, "the POSIX name is the upper-cased path without a server prefix");
        FUZZ_CHECK(deriveResourceName(name, false, POSIX_PATH_RULES) == name, "deriving again changes nothing");
    } else {
        const std::size_t slash = full.rfind('/');
        FUZZ_CHECK(name == (slash == std::string::npos ? full : full.substr(slash + 1)), "-j keeps the last component");
    }
}

void checkWin32(const std::string& path, bool junk) {
    const std::string name = deriveResourceName(path, junk, WIN32_PATH_RULES);
    std::string upper = upperAscii(path);
    for (char c : name) FUZZ_CHECK(!(c >= 'a' && c <= 'z'), "no lower-case ASCII letter survives");
    FUZZ_CHECK(name.size() <= path.size(), "a name is never longer than its path");
    if (junk) {
        FUZZ_CHECK(name.find('\\') == std::string::npos, "-j leaves no backslash");
        FUZZ_CHECK(endsWith(upper, name), "-j keeps the end of the path");
        return;
    }
    const bool climbs = name.find("..") != std::string::npos;
    if (!climbs) {
        FUZZ_CHECK(name.find('\\') == std::string::npos, "backslashes become slashes");
        for (char& c : upper)
            if (c == '\\') c = '/';
    }
    FUZZ_CHECK(endsWith(upper, name), "the name is the path less a prefix");
    // Only a drive ("C:" and its root) or a run of leading backslashes is dropped.
    const std::size_t dropped = path.size() - name.size();
    const bool drive = path.size() >= 2 && path[1] == ':' && dropped <= 3;
    const bool server = path.size() >= 2 && path[0] == '\\' && path[1] == '\\' &&
                        path.find_first_not_of('\\') >= dropped;
    FUZZ_CHECK(dropped == 0 || drive || server, "only a drive or server prefix is dropped");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > MAX_INPUT) return 0;
    const std::string path(reinterpret_cast<const char*>(data) + 1, size - 1);
    const bool junk = (data[0] & 2) != 0;
    if (data[0] & 1) checkWin32(path, junk);
    else checkPosix(path, junk);
    return 0;
}
