// Storing files: duplicates, messages, and inputs that fail or change under the tool.
#include <gtest/gtest.h>

#include "tests/support/fake_run.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/res_reader.h"

namespace {

ResFile storedFile(FakeFileSystem& fs, const std::string& path = "out.res") {
    const ResFile file = readResFile(fs.contentOf(path));
    EXPECT_TRUE(file.valid) << file.error;
    return file;
}

TEST(Store, KeepsTheFirstOfTwoFilesWithTheSameNameWhateverTheCase) {
    FakeFileSystem fs;
    fs.addFile("a/logo.gif", "first");
    fs.addFile("b/LOGO.gif", "second");
    const FakeRun run = runOnFake(fs, {"-v", "-j", "-f", "out.res", "a/logo.gif", "b/LOGO.gif"});
    EXPECT_EQ(run.output,
              "Checking to see if the name LOGO.GIF is already in use.\n"
              "Stored a/logo.gif as LOGO.GIF.\n"
              "Checking to see if the name LOGO.GIF is already in use.\n"
              "Warning:  Ignoring file b/LOGO.gif because the name LOGO.GIF is already in use.\n");
    const ResFile file = storedFile(fs);
    ASSERT_EQ(file.entries.size(), 1u);
    EXPECT_EQ(file.entries[0].data, "first");
}

TEST(Store, ReportsAMissingFileUnlessQuiet) {
    FakeFileSystem fs;
    fs.addFile("f", "x");
    EXPECT_EQ(runOnFake(fs, {"-f", "o.res", "f/y"}).output,
              "Warning: The file f/y doesn't exist.\nError:  Nothing to do!\n");
    FakeFileSystem quiet;
    quiet.addFile("f", "x");
    EXPECT_EQ(runOnFake(quiet, {"-q", "-f", "o.res", "f/y"}).output, "");
}

TEST(Store, SkipsAFileThatCannotBeOpenedAndGoesOn) {
    FakeFileSystem fs;
    fs.addFile("a", "1");
    fs.addFifo("pipe");
    fs.addFile("b", "2");
    const FakeRun run = runOnFake(fs, {"-f", "out.res", "a", "pipe", "b"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output,
              "Stored a as A.\nWarning: Could not read the file pipe; it was not stored.\nStored b as B.\n");
    EXPECT_EQ(entryNames(storedFile(fs)), (std::vector<std::string>{"A", "B"}));
}

TEST(Store, TakesBackAnEntryWhoseFileShrinksGrowsOrFailsWhileRead) {
    struct Case {
        const char* what;
        std::function<void(FakeFileSystem&, FaultyFileSystem&)> sabotage;
        const char* warning;
    };
    const std::vector<Case> cases{
        {"shrinks",
         [](FakeFileSystem& fs, FaultyFileSystem&) { fs.afterOpen = [&fs](const std::string& p) { if (p == "big") fs.find("big")->content->resize(10); }; },
         "Warning: The file big changed while it was read; it was not stored.\n"},
        {"grows",
         [](FakeFileSystem& fs, FaultyFileSystem&) { fs.afterOpen = [&fs](const std::string& p) { if (p == "big") *fs.find("big")->content += "more"; }; },
         "Warning: The file big changed while it was read; it was not stored.\n"},
        {"fails",
         [](FakeFileSystem& fs, FaultyFileSystem& faulty) {
             faulty.mask = operationBit(FsOperation::READ);
             fs.afterRead = [&faulty](const std::string& p, std::uint64_t delivered) {
                 if (p == "big" && delivered >= 4096) faulty.failAt = faulty.operations + 1;
             };
             faulty.maxReadChunk = 4096;
         },
         "Warning: Could not read the file big; it was not stored.\n"},
    };
    for (const Case& c : cases) {
        FakeFileSystem fs;
        fs.addFile("a", "before");
        fs.addFile("big", std::string(100000, 'b'));
        fs.addFile("z", "after");
        FaultyFileSystem faulty(fs);
        faulty.mask = 0;
        c.sabotage(fs, faulty);
        const FakeRun run{runOn(faulty, {"-f", "out.res", "a", "big", "z"}), fs.stdoutBytes};
        EXPECT_EQ(run.exitStatus, 0) << c.what;
        EXPECT_EQ(run.output, std::string("Stored a as A.\n") + c.warning + "Stored z as Z.\n") << c.what;
        const ResFile file = storedFile(fs);
        ASSERT_EQ(entryNames(file), (std::vector<std::string>{"A", "Z"})) << c.what;
        EXPECT_EQ(file.entries[1].data, "after");
    }
}

// A read that stops short exactly at the declared size ends the copy without
// another read only when the file says it met its end there: reads cut short for
// any other reason must not hide a file that grew after its size was taken.
TEST(Store, NoticesGrowthWhenReadsStopExactlyAtTheDeclaredSize) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{1024}, std::size_t{4096}}) {
        FakeFileSystem fs;
        fs.addFile("grown", std::string(8192, 'g'));
        fs.find("grown")->reportedSize = 4096;
        fs.addFile("z", "after");
        FaultyFileSystem faulty(fs);
        faulty.mask = 0;
        faulty.maxReadChunk = chunk;
        const FakeRun run{runOn(faulty, {"-f", "out.res", "grown", "z"}), fs.stdoutBytes};
        EXPECT_EQ(run.output, "Warning: The file grown changed while it was read; it was not stored.\nStored z as Z.\n")
            << "reads of " << chunk;
        EXPECT_EQ(entryNames(storedFile(fs)), std::vector<std::string>{"Z"});
    }
}

// A small file is read once: the read that stops short at its end confirms its size.
TEST(Store, ReadsASmallFileOnce) {
    FakeFileSystem fs;
    fs.addFile("a", "alpha");
    fs.addFile("empty", "");
    FaultyFileSystem faulty(fs);
    faulty.mask = operationBit(FsOperation::READ);
    EXPECT_EQ(runOn(faulty, {"-q", "-f", "out.res", "a", "empty"}), 0);
    EXPECT_EQ(faulty.operations, 2u);
    const ResFile file = storedFile(fs);
    ASSERT_EQ(entryNames(file), (std::vector<std::string>{"A", "EMPTY"}));
    EXPECT_EQ(file.entries[0].data, "alpha");
    EXPECT_EQ(file.entries[1].data, "");
}

TEST(Store, CompletesAnEntryAlreadySentDownAPipeWithZeros) {
    FakeFileSystem fs;
    const std::size_t size = 3 * OutputBuffer::DEFAULT_CAPACITY;
    fs.addFile("big", std::string(size, 'b'));
    fs.addFile("z", "after");
    fs.afterRead = [&fs](const std::string& p, std::uint64_t delivered) {
        // Two thirds in, the file loses all but the next few bytes.
        std::string& content = *fs.find("big")->content;
        if (p == "big" && delivered >= 2 * OutputBuffer::DEFAULT_CAPACITY && content.size() == size) content.resize(delivered + 1000);
    };
    const FakeRun run = runOnFake(fs, {"big", "z"});
    EXPECT_EQ(fs.stderrBytes,
              "Warning: The file big changed or could not be read while it was stored; its resource may not match it.\n"
              "Stored z as Z.\n");
    // The entry keeps its declared size, so the next one is where a reader expects it.
    const ResFile file = readResFile(run.output);
    ASSERT_TRUE(file.valid) << file.error;
    ASSERT_EQ(entryNames(file), (std::vector<std::string>{"BIG", "Z"}));
    EXPECT_EQ(file.entries[0].data.size(), size);
    EXPECT_EQ(file.entries[1].data, "after");
}

TEST(Store, RefusesFilesOf4GiBOrMore) {
    FakeFileSystem fs;
    fs.addFile("huge", "x");
    fs.find("huge")->reportedSize = std::uint64_t{1} << 32;
    fs.addFile("small", "x");
    const FakeRun run = runOnFake(fs, {"-f", "out.res", "huge", "small"});
    EXPECT_EQ(run.output,
              "Warning: Ignoring file huge because it is 4 GiB or larger.\nStored small as SMALL.\n");
    EXPECT_EQ(entryNames(storedFile(fs)), std::vector<std::string>{"SMALL"});
}

TEST(Store, NeverStoresTheResourceFileItIsWriting) {
    FakeFileSystem fs;
    fs.addFile("d/a.gif", "x");
    const FakeRun run = runOnFake(fs, {"-r", "-f", "d/out.res", "d"});
    EXPECT_EQ(run.output, "Stored d/a.gif as D/A.GIF.\n");
    EXPECT_EQ(entryNames(storedFile(fs, "d/out.res")), std::vector<std::string>{"D/A.GIF"});
}

}  // namespace
