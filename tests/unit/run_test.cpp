// The run: options, help texts, exit statuses, and the life of the resource file.
#include <gtest/gtest.h>

#include "tests/support/fake_run.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/fixtures.h"
#include "tests/support/res_reader.h"

namespace {

using fixtures::USAGE;

TEST(Run, WithoutArgumentsPrintsUsageThenNothingToDo) {
    FakeFileSystem fs;
    const FakeRun run = runOnFake(fs, {});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, USAGE + "Error:  Nothing to do!\n");
}

TEST(Run, RejectsAnInvalidOptionAnywhereBeforeCreatingAnything) {
    // Option letters are lower case only: -J is not -j.
    for (const std::string option : {"y", "J"}) {
        FakeFileSystem fs;
        fs.addFile("a.gif", "x");
        const FakeRun run = runOnFake(fs, {"-q", "-f", "out.res", "a.gif", "-" + option});
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.output, "Invalid option: " + option + "\n" + USAGE);
        EXPECT_FALSE(fs.exists("out.res"));
    }
}

TEST(Run, ReportsTheNulOfABareDashAsTheInvalidOption) {
    FakeFileSystem fs;
    EXPECT_EQ(runOnFake(fs, {"-"}).output, std::string("Invalid option: ") + '\0' + "\n" + USAGE);
}

TEST(Run, MatchesLongOptionsWholeAndShortOptionsByTheirSecondCharacter) {
    FakeFileSystem fs;
    EXPECT_EQ(runOnFake(fs, {"-help-undocumented", "-y"}).output,
              "-show_padding   report writes of pad bytes.\n"
              "-show_allspecs  show all file specs.\n"
              "-show_recurs    report dirs as they are recursed into.\n");
    FakeFileSystem fs2;
    EXPECT_EQ(runOnFake(fs2, {"-h"}).output, "Invalid option: h\n" + USAGE);
    FakeFileSystem fs3;
    EXPECT_EQ(runOnFake(fs3, {"-show_paddingX"}).output, "Invalid option: s\n" + USAGE);
    FakeFileSystem fs4;
    EXPECT_EQ(runOnFake(fs4, {"-quiet", "-t"}).output, "");  // -quiet is -q
    FakeFileSystem fs5;
    EXPECT_EQ(runOnFake(fs5, {"/show_padding"}, WIN32_PATH_RULES).output, "Invalid option: s\n" + USAGE);
}

TEST(Run, TakesTheArgumentAfterFWhateverItLooksLike) {
    FakeFileSystem fs;
    fs.addFile("a.gif", "x");
    const FakeRun run = runOnFake(fs, {"a.gif", "-fout.res", "-q"});
    EXPECT_EQ(run.output, "Stored a.gif as A.GIF.\n");
    EXPECT_TRUE(readResFile(fs.contentOf("-q")).valid);
}

TEST(Run, FAsTheLastArgumentIsAnErrorAndCreatesNothing) {
    FakeFileSystem fs;
    fs.addFile("a.gif", "x");
    const FakeRun run = runOnFake(fs, {"a.gif", "-f"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.output, "Error:  -f must be followed by the resource file name.\n" + USAGE);
}

TEST(Run, OnPosixASlashStartsAPathNotAnOption) {
    FakeFileSystem fs;
    fs.addFile("img/a.gif", "x");
    EXPECT_EQ(runOnFake(fs, {"-q", "-f", "o.res", "/img/a.gif"}).exitStatus, 0);
    EXPECT_EQ(entryNames(readResFile(fs.contentOf("o.res"))), std::vector<std::string>{"/IMG/A.GIF"});
}

TEST(Run, OptionsOnlyLeavesAnExistingResourceFileUntouched) {
    FakeFileSystem fs;
    fs.addFile("a.gif", "x");
    fs.addFile("out.res", "old");
    const FakeRun run = runOnFake(fs, {"-t", "-f", "out.res", "a.gif"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, "Error:  Nothing to do!\n");
    EXPECT_EQ(fs.contentOf("out.res"), "old");
}

TEST(Run, RefusesAReadOnlyResourceFile) {
    FakeFileSystem fs;
    fs.addFile("a.gif", "x");
    fs.addFile("out.res", "old", true);
    const FakeRun run = runOnFake(fs, {"-f", "out.res", "a.gif"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.output, "Error:  out.res is not writable.\n");
    EXPECT_EQ(fs.contentOf("out.res"), "old");
}

TEST(Run, DeletesTheResourceFileWhenNothingWasStored) {
    FakeFileSystem fs;
    const FakeRun run = runOnFake(fs, {"-q", "-f", "out.res", "nothing*.gif"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, "Warning: Could not find match for nothing*.gif.\n");
    EXPECT_FALSE(fs.exists("out.res"));
}

TEST(Run, WritesTheLeadingEntryToStandardOutputEvenWhenNothingIsStored) {
    FakeFileSystem fs;
    const FakeRun run = runOnFake(fs, {"missing"});
    EXPECT_EQ(run.output, fixtures::LEADING_ENTRY);
    EXPECT_EQ(fs.stderrBytes, "Warning: Could not find match for missing.\nError:  Nothing to do!\n");
}

TEST(Run, FailsWhenTheResourceFileCannotBeCreated) {
    FakeFileSystem fs;
    fs.addFile("a.gif", "x");
    const FakeRun run = runOnFake(fs, {"-f", "no/such/dir/out.res", "a.gif"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.output, "Error:  Could not create no/such/dir/out.res: No such file or directory.\n");
}

TEST(Run, FailsAndRemovesTheResourceFileWhenAnyWriteFails) {
    int failedWrites = 0;
    for (std::uint64_t n = 1; n < 200; ++n) {
        FakeFileSystem fs;
        fs.addFile("a.gif", "x");
        fs.addFile("b.gif", "y");
        FaultyFileSystem faulty(fs);
        faulty.mask = operationBit(FsOperation::WRITE);
        faulty.failAt = n;
        const int status = runOn(faulty, {"-f", "out.res", "a.gif", "b.gif"});
        if (faulty.failedOperations.empty()) break;  // past the run's last write
        ++failedWrites;
        EXPECT_EQ(status, 1);
        EXPECT_NE(fs.stdoutBytes.find("Error:  Could not write to out.res: Injected failure; the run is abandoned.\n"),
                  std::string::npos);
        EXPECT_FALSE(fs.exists("out.res"));
    }
    EXPECT_EQ(failedWrites, 2);  // the leading entry, then the gathered entries at the end
}

TEST(Run, FailsWhenStandardOutputCarriesTheResourceFileAndIsClosed) {
    FakeFileSystem fs;
    fs.addFile("a.gif", "x");
    fs.stdoutClosed = true;
    const FakeRun run = runOnFake(fs, {"a.gif"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(fs.stderrBytes, "Error:  Could not write to standard output: Bad file descriptor; the run is abandoned.\n");
}

TEST(Run, RefusesASpecialFileNamedDirectlyWithoutOpeningIt) {
    FakeFileSystem fs;
    fs.addFifo("pipe");
    FaultyFileSystem counted(fs);
    counted.mask = operationBit(FsOperation::OPEN_INPUT);
    EXPECT_EQ(runOn(counted, {"-f", "out.res", "pipe"}), 0);
    EXPECT_EQ(counted.operations, 0u) << "the FIFO was opened";
    EXPECT_EQ(fs.stdoutBytes, "Warning: Could not read the file pipe; it was not stored.\nError:  Nothing to do!\n");
}

TEST(Run, ReplacesTheResourceFileInOneStepOrInPlaceWhereNoNewFileCanBeMade) {
    for (const bool refused : {false, true}) {
        FakeFileSystem fs;
        fs.addFile("a.gif", "x");
        fs.addFile("out.res", "old");
        fs.temporariesRefused = refused;
        FakeFileSystem::Node* old = fs.find("out.res");
        const std::uint64_t oldIndex = old->index;
        EXPECT_EQ(runOnFake(fs, {"-q", "-f", "out.res", "a.gif"}).exitStatus, 0);
        EXPECT_EQ(entryNames(readResFile(fs.contentOf("out.res"))), std::vector<std::string>{"A.GIF"});
        // Replaced: a new file took the name; in place: the same file holds the new bytes.
        EXPECT_EQ(fs.find("out.res")->index == oldIndex, refused);
        EXPECT_TRUE(fs.removedOnInterrupt.empty());
    }
}

TEST(Run, ShowsEverySpecWhenAsked) {
    FakeFileSystem fs;
    fs.addFile("a.gif", "x");
    const FakeRun run = runOnFake(fs, {"-show_allspecs", "-f", "o.res", "a.gif", "b.gif"});
    EXPECT_EQ(run.output,
              "RADUza::run - a.gif\nStored a.gif as A.GIF.\n"
              "RADUza::run - b.gif\nWarning: Could not find match for b.gif.\n");
}

}  // namespace
