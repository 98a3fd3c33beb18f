// raduza-list: where extraction may write, the listing's lines, and the real
// program on good, broken and hostile resource files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "lister/lister.h"
#include "tests/bundle/program_builder.h"
#include "tests/bundle/res_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace fs = std::filesystem;

namespace {

std::string describe(const RelativePath& path) {
    if (path.refusal != Refusal::NONE) return describeRefusal(path.refusal);
    std::string joined;
    for (const std::u16string& component : path.components)
        joined += "[" + raduza::toUtf8(component) + "]";
    return joined;
}

TEST(Extraction, PlacesANameBelowTheDirectoryOrSaysWhyNot) {
    const std::string absolute = describeRefusal(Refusal::ABSOLUTE_NAME), drive = describeRefusal(Refusal::DRIVE_PREFIX),
                      server = describeRefusal(Refusal::SERVER_PREFIX),
                      parent = describeRefusal(Refusal::PARENT_DIRECTORY), empty = describeRefusal(Refusal::EMPTY_NAME),
                      invalid = describeRefusal(Refusal::NOT_A_FILE_NAME),
                      unrepresentable = describeRefusal(Refusal::UNREPRESENTABLE);
    const struct {
        std::u16string name;
        std::string posix;
        std::string win32;
    } cases[] = {
        {u"ASSETS/IMAGES/LOGO.GIF", "[ASSETS][IMAGES][LOGO.GIF]", "[ASSETS][IMAGES][LOGO.GIF]"},
        {u"./A.GIF", "[A.GIF]", "[A.GIF]"},
        {u"A//B/./C", "[A][B][C]", "[A][B][C]"},
        {u"A..B/.HIDDEN", "[A..B][.HIDDEN]", "[A..B][.HIDDEN]"},
        {u"CAF\u00e9.TXT", "[CAF\xc3\xa9.TXT]", "[CAF\xc3\xa9.TXT]"},
        {u"/ABS/A.GIF", absolute, absolute},
        {u"\\ABS\\A.GIF", "[\\ABS\\A.GIF]", absolute},
        {u"//SERVER/SHARE/A", server, server},
        {u"\\\\SERVER\\SHARE\\A", "[\\\\SERVER\\SHARE\\A]", server},
        {u"/\\SERVER", absolute, server},
        {u"C:X.GIF", drive, drive},
        {u"C:/WINDOWS/X", drive, drive},
        {u"z:\\X", drive, drive},
        {u"1:X", "[1:X]", invalid},
        {u"..", parent, parent},
        {u"../X", parent, parent},
        {u"A/../../X", parent, parent},
        {u"A/B/..", parent, parent},
        {u"..\\IMG\\A.GIF", "[..\\IMG\\A.GIF]", parent},
        {u"A\\..\\..\\X", "[A\\..\\..\\X]", parent},
        {u"", empty, empty},
        {u".", empty, empty},
        {u"./.", empty, empty},
        {u"/", absolute, absolute},
        {u"CON", "[CON]", invalid},
        {u"DIR/nul.txt", "[DIR][nul.txt]", invalid},
        {u"COM1.LOG", "[COM1.LOG]", invalid},
        {u"CONSOLE", "[CONSOLE]", "[CONSOLE]"},
        {u"A|B", "[A|B]", invalid},
        {u"WHY?", "[WHY?]", invalid},
        {u"DOT.", "[DOT.]", invalid},
        {u"SPACE ", "[SPACE ]", invalid},
        {u"TAB\tX", "[TAB\tX]", invalid},
        {std::u16string(u"NUL") + u'\0' + u"X", unrepresentable, unrepresentable},
        {std::u16string(u"HALF") + char16_t(0xD800) + u"/X", unrepresentable, unrepresentable},
        {std::u16string(u"X/") + char16_t(0xDC00), unrepresentable, unrepresentable},
        {std::u16string(u"PAIR") + char16_t(0xD83D) + char16_t(0xDE00), "[PAIR\xF0\x9F\x98\x80]", "[PAIR\xF0\x9F\x98\x80]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(raduza::toUtf8(c.name));
        EXPECT_EQ(describe(relativePathOf(c.name, POSIX_EXTRACT_RULES)), c.posix);
        EXPECT_EQ(describe(relativePathOf(c.name, WIN32_EXTRACT_RULES)), c.win32);
    }
}

TEST(Listing, ShowsSizeNameAndAnyTypeButRtRaduza) {
    const std::string image = ResBuilder()
                                  .file(u"A.GIF", "12345")
                                  .add(std::uint16_t{3}, std::uint16_t{1}, std::string(40, 'i'))
                                  .add(u"OTHER", u"LINE\nBREAK", "")
                                  .file(u"C1\u0080\u0085\u009f DEL\u007f NBSP\u00a0", "c1")
                                  .file(u"CAF\u00e9.TXT", std::string(1234567, 'c'))
                                  .file(std::u16string(u"PAIR\U0001F600 LOW") + char16_t(0xDC00) + u" HIGH" + char16_t(0xD83D), "")
                                  .bytes();
    std::vector<std::string> lines;
    raduza::walkResources(image.data(), image.size(),
                          [&](const raduza::ResourceEntry& entry) { lines.push_back(listingLine(entry)); });
    EXPECT_EQ(lines, (std::vector<std::string>{"         5  A.GIF", "        40  #1  (type #3)",
                                               "         0  LINE\\x0ABREAK  (type OTHER)",
                                               "         2  C1\\x80\\x85\\x9F DEL\\x7F NBSP\xc2\xa0",
                                               "   1234567  CAF\xc3\xa9.TXT",
                                               "         0  PAIR\xf0\x9f\x98\x80 LOW\\xDC00 HIGH\\xD83D"}));
}

#ifdef _WIN32
std::string listerPath() {
    const std::string tool = toolPath();
    return tool.substr(0, tool.size() - std::string("raduza.exe").size()) + "raduza-list.exe";
}
#else
std::string listerPath() { return RADUZA_LIST_PATH; }
#endif

// Console output with Windows line ends made plain.
std::string plain(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

class Lister : public ::testing::Test {
protected:
    ToolResult list(const std::vector<std::string>& arguments) const {
        std::vector<std::string> commandLine{listerPath()};
        commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
        return runProgram(commandLine, dir.path());
    }
    // Every file below `relative`, by '/'-separated path, with its bytes.
    std::map<std::string, std::string> filesBelow(const std::string& relative) const {
        std::map<std::string, std::string> files;
        const fs::path root = fs::path(dir.path()) / relative;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (entry.is_directory()) continue;
            const std::string path = fs::relative(entry.path(), root).generic_u8string();
            files[path] = dir.readFile(relative + "/" + path);
        }
        return files;
    }

    TempDir dir;
};

TEST_F(Lister, ListsWhatTheToolStoredAndChecksTheStructure) {
    dir.writeFile("assets/a.gif", "GIF89a");
    dir.writeFile("assets/sub/empty.txt", "");
    ASSERT_EQ(runTool({"-q", "-r", "-f", "assets.res", "assets"}, dir.path()).exitStatus, 0);
    const ToolResult listed = list({"assets.res"});
    EXPECT_EQ(listed.exitStatus, 0) << listed.errors;
    EXPECT_EQ(plain(listed.output), "         0  ASSETS/SUB/EMPTY.TXT\n         6  ASSETS/A.GIF\n");
    EXPECT_EQ(listed.errors, "");

    const std::string whole = dir.readFile("assets.res");
    dir.writeFile("cut.res", whole.substr(0, whole.size() - 4));
    const ToolResult cut = list({"cut.res"});
    EXPECT_EQ(cut.exitStatus, 1);
    EXPECT_EQ(plain(cut.output), "         0  ASSETS/SUB/EMPTY.TXT\n");
    EXPECT_NE(cut.errors.find("cut.res: not a valid resource file: an entry's data runs past the end (at offset "),
              std::string::npos)
        << cut.errors;

    dir.writeFile("text.res", "not a resource file at all, but long enough to be read as one");
    const ToolResult foreign = list({"text.res"});
    EXPECT_EQ(foreign.exitStatus, 1);
    EXPECT_NE(foreign.errors.find("(at offset 0)"), std::string::npos) << foreign.errors;
    const ToolResult missing = list({"missing.res"});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_EQ(plain(missing.errors), "raduza-list: cannot read missing.res: No such file or directory\n");
    const ToolResult extractedFromBroken = list({"-x", "out", "cut.res"});
    EXPECT_EQ(extractedFromBroken.exitStatus, 1);
    EXPECT_FALSE(dir.exists("out/ASSETS"));
}

// A damaged program file is named by its kind, with what is wrong and where.
TEST_F(Lister, SaysWhatIsWrongWithAProgramFileAndWhere) {
    std::string loop = program_builder::Pe::image(u"A.TXT", "a");
    program_builder::put(loop, program_builder::Pe::RSRC_AT + program_builder::Pe::NAME_ENTRY + 4, 0x80000000u, 4);
    dir.writeFile("loop.exe", loop);
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"loop.exe"}, {"-x", "out", "loop.exe"}}) {
        const ToolResult result = list(arguments);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(plain(result.errors), "raduza-list: loop.exe: not a valid PE file: the resource directory reaches one "
                                        "of its tables twice (at offset 552)\n");
    }
    EXPECT_FALSE(dir.exists("out/A.TXT"));
}

// A resource with a number or an empty name names no file: each is warned of by
// its offset, the rest extracted, and the status says not everything was.
TEST_F(Lister, WarnsOfEachResourceThatNamesNoFileAndExtractsTheRest) {
    dir.writeFile("unnamed.res", ResBuilder()
                                     .file(u"FIRST.TXT", "1")
                                     .add(u"RT_RADUZA", std::uint16_t{7}, "numbered")
                                     .add(std::uint16_t{3}, std::uint16_t{1}, "another type")
                                     .file(u"", "empty")
                                     .file(u"LAST.TXT", "2")
                                     .bytes());
    const ToolResult result = list({"-x", "out", "unnamed.res"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(plain(result.errors),
              "raduza-list: warning: not extracting #7 (at offset 100): it has a number, not a name\n"
              "raduza-list: warning: not extracting the resource at offset 200: its name is empty\n");
    EXPECT_EQ(filesBelow("out"), (std::map<std::string, std::string>{{"FIRST.TXT", "1"}, {"LAST.TXT", "2"}}));
}

// A file already there, a hard link to a file outside among them, is replaced by
// a new file, never written through.
TEST_F(Lister, ReplacesAFileAlreadyThereWithoutWritingThroughIt) {
    const fs::path root(dir.path());
    dir.writeFile("outside/keep.txt", "untouched");
    dir.writeFile("out/OLD.TXT", "old");
    fs::create_hard_link(root / "outside" / "keep.txt", root / "out" / "HARD.TXT");
    dir.writeFile("replace.res", ResBuilder().file(u"HARD.TXT", "new").file(u"OLD.TXT", "replaced").bytes());
    const ToolResult result = list({"-x", "out", "replace.res"});
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(filesBelow("outside"), (std::map<std::string, std::string>{{"keep.txt", "untouched"}}));
    EXPECT_EQ(filesBelow("out"), (std::map<std::string, std::string>{{"HARD.TXT", "new"}, {"OLD.TXT", "replaced"}}));
}

TEST_F(Lister, RejectsArgumentsItDoesNotKnowWithTheUsage) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {"-y", "a.res"}, {"a.res", "b.res"}, {"-x"}, {"-x", "dir"}}) {
        const ToolResult result = list(arguments);
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_NE(result.errors.find("usage: raduza-list"), std::string::npos);
    }
}

TEST_F(Lister, RefusesEveryNameThatWouldEscapeTheDirectory) {
    std::vector<std::u16string> escaping{u"/ABS.TXT", u"//SERVER/SHARE/X.TXT", u"C:X.TXT", u"C:/X.TXT",
                                         u"../UP.TXT", u"A/../../UP2.TXT", u"A/B/../../../UP3.TXT"};
#ifdef _WIN32
    for (const char16_t* name : {u"\\ABS2.TXT", u"\\\\SERVER\\X.TXT", u"..\\UP4.TXT", u"A\\..\\..\\UP5.TXT"})
        escaping.push_back(name);
#endif
    ResBuilder image;
    image.file(u"INSIDE/OK.TXT", "ok");
    for (const std::u16string& name : escaping) image.file(name, "escaped");
    dir.writeFile("hostile.res", image.bytes());
    dir.makeDirectory("work");
    const ToolResult result = runProgram({listerPath(), "-x", "out", "../hostile.res"}, dir.path() + "/work");

    EXPECT_EQ(result.exitStatus, 1);
    for (const std::u16string& name : escaping)
        EXPECT_NE(result.errors.find("not extracting " + raduza::toUtf8(name) + ": it "), std::string::npos)
            << raduza::toUtf8(name) << " was not refused: " << result.errors;
    EXPECT_EQ(filesBelow("work"), (std::map<std::string, std::string>{{"out/INSIDE/OK.TXT", "ok"}}));
    EXPECT_EQ(filesBelow("").size(), 2u) << "a file was written beside the extraction directory";
}

#ifndef _WIN32
TEST_F(Lister, RefusesToWriteThroughASymbolicLinkAlreadyInTheDirectory) {
    dir.writeFile("outside/keep.txt", "untouched");
    dir.makeDirectory("out");
    fs::create_directory_symlink(fs::path(dir.path()) / "outside", fs::path(dir.path()) / "out" / "LINK");
    fs::create_symlink(fs::path(dir.path()) / "outside" / "keep.txt", fs::path(dir.path()) / "out" / "FILE.TXT");
    dir.writeFile("links.res", ResBuilder()
                                   .file(u"LINK/KEEP.TXT", "overwritten")
                                   .file(u"LINK/NEW.TXT", "new")
                                   .file(u"FILE.TXT", "overwritten")
                                   .file(u"FINE.TXT", "fine")
                                   .bytes());
    const ToolResult result = list({"-x", "out", "links.res"});
    EXPECT_EQ(result.exitStatus, 1);
    for (const char* name : {"LINK/KEEP.TXT", "LINK/NEW.TXT", "FILE.TXT"})
        EXPECT_NE(result.errors.find(std::string("not extracting ") + name + ": it would pass through a symbolic link"),
                  std::string::npos)
            << result.errors;
    EXPECT_EQ(filesBelow("outside"), (std::map<std::string, std::string>{{"keep.txt", "untouched"}}));
    EXPECT_EQ(dir.readFile("out/FINE.TXT"), "fine");
}

// Planted below the extraction directory by someone else: a FIFO, a directory, a
// link to a directory. Nothing is written through and nothing blocks.
TEST_F(Lister, NeverWritesThroughOrWaitsOnWhatIsPlantedInTheDirectory) {
    const fs::path root(dir.path());
    dir.writeFile("outside/keep.txt", "untouched");
    dir.makeDirectory("out/DIR");
    ASSERT_EQ(::mkfifo((root / "out" / "FIFO").c_str(), 0644), 0);
    fs::create_directory_symlink(root / "outside", root / "out" / "SUB");
    dir.writeFile("planted.res", ResBuilder()
                                     .file(u"FIFO", "x")
                                     .file(u"DIR", "x")
                                     .file(u"FIFO/X", "x")
                                     .file(u"SUB/NEW.TXT", "x")
                                     .bytes());
    const ToolResult result = list({"-x", "out", "planted.res"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.errors,
              "raduza-list: warning: not extracting DIR: it collides with something already there that is not a directory or a regular file\n"
              "raduza-list: warning: not extracting FIFO: it collides with something already there that is not a directory or a regular file\n"
              "raduza-list: warning: not extracting FIFO/X: it collides with something already there that is not a directory or a regular file\n"
              "raduza-list: warning: not extracting SUB/NEW.TXT: it would pass through a symbolic link\n");
    EXPECT_EQ(filesBelow("outside"), (std::map<std::string, std::string>{{"keep.txt", "untouched"}}));
}

// Names no file name can hold are refused one by one, by name; the rest is
// extracted. (A NUL ends a stored name, so only the name's rules above meet one.)
TEST_F(Lister, RefusesNamesTheSystemCannotHoldAndExtractsTheRest) {
    dir.writeFile("odd.res", ResBuilder()
                                 .file(std::u16string(u"HALF") + char16_t(0xD800) + u".TXT", "x")
                                 .file(u"FINE.TXT", "fine")
                                 .file(u"DIR/" + std::u16string(300, u'N'), "too long")
                                 .bytes());
    const ToolResult result = list({"-x", "out", "odd.res"});
    EXPECT_EQ(result.exitStatus, 1);
    const std::string unrepresentable = ": it holds a character no file name can (a NUL, or half of a UTF-16 pair)\n";
    // In name order; the lone surrogate escaped, as a control character is, so the line stays UTF-8.
    EXPECT_EQ(result.errors, "raduza-list: warning: not extracting DIR/" + std::string(300, 'N') +
                                 ": it could not be written: File name too long\n"
                                 "raduza-list: warning: not extracting HALF\\xD800.TXT" + unrepresentable);
    EXPECT_EQ(filesBelow("out"), (std::map<std::string, std::string>{{"FINE.TXT", "fine"}}));
}

TEST_F(Lister, ReadsStandardInput) {
    dir.writeFile("a.res", ResBuilder().file(u"A", "a").bytes());
    const ToolResult result = runProgram({"sh", "-c", "exec \"$0\" - < a.res", listerPath()}, dir.path());
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(result.output, "         1  A\n");
}
#endif

// A tree whose names the tool stores as they are (no lower-case ASCII letters):
// every printable ASCII character a file name can hold here, non-ASCII names,
// empty files, hidden files, nesting, and 1,000 entries in one directory.
std::map<std::string, std::string> roundTripTree() {
    std::map<std::string, std::string> tree;
#ifdef _WIN32
    const std::string forbidden = "/<>:\"\\|?*";
#else
    const std::string forbidden = "/";
#endif
    for (char c = ' '; c <= '~'; ++c) {
        if (forbidden.find(c) != std::string::npos || (c >= 'a' && c <= 'z')) continue;
        tree[std::string("TREE/CHARS/X") + c + "Y"] = std::string(1, c) + std::string(static_cast<std::size_t>(c) % 5, '\0');
    }
#ifndef _WIN32
    tree["TREE/\xc3\x89T\xc3\xa9/\xc2\xa3.BIN"] = "pound";  // ÉTé/£.BIN: non-ASCII letters keep their case
    tree["TREE/\xe2\x82\xac"] = "euro";
#endif
    tree["TREE/EMPTY"] = "";
    tree["TREE/.HIDDEN"] = "hidden";
    tree["TREE/A/B/C/D/DEEP.DAT"] = std::string("\0\r\n\x1a\xff", 5);
    for (int i = 0; i < 1000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "TREE/MANY/F%04d", i);
        tree[name] = std::string(static_cast<std::size_t>(i % 7), static_cast<char>('A' + i % 26));
    }
    return tree;
}

TEST_F(Lister, ExtractsTheTreeTheToolStoredByteForByte) {
    const std::map<std::string, std::string> tree = roundTripTree();
    for (const auto& [path, bytes] : tree) dir.writeFile(path, bytes);
    const ToolResult stored = runTool({"-q", "-r", "-f", "tree.res", "TREE"}, dir.path());
    ASSERT_EQ(stored.exitStatus, 0) << stored.output;
    const ToolResult extracted = list({"-x", "out", "tree.res"});
    EXPECT_EQ(extracted.exitStatus, 0) << extracted.errors;
    EXPECT_EQ(extracted.errors, "");
    std::map<std::string, std::string> expected;
    for (const auto& [path, bytes] : tree) expected[path] = bytes;
    const std::map<std::string, std::string> found = filesBelow("out");
    EXPECT_EQ(found.size(), expected.size());
    EXPECT_TRUE(found == expected) << "the extracted tree differs from the stored one";
}

}  // namespace
