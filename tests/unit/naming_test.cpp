// The naming rule on both platforms' paths.
#include <gtest/gtest.h>

#include "filespec/resource_name.h"

namespace {

struct NamingCase {
    const char* path;
    const char* name;
    const char* junkedName;
};

void expectNames(const std::vector<NamingCase>& cases, const PathRules& rules) {
    for (const NamingCase& c : cases) {
        EXPECT_EQ(deriveResourceName(c.path, false, rules), c.name) << c.path;
        EXPECT_EQ(deriveResourceName(c.path, true, rules), c.junkedName) << c.path << " with -j";
    }
}

TEST(Naming, Win32PathsFollowTheNamingTable) {
    expectNames({{"foo\\bar.gif", "FOO/BAR.GIF", "BAR.GIF"},
                 {"C:\\images\\logo.gif", "IMAGES/LOGO.GIF", "LOGO.GIF"},
                 {"\\\\server\\share\\a.gif", "SERVER/SHARE/A.GIF", "A.GIF"},
                 {"\\img\\a.gif", "/IMG/A.GIF", "A.GIF"},
                 {"..\\img\\a.gif", "..\\IMG\\A.GIF", "A.GIF"},
                 {".\\a.gif", "./A.GIF", "A.GIF"},
                 {"img/a.gif", "IMG/A.GIF", "IMG/A.GIF"},
                 {"a.gif", "A.GIF", "A.GIF"},
                 {"dir\\a..b.gif", "DIR\\A..B.GIF", "A..B.GIF"},
                 {"d\\\\x.gif", "D//X.GIF", "X.GIF"},
                 {"\xE9t\xE9.gif", "\xE9T\xE9.GIF", "\xE9T\xE9.GIF"}},
                WIN32_PATH_RULES);
}

TEST(Naming, Win32DriveRelativePathsKeepTheWholeFileName) {
    expectNames({{"c:x.gif", "X.GIF", "X.GIF"}, {"c:", "", ""}, {"C:/a/b.gif", "A/B.GIF", "A/B.GIF"}}, WIN32_PATH_RULES);
}

TEST(Naming, PosixPathsFollowTheNamingTableWithSlashes) {
    expectNames({{"foo/bar.gif", "FOO/BAR.GIF", "BAR.GIF"},
                 {"//server/share/a.gif", "SERVER/SHARE/A.GIF", "A.GIF"},
                 {"/img/a.gif", "/IMG/A.GIF", "A.GIF"},
                 {"../img/a.gif", "../IMG/A.GIF", "A.GIF"},
                 {"./a.gif", "./A.GIF", "A.GIF"},
                 {"img\\a.gif", "IMG\\A.GIF", "IMG\\A.GIF"},
                 {"c:x.gif", "C:X.GIF", "C:X.GIF"},
                 {"a.gif", "A.GIF", "A.GIF"}},
                POSIX_PATH_RULES);
}

TEST(Naming, BuildsNamesOfAnyLength) {
    const std::string path = std::string(5000, 'a') + "/" + std::string(3000, 'b');
    EXPECT_EQ(deriveResourceName(path, false, POSIX_PATH_RULES), std::string(5000, 'A') + "/" + std::string(3000, 'B'));
}

}  // namespace
