// The bundle that raduza_add_resources embedded in this test program (two calls,
// one with JUNK_PATHS), read back through Bundle::ofProgram().
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "raduza/bundle.h"
#include "tests/support/tool_process.h"

namespace fs = std::filesystem;

namespace {

std::string upperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TEST(EmbeddedBundle, HoldsEveryFileOfEveryCallForTheProgram) {
    const fs::path fixture = RADUZA_BUNDLE_FIXTURE;
    std::map<std::string, std::string> expected;
    for (const auto& entry : fs::recursive_directory_iterator(fixture / "assets"))
        if (entry.is_regular_file())
            expected[upperAscii(fs::relative(entry.path(), fixture).generic_string())] = contentOf(entry.path());
    expected["JUNKED.TXT"] = contentOf(fixture / "more" / "junked.txt");
    ASSERT_EQ(expected.size(), 8u);

    static const raduza::Bundle bundle = raduza::Bundle::ofProgram();
    ASSERT_TRUE(bundle.ok()) << raduza::describe(bundle.error());
    std::map<std::string, std::string> embedded;
    for (const raduza::BundleFile& file : bundle) embedded[file.utf8Name()] = std::string(file.bytes.text());
    EXPECT_EQ(embedded, expected);
    EXPECT_EQ(bundle.open("assets/a;b.txt")->text(), "semicolon\n");
    EXPECT_TRUE(bundle.isDirectory("assets/sub"));
    for (const raduza::BundleFile& file : bundle)  // what the section's alignment gives
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(file.bytes.data()) % 4, 0u) << file.utf8Name();
}

// raduza-list reads the bundle section of this very program, and of a shared
// library, as the programs themselves read it.
TEST(EmbeddedBundle, RaduzaListListsAndExtractsWhatAProgramOrLibraryCarries) {
    static const raduza::Bundle bundle = raduza::Bundle::ofProgram();
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    std::string expected;  // the section's resource files in the order they lie
    raduza::walkResources(__start_raduza_bundle, __stop_raduza_bundle - __start_raduza_bundle,
                          [&](const raduza::ResourceEntry& entry) {
                              char size[16];
                              std::snprintf(size, sizeof size, "%10zu  ", entry.data.size());
                              expected += size + raduza::toUtf8(entry.name.text()) + "\n";
                          });
    ASSERT_EQ(std::count(expected.begin(), expected.end(), '\n'), static_cast<std::ptrdiff_t>(bundle.size()));
    const ToolResult listed = runProgram({RADUZA_LIST_PATH, self}, ".");
    EXPECT_EQ(listed.exitStatus, 0) << listed.errors;
    EXPECT_EQ(listed.output, expected);

    const fs::path out = fs::temp_directory_path() / ("raduza-embedded-" + std::to_string(::getpid()));
    const ToolResult extracted = runProgram({RADUZA_LIST_PATH, "-x", out.string(), self}, ".");
    EXPECT_EQ(extracted.exitStatus, 0) << extracted.errors;
    for (const raduza::BundleFile& file : bundle) EXPECT_EQ(contentOf(out / file.utf8Name()), file.bytes.text());
    fs::remove_all(out);

    const ToolResult library = runProgram({RADUZA_LIST_PATH, RADUZA_MODULE_LIBRARY}, ".");
    EXPECT_EQ(library.exitStatus, 0) << library.errors;
    EXPECT_EQ(library.output, "        22  LIBRARY/SUB/THREE.TXT\n        19  LIBRARY/TWO.TXT\n");
}

// What tests/bundle/modules/program prints, linked with its own bundle or without one.
std::string moduleReport(const std::string& program, const std::string& executable) {
    const std::string library = "LIBRARY/SUB/THREE.TXT LIBRARY/TWO.TXT ";
    return "program: " + program + "\nprogram's executable: " + executable + "\nlibrary: " + library +
           "\nlibrary's executable: " + executable + "\n";
}

TEST(EmbeddedBundle, EachModuleReadsItsOwnBundleAndALibraryReachesTheExecutablesOnRequest) {
    const ToolResult bundled = runProgram({RADUZA_MODULE_BUNDLED}, ".");
    ASSERT_EQ(bundled.exitStatus, 0) << bundled.errors;
    EXPECT_EQ(bundled.output, moduleReport("PROGRAM/ONE.TXT ", "PROGRAM/ONE.TXT "));
    const ToolResult plain = runProgram({RADUZA_MODULE_PLAIN}, ".");
    ASSERT_EQ(plain.exitStatus, 0) << plain.errors;
    EXPECT_EQ(plain.output, moduleReport("", ""));
}

}  // namespace
