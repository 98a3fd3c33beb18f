// Inputs that change under the real tool. The tool is held at a known point by not
// reading its standard output (a pipe): once the walk has listed the files, or in
// the middle of copying one, the test changes the tree and lets the tool go on.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>

#include "filespec/resource_name.h"
#include "resfile/entry_copy.h"
#include "tests/hostile/hostile.h"
#include "tests/hostile/streaming_run_posix.h"
#include "tests/support/fake_run.h"
#include "tests/support/faulty_system_calls_posix.h"

namespace {

// Far more than a pipe and the tool's output buffer hold, so the copy cannot
// have finished while the test holds the tool. No capital letters, so the
// messages on the same standard output can be picked out.
constexpr std::size_t BIG_SIZE = 8 << 20;

std::string bigContent() {
    std::string content(BIG_SIZE, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 19);
    return content;
}

class ChangingInput : public Hostile {
protected:
    void truncateTo(const std::string& relative, std::size_t size) {
        std::filesystem::resize_file(std::filesystem::path(dir.path()) / relative, size);
    }
    void append(const std::string& relative, const std::string& bytes) {
        std::ofstream(std::filesystem::path(dir.path()) / relative, std::ios::binary | std::ios::app) << bytes;
    }
    void replaceByDirectory(const std::string& relative) {
        std::filesystem::remove(std::filesystem::path(dir.path()) / relative);
        dir.makeDirectory(relative);
    }
    void replaceByFifo(const std::string& relative) {
        const std::string path = dir.path() + "/" + relative;
        std::filesystem::remove(path);
        ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    }
};

// Standard output carries the resource file, so a file that shrinks or grows in
// the middle of its copy cannot be taken back: its entry keeps its declared size,
// is reported, and every later entry stays where readers expect it.
TEST_F(ChangingInput, AFileThatShrinksOrGrowsWhileCopiedToAPipeKeepsTheFileReadable) {
    const std::string big = bigContent();
    for (const bool shrink : {true, false}) {
        dir.writeFile("d/a.big", big);
        dir.writeFile("d/b.txt", "bee");
        dir.writeFile("d/c.txt", "sea");
        dir.writeFile("d/e.txt", "eee");
        StreamingRun tool({"-r", "d"}, dir.path());
        // The walk has listed d and the copy of d/a.big is under way, not finished.
        ASSERT_TRUE(tool.readAtLeast(2 << 20));
        if (shrink) truncateTo("d/a.big", 1 << 20);
        else append("d/a.big", "more");
        std::filesystem::remove(std::filesystem::path(dir.path()) / "d/b.txt");
        replaceByDirectory("d/c.txt");
        append("d/e.txt", "-grown");
        const ToolResult result = tool.finish();

        EXPECT_EQ(result.exitStatus, 1);  // a resource that may not match its file
        // The resource file is standard output; the messages are on standard error.
        EXPECT_EQ(result.errors,
                  "Warning: The file d/a.big changed or could not be read while it was stored; its resource may not match it.\n"
                  "Warning: The file d/b.txt doesn't exist.\n"
                  "Warning: Could not read the file d/c.txt; it was not stored.\n"
                  "Stored d/e.txt as D/E.TXT.\n");
        const ResFile file = readResFile(result.output);
        ASSERT_TRUE(file.valid) << file.error;
        ASSERT_EQ(entryNames(file), (std::vector<std::string>{"D/A.BIG", "D/E.TXT"}));
        const std::string& data = file.entries[0].data;
        ASSERT_EQ(data.size(), BIG_SIZE);
        if (shrink) {
            // What was read before the cut is there (at least what the test had seen),
            // and the rest of the declared size is zeros.
            const std::size_t firstZero = data.find('\0');
            ASSERT_NE(firstZero, std::string::npos);
            EXPECT_GE(firstZero, (std::size_t{2} << 20) - 4096);
            EXPECT_EQ(data.compare(0, firstZero, big, 0, firstZero), 0);
            EXPECT_EQ(data.find_first_not_of('\0', firstZero), std::string::npos);
        } else {
            // Every byte the file had when opened was read before the growth was seen.
            EXPECT_TRUE(data == big) << "the entry differs from the file as it was opened";
        }
        EXPECT_EQ(file.entries[1].data, "eee-grown");
        std::filesystem::remove_all(std::filesystem::path(dir.path()) / "d");
    }
}

// A large file is copied into a resource file by the system, not through the
// tool's buffer; a change after the open is still caught, and the bytes copied
// are the file's. Each case writes a header first, so the copy lands at an odd offset.
TEST_F(ChangingInput, ALargeFileCopiedByTheSystemIsExactAndItsChangesAreCaught) {
    const std::string big = bigContent();
    struct Case {
        const char* what;
        std::function<void()> change;
        CopyOutcome outcome;
        std::size_t keptBytes;  // of `big`, after the header
    };
    const std::vector<Case> cases{
        {"unchanged", [] {}, CopyOutcome::COMPLETE, BIG_SIZE},
        {"grown", [this] { append("in.big", "more"); }, CopyOutcome::SIZE_CHANGED, BIG_SIZE},
        {"shrunk", [this] { truncateTo("in.big", 3 << 20); }, CopyOutcome::SIZE_CHANGED, 3 << 20},
    };
    for (const Case& c : cases) {
        dir.writeFile("in.big", big);
        FileSystem& fs = realFileSystem();
        const Result<std::unique_ptr<InputFile>> input = fs.openInput(dir.path() + "/in.big");
        ASSERT_TRUE(input) << c.what;
        c.change();
        dir.writeFile("out.bin", "");  // written in place, through the descriptor the open gave
        Result<std::unique_ptr<OutputTarget>> created = fs.openOutputTarget(dir.path() + "/out.bin");
        ASSERT_TRUE(created) << c.what;
        OutputBuffer out((*created)->file());
        out.put("head", 4);
        EXPECT_EQ(copyExactly(**input, out, BIG_SIZE), c.outcome) << c.what;
        EXPECT_TRUE(out.flush()) << c.what;
        const std::string written = dir.readFile("out.bin");
        EXPECT_EQ(written.size(), 4 + c.keptBytes) << c.what;
        EXPECT_TRUE(written.compare(0, 4, "head") == 0 && written.compare(4, std::string::npos, big, 0, c.keptBytes) == 0)
            << c.what << ": the bytes copied are not the file's";
    }
#ifdef __linux__
    dir.writeFile("in.big", big);
    // On Linux the system does copy between two regular files, so the cases above
    // took that path rather than the buffer's.
    const Result<std::unique_ptr<InputFile>> input = realFileSystem().openInput(dir.path() + "/in.big");
    dir.writeFile("copy.bin", "");
    Result<std::unique_ptr<OutputTarget>> created = realFileSystem().openOutputTarget(dir.path() + "/copy.bin");
    ASSERT_TRUE(input && created);
    EXPECT_EQ((*created)->file().copyFrom(**input, 1000), std::optional<std::uint64_t>(1000));
    EXPECT_FALSE(realFileSystem().standardOutput().copyFrom(**input, 1000).has_value())
        << "standard output is written as before";

    // An output that takes only part of a copy (here up to a file-size limit) leaves
    // the input at the first byte it did not take, for the ordinary copy to go on from.
    const Result<std::unique_ptr<InputFile>> again = realFileSystem().openInput(dir.path() + "/in.big");
    dir.writeFile("limited.bin", "");
    Result<std::unique_ptr<OutputTarget>> limited = realFileSystem().openOutputTarget(dir.path() + "/limited.bin");
    ASSERT_TRUE(again && limited);
    struct rlimit previous;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    struct rlimit limit = previous;
    limit.rlim_cur = 3 << 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const std::optional<std::uint64_t> copied = (*limited)->file().copyFrom(**again, BIG_SIZE);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    ASSERT_TRUE(copied.has_value());
    EXPECT_EQ(*copied, std::uint64_t{3} << 20);
    std::string next(4096, '\0');
    ASSERT_EQ((*again)->read(&next[0], next.size()), std::optional<std::size_t>(next.size()));
    EXPECT_TRUE(next == big.substr(static_cast<std::size_t>(*copied), next.size())) << "bytes were skipped";
#endif
}

// With a resource file of its own, the tool is held by its messages: long names
// make them outgrow the pipe long before the walk reaches the files that change.
TEST_F(ChangingInput, FilesChangedAfterTheWalkListedThemAreReportedWhenTheResourceIsAFile) {
    std::vector<std::string> expected;
    for (int i = 0; i < 1000; ++i) {
        const std::string name = std::to_string(1000 + i) + std::string(200, 'n');
        dir.writeFile("d/" + name, "x");
        expected.push_back("D/" + std::to_string(1000 + i) + std::string(200, 'N'));
    }
    for (const char* name : {"zz_a", "zz_b", "zz_c", "zz_d", "zz_e"}) dir.writeFile(std::string("d/") + name, name);
    StreamingRun tool({"-v", "-r", "-f", "out.res", "d"}, dir.path());
    ASSERT_TRUE(tool.readUntil("Stored d/1001"));
    std::filesystem::remove(std::filesystem::path(dir.path()) / "d/zz_b");
    replaceByDirectory("d/zz_c");
    replaceByFifo("d/zz_d");
    append("d/zz_e", "-grown");
    const ToolResult result = tool.finish();

    EXPECT_EQ(result.exitStatus, 0);
    const std::string tail = result.output.substr(result.output.find("Checking to see if the name D/ZZ_A"));
    EXPECT_EQ(tail,
              "Checking to see if the name D/ZZ_A is already in use.\n"
              "Stored d/zz_a as D/ZZ_A.\n"
              "Warning: The file d/zz_b doesn't exist.\n"
              "Checking to see if the name D/ZZ_C is already in use.\n"
              "Warning: Could not read the file d/zz_c; it was not stored.\n"
              "Checking to see if the name D/ZZ_D is already in use.\n"
              "Warning: Could not read the file d/zz_d; it was not stored.\n"
              "Checking to see if the name D/ZZ_E is already in use.\n"
              "Stored d/zz_e as D/ZZ_E.\n");
    for (const char* name : {"D/ZZ_A", "D/ZZ_E"}) expected.push_back(name);
    const ResFile file = resFile();
    EXPECT_EQ(entryNames(file), expected);
    ASSERT_EQ(file.entries.size(), 1002u);
    EXPECT_EQ(file.entries.back().data, "zz_e-grown");
}

// A file read ahead can change between the size its open gave and the read that
// takes it whole. Shrunk or grown there, it is never stored cut at its old size or
// filled up with zeros: it is stored as the walk then finds it, or reported as changed
// and left out. The listing is large enough to be read ahead on a second thread.
TEST_F(ChangingInput, AFileThatChangesBetweenItsSizeAndItsReadIsStoredAsItIsOrReported) {
    constexpr int FILES = 40;
    const auto nameOf = [](int i) { return "f" + std::to_string(100 + i); };
    for (int i = 0; i < FILES; ++i) dir.writeFile("d/" + nameOf(i), std::string(100 + 7 * i, static_cast<char>('a' + i % 26)));
    // Each changes once, right after the first size taken of it.
    struct Change {
        std::string name;
        std::function<void()> apply;
        ino_t inode = 0;
        std::atomic<bool> done{false};
    };
    Change changes[] = {{nameOf(10), [&] { truncateTo("d/" + nameOf(10), 5); }},
                        {nameOf(11), [&] { append("d/" + nameOf(11), "-grown"); }},
                        {nameOf(39), [&] { truncateTo("d/" + nameOf(39), 0); }}};
    for (Change& change : changes) {
        struct stat st;
        ASSERT_EQ(::stat((dir.path() + "/d/" + change.name).c_str(), &st), 0);
        change.inode = st.st_ino;
    }
    FaultySystemCalls calls;
    calls.afterStatus = [&](int fd) {
        struct stat st;
        if (::fstat(fd, &st) != 0) return;
        for (Change& change : changes)
            if (st.st_ino == change.inode && !change.done.exchange(true)) change.apply();
    };
    const std::unique_ptr<FileSystem> real = makePosixFileSystem(calls);
    FaultyFileSystem fs(*real, true);  // nothing fails; the messages are kept
    ASSERT_EQ(runOn(fs, {"-q", "-r", "-f", dir.path() + "/out.res", dir.path() + "/d"}, POSIX_PATH_RULES), 0);
    for (const Change& change : changes) EXPECT_TRUE(change.done) << change.name << " was never sized";

    const ResFile file = resFile();
    std::size_t entry = 0;
    for (int i = 0; i < FILES; ++i) {
        const std::string path = dir.path() + "/d/" + nameOf(i);
        const bool reported = fs.stdoutBytes.find("The file " + path + " changed") != std::string::npos;
        if (reported) continue;
        ASSERT_LT(entry, file.entries.size()) << path;
        EXPECT_EQ(file.entries[entry].name.utf8(), deriveResourceName(path, false, POSIX_PATH_RULES));
        EXPECT_TRUE(file.entries[entry].data == dir.readFile("d/" + nameOf(i)))
            << path << " is stored otherwise than it is (" << file.entries[entry].data.size() << " bytes)";
        ++entry;
    }
    EXPECT_EQ(entry, file.entries.size());
}

}  // namespace
