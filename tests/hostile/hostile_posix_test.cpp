// Hostile trees only POSIX can build: every byte value in a name, names that widen
// to the ordinal marker, very long paths, deep and wide trees, link cycles, FIFOs,
// sockets and devices, and a standard output on a full disk.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <sys/time.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "platform/name_order.h"
#include "platform/text.h"
#include "resfile/resource_output.h"
#include "tests/hostile/hostile.h"
#include "tests/support/fake_run.h"
#include "tests/hostile/streaming_run_posix.h"
#include "util/ascii.h"

namespace {

std::string upperAscii(std::string text) {
    makeAsciiUpper(text);
    return text;
}

void createEmptyFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ::close(fd);
}

std::vector<std::string> sortedInNameOrder(std::vector<std::string> names) {
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return precedesInNameOrder(a, b); });
    return names;
}

TEST_F(Hostile, StoresNamesMadeOfEveryByteValue) {
    std::string everyByte;  // one name of 254 bytes: all but NUL and '/'
    std::vector<std::string> names;
    for (int value = 1; value <= 0xFF; ++value) {
        if (value == '/') continue;
        everyByte += static_cast<char>(value);
        if (value >= 'a' && value <= 'z') continue;  // the same resource name as its capital
        names.push_back(std::string(1, static_cast<char>(value)) + "_");
        dir.writeFile("bytes/" + names.back(), names.back());
    }
    names.push_back(everyByte);
    dir.writeFile("bytes/" + everyByte, "all");

    // The name holds '*' and '?', so as a spec it is a pattern that matches itself.
    const ToolResult result = run({"-q", "-r", "-f", "out.res", "bytes", "bytes/" + everyByte});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "Warning:  Ignoring file bytes/" + everyByte + " because the name BYTES/" +
                                 upperAscii(everyByte) + " is already in use.\n");
    const ResFile file = resFile();
    const std::vector<std::string> ordered = sortedInNameOrder(names);
    ASSERT_EQ(file.entries.size(), ordered.size());
    for (std::size_t i = 0; i < ordered.size(); ++i) {
        // Single bytes from 0x80 on are not UTF-8, so these names widen byte by byte.
        EXPECT_EQ(file.entries[i].name.text, widenBytes("BYTES/" + upperAscii(ordered[i]))) << i;
        EXPECT_EQ(file.entries[i].data, ordered[i] == everyByte ? "all" : ordered[i]) << i;
    }
}

// A first UTF-16 unit of 0xFFFF marks an ordinal, so a name that starts with U+FFFF
// must not be written as UTF-16: readers would take it for a number.
TEST_F(Hostile, KeepsNamesThatWouldWidenToTheOrdinalMarkerReadableAsNames) {
    const std::string marker = "\xEF\xBF\xBF";  // U+FFFF in UTF-8
    dir.writeFile(marker + "ab", "first");
    dir.writeFile("a" + marker, "second");
    dir.writeFile("\xC3\xA9t\xC3\xA9", "third");  // "été"
    const ToolResult result = run({"-q", "-f", "out.res", marker + "ab", "a" + marker, "\xC3\xA9t\xC3\xA9"});
    EXPECT_EQ(result.exitStatus, 0);
    const ResFile file = resFile();
    ASSERT_EQ(file.entries.size(), 3u);
    EXPECT_FALSE(file.entries[0].name.isOrdinal);
    EXPECT_EQ(file.entries[0].name.text, widenBytes(marker + "AB"));
    EXPECT_EQ(file.entries[0].data, "first");
    EXPECT_EQ(file.entries[1].name.text, u"A\uFFFF");  // not first: plain UTF-16
    EXPECT_EQ(file.entries[2].name.text, u"\u00E9T\u00E9");
}

TEST_F(Hostile, StoresAPathOf4000Characters) {
    std::string path = "long";
    for (char letter = 'a'; path.size() + 1 + 250 + 1 + 100 <= 4000; ++letter) path += "/" + std::string(250, letter);
    const std::string directory = path;
    path += "/" + std::string(4000 - path.size() - 1, 'z');
    ASSERT_EQ(path.size(), 4000u);
    dir.writeFile(path, "far");

    const ToolResult direct = run({"-f", "out.res", path});
    EXPECT_EQ(direct.exitStatus, 0);
    EXPECT_EQ(direct.output, "Stored " + path + " as " + upperAscii(path) + ".\n");
    EXPECT_EQ(entryNames(resFile()), std::vector<std::string>{upperAscii(path)});

    const ToolResult walked = run({"-q", "-r", "-f", "walk.res", "long", directory + "/z*"});
    EXPECT_EQ(walked.exitStatus, 0);
    EXPECT_EQ(walked.output, "Warning:  Ignoring file " + path + " because the name " + upperAscii(path) +
                                 " is already in use.\n");
    const ResFile file = resFile("walk.res");
    ASSERT_EQ(entryNames(file), std::vector<std::string>{upperAscii(path)});
    EXPECT_EQ(file.entries[0].data, "far");
}

TEST_F(Hostile, WalksATree200LevelsDeepDeepestFirst) {
    std::vector<std::string> expected;
    std::string level = "deep";
    for (int depth = 0; depth < 200; ++depth) {
        level += "/d";
        dir.writeFile(level + "/f.txt", std::to_string(depth));
        expected.insert(expected.begin(), upperAscii(level) + "/F.TXT");
    }
    const ToolResult result = run({"-q", "-r", "-f", "out.res", "deep"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "");
    const ResFile file = resFile();
    EXPECT_EQ(entryNames(file), expected);
    ASSERT_EQ(file.entries.size(), 200u);
    EXPECT_EQ(file.entries.front().data, "199");
}

TEST_F(Hostile, WalksADirectoryOf100000Entries) {
    constexpr int COUNT = 100000;
    dir.makeDirectory("wide");
    // Hard links to two files: far cheaper to make than 100,000 files, and as
    // many directory entries (one file takes at most 65,000 links on ext4).
    const std::string targets[2] = {dir.path() + "/even", dir.path() + "/odd"};
    for (const std::string& target : targets) createEmptyFile(target);
    std::vector<std::string> expected;
    for (int i = 0; i < COUNT; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%06d", COUNT - 1 - i);  // made in reverse order
        ASSERT_EQ(::link(targets[i % 2].c_str(), (dir.path() + "/wide/" + name).c_str()), 0) << name;
        expected.push_back(std::string("WIDE/") + name);
    }
    std::reverse(expected.begin(), expected.end());
    const ToolResult result = run({"-q", "-r", "-f", "out.res", "wide", "wide/00000?"});
    EXPECT_EQ(result.exitStatus, 0);
    // The pattern meets ten names already stored.
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 10);
    EXPECT_EQ(entryNames(resFile()), expected);
    std::filesystem::remove_all(dir.path() + "/wide");  // sooner than the scratch directory's own cleanup
}

TEST_F(Hostile, WalksLinkCyclesOnceAndLeavesBrokenLinksOut) {
    dir.writeFile("t/a.txt", "a");
    dir.writeFile("t/sub/b.txt", "b");
    dir.makeDirectory("t/sub/deeper");
    const std::string t = dir.path() + "/t";
    ASSERT_EQ(::symlink("..", (t + "/sub/up").c_str()), 0);
    ASSERT_EQ(::symlink(".", (t + "/self").c_str()), 0);
    ASSERT_EQ(::symlink("../../sub", (t + "/sub/deeper/loop").c_str()), 0);
    ASSERT_EQ(::symlink("y", (t + "/x").c_str()), 0);  // x and y point at each other
    ASSERT_EQ(::symlink("x", (t + "/y").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (t + "/dangling").c_str()), 0);
    ASSERT_EQ(::symlink("a.txt", (t + "/alias.txt").c_str()), 0);

    const ToolResult result = run({"-q", "-r", "-f", "out.res", "t"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "");
    // A link to a file is a file; links that lead back up the walk are not followed.
    EXPECT_EQ(entryNames(resFile()), (std::vector<std::string>{"T/SUB/B.TXT", "T/A.TXT", "T/ALIAS.TXT"}));
}

TEST_F(Hostile, LeavesFifosSocketsAndDevicesOutOfWalksAndRefusesThemByName) {
    dir.writeFile("w/a.txt", "a");
    dir.writeFile("w/sub/b.txt", "b");
    const std::string w = dir.path() + "/w";
    ASSERT_EQ(::mkfifo((w + "/fifo").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((w + "/sub/fifo").c_str(), 0644), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = w + "/sock";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(sock);

    // Reading any of these could block forever or never end.
    const ToolResult result = run({"-r", "-f", "out.res", "w", "w/fifo", "w/sock", "/dev/zero", "/dev/null"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output,
              "Stored w/sub/b.txt as W/SUB/B.TXT.\n"
              "Stored w/a.txt as W/A.TXT.\n"
              "Warning: Could not read the file w/fifo; it was not stored.\n"
              "Warning: Could not read the file w/sock; it was not stored.\n"
              "Warning: Could not read the file /dev/zero; it was not stored.\n"
              "Warning: Could not read the file /dev/null; it was not stored.\n");
    EXPECT_EQ(entryNames(resFile()), (std::vector<std::string>{"W/SUB/B.TXT", "W/A.TXT"}));
}

TEST_F(Hostile, FailsOnlyWhenTheResourceFileCannotGetOutOfAFullStandardOutput) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
    dir.writeFile("a.gif", "x");
    const ToolResult toStdout = runToolWritingTo({"a.gif"}, dir.path(), "/dev/full");
    EXPECT_EQ(toStdout.exitStatus, 1);
    EXPECT_TRUE(fixtures::withSystemReason(toStdout.errors, "Error:  Could not write to standard output: ",
                                           "; the run is abandoned.\n"))
        << toStdout.errors;

    // Only the messages are lost to the full disk: they move to standard error.
    const ToolResult toFile = runToolWritingTo({"-f", "out.res", "a.gif"}, dir.path(), "/dev/full");
    EXPECT_EQ(toFile.exitStatus, 0);
    EXPECT_EQ(toFile.errors, "Stored a.gif as A.GIF.\n");
    EXPECT_EQ(entryNames(resFile()), std::vector<std::string>{"A.GIF"});
}

TEST_F(Hostile, ReportsADirectoryItCannotRead) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every directory";
    dir.writeFile("r/a.txt", "a");
    dir.writeFile("r/locked/b.txt", "b");
    ASSERT_EQ(::chmod((dir.path() + "/r/locked").c_str(), 0), 0);
    const ToolResult result = run({"-q", "-r", "-f", "out.res", "r"});
    ::chmod((dir.path() + "/r/locked").c_str(), 0755);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "Warning: Could not read the directory r/locked; files in it were not stored.\n");
    EXPECT_EQ(entryNames(resFile()), std::vector<std::string>{"R/A.TXT"});
}


// What a run may leave of a resource file: the files in `dir` that are leftovers
// of an unfinished run (".raduza-unfinished-XXXXXX").
std::vector<std::string> leftovers(const std::string& dir) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (isUnfinishedResourceFileName(name)) found.push_back(name);
    }
    return found;
}

TEST_F(Hostile, AnInterruptedRunLeavesThePreviousResourceFileAsItWas) {
    for (int i = 0; i < 3000; ++i) dir.writeFile("d/f" + std::to_string(10000 + i), "x");
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        SCOPED_TRACE(signal);
        const std::string previous = "an earlier resource file";
        dir.writeFile("out.res", previous);
        {
            // The test stops reading the reports, so the tool is held mid-walk.
            StreamingRun tool({"-r", "-f", "out.res", "d"}, dir.path());
            ASSERT_TRUE(tool.readUntil("Stored d/f10100"));
            tool.signal(signal);
            const ToolResult result = tool.finish();
            EXPECT_EQ(result.exitStatus, 128 + signal);
        }
        EXPECT_EQ(dir.readFile("out.res"), previous);
        // Killed outright, it may leave its one unfinished file; otherwise nothing.
        const std::vector<std::string> left = leftovers(dir.path());
        EXPECT_LE(left.size(), signal == SIGKILL ? 1u : 0u);
        // A later run never stores a leftover, and replaces the old file whole.
        const ToolResult again = run({"-q", "-r", "-f", "out.res", "."});
        EXPECT_EQ(again.exitStatus, 0);
        const ResFile file = resFile();
        EXPECT_EQ(file.entries.size(), 3000u);
        for (const std::string& name : left) std::filesystem::remove(std::filesystem::path(dir.path()) / name);
    }
}

TEST_F(Hostile, TheNewResourceFileTakesThePermissionsOfTheOneItReplaces) {
    dir.writeFile("a.gif", "1");
    dir.writeFile("out.res", "old");
    const std::string path = dir.path() + "/out.res";
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    EXPECT_EQ(run({"-q", "-f", "out.res", "a.gif"}).exitStatus, 0);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(entryNames(resFile()), std::vector<std::string>{"A.GIF"});
}

// A resource file the run makes anew is as the user's umask makes any new file.
TEST_F(Hostile, ANewResourceFileGetsThePermissionsTheUmaskGives) {
    dir.writeFile("a.gif", "1");
    const std::string path = dir.path() + "/new.res";
    for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{0}}) {
        const mode_t previous = ::umask(mask);
        const int status = run({"-q", "-f", "new.res", "a.gif"}).exitStatus;
        ::umask(previous);
        EXPECT_EQ(status, 0);
        struct stat st;
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask) << "umask " << std::oct << mask;
        ASSERT_EQ(::unlink(path.c_str()), 0);
    }
}

TEST_F(Hostile, ConcurrentRunsWritingOneResourceFileEachLeaveAWholeOne) {
    for (int i = 0; i < 2000; ++i) dir.writeFile("d/f" + std::to_string(10000 + i), std::string(100, 'x'));
    const ToolResult result = runProgram(
        {"sh", "-c", "\"$0\" -q -r -f out.res d & \"$0\" -q -r -f out.res d & \"$0\" -q -r -f out.res d & "
                     "wait %1 && wait %2 && wait %3", toolPath()},
        dir.path());
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(resFile().entries.size(), 2000u);
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

// So low a limit on open files (room for the resource file, the directory and three
// more) that the files held for closing, and those opened ahead of the walk, use it
// up: they give way, and every file is stored. Sizes on both sides of what is read
// ahead whole.
TEST_F(Hostile, ALowLimitOnOpenFilesStillStoresEveryFileOfLargeListings) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own";
#endif
    std::vector<std::string> expected;
    std::vector<std::string> contents;
    for (const std::string sub : {"a", "b", "c"}) {
        for (int i = 0; i < 100; ++i) {
            const std::string path = "d/" + sub + "/f" + std::to_string(100 + i);
            contents.push_back(path);
            contents.back().resize(static_cast<std::size_t>(i) * 397 % 40000, static_cast<char>('a' + i % 26));
            dir.writeFile(path, contents.back());
            expected.push_back(upperAscii(path));
        }
    }
    const ToolResult result =
        runProgram({"sh", "-c", "ulimit -n 8 && exec \"$0\" -q -r -f out.res d", toolPath()}, dir.path());
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(result.output, "");
    const ResFile file = resFile();
    EXPECT_EQ(entryNames(file), expected);
    std::vector<std::string> stored;
    for (const ResEntry& entry : file.entries) stored.push_back(entry.data);
    EXPECT_EQ(stored, contents);
}

TEST_F(Hostile, AFileSizeLimitIsAWriteFailureThatKeepsThePreviousFile) {
    dir.writeFile("big.bin", std::string(3 << 20, 'b'));
    dir.writeFile("out.res", "previous");
    const ToolResult result =
        runProgram({"sh", "-c", "ulimit -f 1024 && exec \"$0\" -q -f out.res big.bin", toolPath()}, dir.path());
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(fixtures::withSystemReason(result.output, "Error:  Could not write to out.res: ",
                                           "; the run is abandoned.\n"))
        << result.output;
    EXPECT_EQ(dir.readFile("out.res"), "previous");
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

TEST_F(Hostile, LinkedResourceFilesAreReplacedBehindTheLinkAndNeverThroughOtherNames) {
    const std::filesystem::path root(dir.path());
    dir.writeFile("a.gif", "1");
    dir.writeFile("real/out.res", "old");
    std::filesystem::create_symlink("real/out.res", root / "link.res");
    dir.writeFile("hard.res", "shared");
    std::filesystem::create_hard_link(root / "hard.res", root / "other-name.res");

    EXPECT_EQ(run({"-q", "-f", "link.res", "a.gif"}).exitStatus, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(root / "link.res"));
    EXPECT_EQ(entryNames(resFile("real/out.res")), (std::vector<std::string>{"A.GIF"}));

    EXPECT_EQ(run({"-q", "-f", "hard.res", "a.gif"}).exitStatus, 0);
    EXPECT_EQ(entryNames(resFile("hard.res")), (std::vector<std::string>{"A.GIF"}));
    EXPECT_EQ(dir.readFile("other-name.res"), "shared");

    // Nothing stored: no resource file is left, and the link stays a link.
    EXPECT_EQ(run({"-q", "-f", "link.res", "missing.gif"}).exitStatus, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(root / "link.res"));
    EXPECT_FALSE(dir.exists("real/out.res"));
}

TEST_F(Hostile, StandardOutputNamedWithFIsWrittenAndNeverRemoved) {
    const ToolResult nothing = run({"-q", "-f", "/dev/stdout", "missing.gif"});
    EXPECT_EQ(nothing.exitStatus, 0);
    EXPECT_TRUE(std::filesystem::exists("/dev/stdout"));
    dir.writeFile("a.gif", "1");
    // Named by a path, standard output still carries no message: they go to standard error.
    for (const char* path : {"/dev/stdout", "/dev/fd/1"}) {
        const ToolResult stored = run({"-f", path, "a.gif"});
        EXPECT_EQ(stored.exitStatus, 0);
        EXPECT_EQ(stored.errors, "Stored a.gif as A.GIF.\n") << path;
        const ResFile file = readResFile(stored.output);
        EXPECT_TRUE(file.valid) << path << ": " << file.error;
        EXPECT_EQ(entryNames(file), (std::vector<std::string>{"A.GIF"})) << path;
    }
    // Another device leaves the messages where they were.
    const ToolResult discarded = run({"-f", "/dev/null", "a.gif"});
    EXPECT_EQ(discarded.exitStatus, 0);
    EXPECT_EQ(discarded.output, "Stored a.gif as A.GIF.\n");
}

// The record of -u is the tool's own: standard output has none, and a FIFO planted
// at its name holds no run up; a file system that keeps whole seconds hides no change.
TEST_F(Hostile, TheRecordIsNeverWaitedOnAndStandardOutputHasNone) {
    dir.writeFile("d/a.txt", "alpha");
    ASSERT_EQ(::mkfifo((dir.path() + "/out.res.inputs").c_str(), 0666), 0);
    const ToolResult fifo = runProgram({"timeout", "20", toolPath(), "-q", "-u", "-r", "-f", "out.res", "d"}, dir.path());
    EXPECT_EQ(fifo.exitStatus, 0);
    EXPECT_EQ(fifo.output,
              "Warning: out.res.inputs is not a regular file, so it is no record of the last run; every file is read again.\n");
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.path() + "/out.res.inputs")) << "the FIFO is replaced by the record";

    ASSERT_EQ(::symlink("/dev/stdout", (dir.path() + "/o.res").c_str()), 0);
    const ToolResult redirected =
        runProgram({"sh", "-c", "\"$0\" -q -u -r -f o.res d > captured.res", toolPath()}, dir.path());
    EXPECT_EQ(redirected.exitStatus, 0) << redirected.errors;
    EXPECT_EQ(entryNames(resFile("captured.res")), std::vector<std::string>{"D/A.TXT"});
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/o.res.inputs"));
}

TEST_F(Hostile, AnUpdateOnAWholeSecondFileSystemMissesNoChange) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to mount a file system image";
    const std::string mount = "truncate -s 32M c.img && mkfs.ext2 -q -I 128 -F c.img 2>/dev/null && mkdir m && "
                              "mount -o loop c.img m && mkdir m/tree";
    if (runProgram({"sh", "-c", mount}, dir.path()).exitStatus != 0) GTEST_SKIP() << "cannot mount a loop image here";
    const std::string m = dir.path() + "/m";
    // Each case changes a file within the second of the run before, keeping its size.
    for (const bool outputThere : {false, true}) {
        const std::string out = outputThere ? m + "/o.res" : dir.path() + "/o.res";
        {
            // Just past the start of a second, so that the run and the change share it.
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            std::this_thread::sleep_for(std::chrono::seconds(1) - now % std::chrono::seconds(1) + std::chrono::milliseconds(50));
            dir.writeFile("m/tree/f", "AAAA");
            ASSERT_EQ(runTool({"-q", "-u", "-r", "-f", out, "tree"}, m).exitStatus, 0);
            if (outputThere) {
                std::string edited = dir.readFile("m/o.res");
                edited.replace(edited.size() - 4, 4, "XXXX");
                dir.writeFile("m/o.res", edited);
            } else {
                dir.writeFile("m/tree/f", "BBBB");
            }
            ASSERT_EQ(runTool({"-q", "-u", "-r", "-f", out, "tree"}, m).exitStatus, 0);
            ASSERT_EQ(runTool({"-q", "-r", "-f", dir.path() + "/full.res", "tree"}, m).exitStatus, 0);
            EXPECT_TRUE(dir.readFile(outputThere ? "m/o.res" : "o.res") == dir.readFile("full.res"))
                << (outputThere ? "an edited resource file was kept" : "a changed input was missed");
        }
    }
    EXPECT_EQ(runProgram({"umount", m}, dir.path()).exitStatus, 0);
}

// A name that looks like a leftover, but is not of the one shape the tool makes,
// is the user's file; a target the system refuses (a loop of links) fails the run.
TEST_F(Hostile, OnlyTheUnfinishedFileShapeIsLeftOutOfWalks) {
    for (const char* name : {".cfg.raduza-backup", ".x.raduza-v1.0.0", ".raduza-unfinished-AbC1234", ".raduza-unfinished-Ab.12",
                             ".raduza-unfinished-AbC123", ".raduza-unfinished-000000"})
        dir.writeFile(std::string("w/") + name, name);
    const ToolResult walked = run({"-q", "-r", "-f", "out.res", "w", "w/.*"});
    EXPECT_EQ(walked.exitStatus, 0);
    EXPECT_EQ(entryNames(resFile()), (std::vector<std::string>{"W/.CFG.RADUZA-BACKUP", "W/.RADUZA-UNFINISHED-AB.12",
                                                               "W/.RADUZA-UNFINISHED-ABC1234", "W/.X.RADUZA-V1.0.0"}));

    std::filesystem::create_symlink("loop", std::filesystem::path(dir.path()) / "loop");
    const ToolResult looped = run({"-q", "-f", "loop", "w/.cfg.raduza-backup"});
    EXPECT_EQ(looped.exitStatus, 1);
    EXPECT_EQ(looped.output, "Error:  Could not create loop: Too many levels of symbolic links.\n");
    EXPECT_TRUE(std::filesystem::is_symlink(std::filesystem::path(dir.path()) / "loop"));
}

// A target name so long that the old ".NAME.raduza-XXXXXX" could not be made still
// gets a new file renamed over it; a directory renamed mid-run keeps no leftover,
// whether the run finishes (the new file lands in it) or is interrupted.
TEST_F(Hostile, ATemporaryNameFitsAnyTargetAndARenamedDirectoryKeepsNoLeftover) {
    for (int i = 0; i < 2000; ++i) dir.writeFile("d/f" + std::to_string(10000 + i), "x");
    const std::string longName = std::string(251, 'n') + ".res";
    dir.writeFile(longName, "previous");
    struct stat before, after;
    ASSERT_EQ(::stat((dir.path() + "/" + longName).c_str(), &before), 0);
    EXPECT_EQ(run({"-q", "-f", longName, "d/f10000"}).exitStatus, 0);
    ASSERT_EQ(::stat((dir.path() + "/" + longName).c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "written in place, not replaced";
    EXPECT_EQ(entryNames(resFile(longName)), std::vector<std::string>{"D/F10000"});

    const std::filesystem::path root(dir.path());
    for (const bool interrupted : {true, false}) {
        SCOPED_TRACE(interrupted ? "interrupted" : "finished");
        dir.writeFile("w/out.res", "previous");
        {
            StreamingRun tool({"-r", "-f", "w/out.res", "d"}, dir.path());
            ASSERT_TRUE(tool.readUntil("Stored d/f10100"));
            std::filesystem::rename(root / "w", root / "moved");
            if (interrupted) tool.signal(SIGTERM);
            EXPECT_EQ(tool.finish().exitStatus, interrupted ? 128 + SIGTERM : 0);
        }
        EXPECT_TRUE(leftovers((root / "moved").string()).empty());
        if (interrupted) EXPECT_EQ(dir.readFile("moved/out.res"), "previous");
        else EXPECT_EQ(resFile("moved/out.res").entries.size(), 2000u);
        std::filesystem::remove_all(root / "moved");
    }
}

// Every removal checks that the name still names the file the run made or opened:
// a file put in its place meanwhile, by the user or by someone else, stays.
TEST_F(Hostile, NothingIsRemovedThatIsNoLongerTheFileTheRunMadeOrOpened) {
    const std::filesystem::path root(dir.path());
    // Nothing stored: the old file would be removed, but another took its name.
    std::vector<std::string> missing{"-f", "out.res"};
    for (int i = 0; i < 3000; ++i) missing.push_back("missing-" + std::to_string(10000 + i) + ".gif");
    dir.writeFile("out.res", "previous");
    {
        StreamingRun tool(missing, dir.path());  // held by the warnings it cannot get out
        ASSERT_TRUE(tool.readUntil("missing-10100.gif"));
        dir.writeFile("other.res", "put in its place");
        std::filesystem::rename(root / "other.res", root / "out.res");
        EXPECT_EQ(tool.finish().exitStatus, 0);
    }
    EXPECT_EQ(dir.readFile("out.res"), "put in its place");

    // Interrupted: the unfinished file would be removed, but another took its name.
    for (int i = 0; i < 3000; ++i) dir.writeFile("d/f" + std::to_string(10000 + i), "x");
    StreamingRun tool({"-r", "-f", "out.res", "d"}, dir.path());
    ASSERT_TRUE(tool.readUntil("Stored d/f10100"));
    const std::vector<std::string> unfinished = leftovers(dir.path());
    ASSERT_EQ(unfinished.size(), 1u);
    dir.writeFile("other.res", "also put in its place");
    std::filesystem::rename(root / "other.res", root / unfinished[0]);
    tool.signal(SIGTERM);
    EXPECT_EQ(tool.finish().exitStatus, 128 + SIGTERM);
    EXPECT_EQ(dir.readFile(unfinished[0]), "also put in its place");
    EXPECT_EQ(dir.readFile("out.res"), "put in its place");
}

// The exit status tells what the file is: 0 with the complete new file, 128 + n
// with the old one untouched, wherever the signal lands, also during the rename.
TEST_F(Hostile, StatusAndOutcomeAgreeWhateverMomentAnInterruptComes) {
    for (int i = 0; i < 400; ++i) dir.writeFile("d/f" + std::to_string(10000 + i), std::string(3000, 'x'));
    const auto timeOneRun = [&] {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(run({"-q", "-r", "-f", "out.res", "d"}).exitStatus, 0);
        return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    };
    const long long span = std::max<long long>(timeOneRun(), 2000);
    std::mt19937 random(12345);
    int finished = 0, interrupted = 0;
    for (int round = 0; round < 40; ++round) {
        dir.writeFile("out.res", "previous");
        StreamingRun tool({"-q", "-r", "-f", "out.res", "d"}, dir.path());
        ::usleep(static_cast<useconds_t>(std::uniform_int_distribution<long long>(span / 4, span + span / 4)(random)));
        tool.signal(round % 2 ? SIGTERM : SIGINT);
        const int status = tool.finish().exitStatus;
        const std::string now = dir.readFile("out.res");
        if (status == 0) {
            ++finished;
            EXPECT_EQ(readResFile(now).entries.size(), 400u) << "round " << round;
        } else {
            ++interrupted;
            EXPECT_EQ(status, 128 + (round % 2 ? SIGTERM : SIGINT)) << "round " << round;
            EXPECT_EQ(now, "previous") << "round " << round << ": killed, yet the file was replaced";
        }
        EXPECT_TRUE(leftovers(dir.path()).empty());
    }
    std::printf("%d runs finished, %d were interrupted\n", finished, interrupted);
}

// What only root can build: files of another user, and a link planted in a sticky
// directory. The tool, run as root or as nobody, may do nothing to them that
// writing the file in place as that user could not.
class AsRootAndNobody : public Hostile {
protected:
    static constexpr uid_t NOBODY = 65534;
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as another user";
        ::chmod(dir.path().c_str(), 0755);
        if (runAsNobody({"-t"}).exitStatus != 0) GTEST_SKIP() << "cannot run the tool as nobody here (setpriv, or a path nobody cannot reach)";
    }
    static std::vector<std::string> asNobody() {
        return {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    ToolResult runAsNobody(const std::vector<std::string>& arguments) const {
        std::vector<std::string> commandLine = asNobody();
        commandLine.push_back(toolPath());
        commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
        return runProgram(commandLine, dir.path());
    }
    // Runs a shell command as nobody in the scratch directory.
    void shellAsNobody(const std::string& command) const {
        std::vector<std::string> commandLine = asNobody();
        commandLine.insert(commandLine.end(), {"sh", "-c", command});
        ASSERT_EQ(runProgram(commandLine, dir.path()).exitStatus, 0) << command;
    }
    void makeDirectory(const std::string& name, mode_t mode) const {
        dir.makeDirectory(name);
        ASSERT_EQ(::chmod((dir.path() + "/" + name).c_str(), mode), 0);
    }
    struct stat statOf(const std::string& name) const {
        struct stat st{};
        EXPECT_EQ(::lstat((dir.path() + "/" + name).c_str(), &st), 0) << name;
        return st;
    }
};

TEST_F(AsRootAndNobody, TheSystemsLinkProtectionAppliesToTheResourceFile) {
    const char* setting = "/proc/sys/fs/protected_symlinks";
    std::string previous;
    std::ifstream(setting) >> previous;
    if (previous != "1" && !(std::ofstream(setting) << "1")) GTEST_SKIP() << "fs.protected_symlinks is off and cannot be set";
    dir.writeFile("a.txt", "a");
    dir.writeFile("victim", "precious");
    makeDirectory("st", 01777);
    shellAsNobody("ln -s \"$PWD/victim\" st/out.res");
    const ToolResult result = run({"-q", "-f", "st/out.res", "a.txt"});
    if (previous != "1") std::ofstream(setting) << previous;
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Error:  Could not create st/out.res: Permission denied.\n");
    EXPECT_EQ(dir.readFile("victim"), "precious");
    EXPECT_TRUE(S_ISLNK(statOf("st/out.res").st_mode));
}

TEST_F(AsRootAndNobody, RootKeepsOwnersAndModesAndNeverSetIdBits) {
    dir.writeFile("a.txt", "a");
    makeDirectory("d", 0777);
    shellAsNobody("echo x > d/s.res && chmod 6777 d/s.res && echo y > d/p.res && chmod 0640 d/p.res");
    for (const char* name : {"d/s.res", "d/p.res"}) {
        EXPECT_EQ(run({"-q", "-f", name, "a.txt"}).exitStatus, 0) << name;
        const struct stat st = statOf(name);
        EXPECT_EQ(st.st_uid, NOBODY) << name;
        EXPECT_EQ(st.st_gid, NOBODY) << name;
        EXPECT_EQ(st.st_mode & 07777, std::string(name) == "d/s.res" ? 0777u : 0640u) << name;
        EXPECT_EQ(entryNames(resFile(name)), std::vector<std::string>{"A.TXT"});
    }
}

TEST_F(AsRootAndNobody, AnUnprivilegedRunReplacesNothingItCouldNotWrite) {
    dir.writeFile("a.txt", "a");
    makeDirectory("open", 0777);
    makeDirectory("sticky", 01777);
    dir.writeFile("open/owned.res", "root's");
    dir.writeFile("sticky/shared.res", "root's, writable by all");
    ASSERT_EQ(::chmod((dir.path() + "/sticky/shared.res").c_str(), 0666), 0);

    // Not writable by nobody: refused by the system's open, whatever the directory allows.
    const ToolResult refused = runAsNobody({"-q", "-f", "open/owned.res", "a.txt"});
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.output, "Error:  Could not create open/owned.res: Permission denied.\n");
    EXPECT_EQ(dir.readFile("open/owned.res"), "root's");
    EXPECT_EQ(statOf("open/owned.res").st_uid, 0u);

    // Writable, in a sticky directory: written in place, where a rename would be refused.
    const ino_t inode = statOf("sticky/shared.res").st_ino;
    const ToolResult inPlace = runAsNobody({"-q", "-f", "sticky/shared.res", "a.txt"});
    EXPECT_EQ(inPlace.exitStatus, 0) << inPlace.output;
    EXPECT_EQ(statOf("sticky/shared.res").st_ino, inode);
    EXPECT_EQ(statOf("sticky/shared.res").st_uid, 0u);
    EXPECT_EQ(entryNames(resFile("sticky/shared.res")), std::vector<std::string>{"A.TXT"});
}

// In a directory anyone may write, a record root did not write is never believed,
// never kept with another owner, and never written through a link.
TEST_F(AsRootAndNobody, ARecordAnotherUserPlantedIsNeitherBelievedNorKept) {
    dir.writeFile("d/a.txt", "alpha");
    dir.writeFile("victim", "root's");
    makeDirectory("st", 01777);
    shellAsNobody("echo planted > st/x.res.inputs && chmod 666 st/x.res.inputs && ln -s ../victim st/y.res.inputs");
    for (const char* name : {"st/x.res", "st/y.res"}) {
        EXPECT_EQ(run({"-q", "-u", "-r", "-f", name, "d"}).exitStatus, 0) << name;
        const std::string record = std::string(name) + ".inputs";
        const struct stat st = statOf(record);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << record;
        EXPECT_EQ(st.st_uid, 0u) << record;
        EXPECT_EQ(st.st_mode & 07777, statOf(name).st_mode & 0666) << record;
    }
    EXPECT_EQ(dir.readFile("victim"), "root's");
    // Root's own record, given to nobody as if nobody had written it: not believed.
    EXPECT_EQ(run({"-u", "-r", "-f", "st/x.res", "d"}).output, "st/x.res is up to date.\n");
    ASSERT_EQ(::chown((dir.path() + "/st/x.res.inputs").c_str(), NOBODY, NOBODY), 0);
    EXPECT_EQ(run({"-u", "-r", "-f", "st/x.res", "d"}).output, "Stored d/a.txt as D/A.TXT.\n");
}

// Written in place (nobody owns out.res but may not make a file in `locked`), a run
// that fails or is interrupted leaves the file empty and dated at the epoch, so no
// build takes it for complete.
TEST_F(AsRootAndNobody, AnInPlaceRunThatStopsLeavesAnEmptyFileOlderThanAnyInput) {
    for (int i = 0; i < 3000; ++i) dir.writeFile("d/f" + std::to_string(10000 + i), "x");
    dir.writeFile("big.bin", std::string(3 << 20, 'b'));
    makeDirectory("locked", 0755);
    const std::string emptied = "Error:  locked/out.res was being overwritten directly when the run stopped, so it is left empty.\n";
    const auto expectEmptiedAtEpoch = [&] {
        const struct stat st = statOf("locked/out.res");
        EXPECT_EQ(st.st_size, 0);
        EXPECT_EQ(st.st_mtime, 0);
        EXPECT_TRUE(leftovers(dir.path() + "/locked").empty());
    };

    const auto previousOfNobody = [&] {
        dir.writeFile("locked/out.res", "previous");
        ASSERT_EQ(::chown((dir.path() + "/locked/out.res").c_str(), NOBODY, NOBODY), 0);
    };
    previousOfNobody();
    {
        StreamingRun tool({"-r", "-f", "locked/out.res", "d"}, dir.path(), asNobody());
        ASSERT_TRUE(tool.readUntil("Stored d/f10100"));
        tool.signal(SIGTERM);
        const ToolResult result = tool.finish();
        EXPECT_EQ(result.exitStatus, 128 + SIGTERM);
        EXPECT_EQ(result.errors, emptied);
    }
    expectEmptiedAtEpoch();

    previousOfNobody();
    std::vector<std::string> limited = asNobody();
    limited.insert(limited.end(), {"sh", "-c", "ulimit -f 1024 && exec \"$0\" -q -f locked/out.res big.bin", toolPath()});
    const ToolResult failed = runProgram(limited, dir.path());
    EXPECT_EQ(failed.exitStatus, 1);
    EXPECT_TRUE(fixtures::withSystemReason(failed.output, "Error:  Could not write to locked/out.res: ",
                                           "; the run is abandoned.\n" + emptied))
        << failed.output;
    expectEmptiedAtEpoch();
}

TEST_F(Hostile, NamesThatDifferInBytesButNotOnceWrittenGiveOneResource) {
    dir.writeFile("\xC3\xA9.b", "utf-8");
    dir.writeFile("\xE9.b", "latin-1");
    const ToolResult result = run({"-f", "out.res", "\xC3\xA9.b", "\xE9.b"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "Stored \xC3\xA9.b as \xC3\xA9.B.\n"
                             "Warning:  Ignoring file \xE9.b because the name \xE9.B is already in use.\n");
    EXPECT_EQ(resFile().entries.size(), 1u);
}

TEST_F(Hostile, FilesThatExistButCannotBeReachedAreUnreadableNotMissing) {
    std::filesystem::create_symlink("loop", std::filesystem::path(dir.path()) / "loop");
    const std::string tooLong(5000, 'n');
    const ToolResult result = run({"-q", "-f", "out.res", "loop", "./loop", tooLong});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "Warning: Could not read the file loop; it was not stored.\n"
                             "Warning: Could not read the file ./loop; it was not stored.\n"
                             "Warning: Could not read the file " + tooLong + "; it was not stored.\n");
}

// Files read from a listing are closed a few dozen at a time, in runs of consecutive
// descriptors. Descriptors the tool did not open, here kept around free slots that
// the tool's files take, stay open; no file the tool read is open once the run ends.
TEST_F(Hostile, FilesAreClosedInBatchesThatNeverTakeAnotherDescriptorWithThem) {
    for (int i = 0; i < 300; ++i) dir.writeFile("d/f" + std::to_string(1000 + i), std::to_string(i));
    std::vector<int> kept;
    std::vector<int> freed;
    for (int i = 0; i < 12; ++i) {
        const int fd = ::open("/dev/null", O_RDONLY);
        ASSERT_GE(fd, 0);
        (i % 2 == 0 ? kept : freed).push_back(fd);
    }
    for (const int fd : freed) ::close(fd);  // slots for the tool, each between two it must not touch

    EXPECT_EQ(runOn(realFileSystem(), {"-q", "-r", "-f", dir.path() + "/out.res", dir.path() + "/d"}), 0);
    for (const int fd : kept) EXPECT_NE(::fcntl(fd, F_GETFD), -1) << "descriptor " << fd << " was closed by the tool";
    EXPECT_EQ(openFilesIn(dir.path() + "/d"), std::vector<std::string>{});
    EXPECT_EQ(resFile().entries.size(), 300u);
    for (const int fd : kept) ::close(fd);
}

}  // namespace
