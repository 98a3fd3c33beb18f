// The run: options, help texts, exit statuses, and the life of the resource file.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <tuple>

#include "driver/options.h"
#include "record/input_record.h"
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
    // --help and --version exactly, with '-' only; any other "--" is the invalid option '-'.
    for (const std::string other : {"--x", "--helpx", "--Help", "--"}) {
        FakeFileSystem fs6;
        EXPECT_EQ(runOnFake(fs6, {other}).output, "Invalid option: -\n" + USAGE) << other;
    }
    FakeFileSystem fs7;
    EXPECT_EQ(runOnFake(fs7, {"/-help"}, WIN32_PATH_RULES).output, "Invalid option: -\n" + USAGE);
    FakeFileSystem fs8;
    const FakeRun help = runOnFake(fs8, {"--help", "-y"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.output, USAGE +
                               "-u           to write the resource file only when a file changed.\n"
                               "-d           to fail when two files would share a name.\n"
                               "-x pattern   to leave out the files and directories it matches.\n"
                               "-n other.res to take the names other.res holds.\n"
                               "-w           to make every warning, and storing nothing, fail the run.\n"
                               "--help       to show this text.\n"
                               "--version    to show the version.\n");
    FakeFileSystem fs9;
    const FakeRun version = runOnFake(fs9, {"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.output, "raduza " RADUZA_VERSION "\n");
}

TEST(Run, TakesTheArgumentAfterFWhateverItLooksLike) {
    FakeFileSystem fs;
    fs.addFile("a.gif", "x");
    const FakeRun run = runOnFake(fs, {"a.gif", "-f", "-q"});
    EXPECT_EQ(run.output, "Stored a.gif as A.GIF.\n");
    EXPECT_TRUE(readResFile(fs.contentOf("-q")).valid);
}

// "-fgame.res" would take the next argument, perhaps an input, as the file to overwrite.
TEST(Run, RefusesFWithLettersAttachedAndTouchesNothing) {
    for (const PathRules& rules : {POSIX_PATH_RULES, WIN32_PATH_RULES}) {
        FakeFileSystem fs;
        fs.addFile("notes.txt", "mine");
        fs.addFile("a.gif", "x");
        const FakeRun run = runOnFake(fs, {"-r", "-fgame.res", "notes.txt", "a.gif"}, rules);
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.output, "Error:  -fgame.res: write -f and the resource file name as two arguments.\n");
        EXPECT_EQ(fs.contentOf("notes.txt"), "mine");
        EXPECT_FALSE(fs.exists("game.res"));
    }
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

// Under -w every warning, and storing nothing, fails the run before the earlier
// resource file is replaced; -q hides none of it. An updating run's empty bundle
// and -t stay successes.
TEST(Run, StrictRunsFailOnEveryWarningAndLeaveTheEarlierFile) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"a.gif", "a.gif/x.gif"}, "Warning: The file a.gif/x.gif doesn't exist.\n"},
        {{"a.gif", "none*.gif"}, "Warning: Could not find match for none*.gif.\n"},
        {{"a.gif", "d/nothing/x.gif"}, "Warning: Could not find match for d/nothing/x.gif.\n"},
        {{"a.gif", "d/a.gif", "-j"}, "Warning:  Ignoring file d/a.gif because the name A.GIF is already in use.\n"},
        {{"a.gif", "locked.gif"}, "Warning: Could not read the file locked.gif; it was not stored.\n"},
        {{"-r", "a.gif", "d"}, "Warning: Could not read the directory d/locked; files in it were not stored.\n"},
    };
    for (const auto& [specs, warning] : cases) {
        FakeFileSystem fs;
        fs.addFile("a.gif", "x");
        fs.addFile("d/a.gif", "y");
        fs.addFile("locked.gif", "z");
        fs.find("locked.gif")->unreadable = true;
        fs.addDirectory("d/locked");
        fs.find("d/locked")->unreadable = true;
        fs.addFile("out.res", "old");
        std::vector<std::string> arguments{"-q", "-w", "-f", "out.res"};
        arguments.insert(arguments.end(), specs.begin(), specs.end());
        const FakeRun run = runOnFake(fs, arguments);
        EXPECT_EQ(run.exitStatus, 1) << warning;
        EXPECT_EQ(run.output, warning + "Error:  -w makes the warnings above fail the run.\n");
        EXPECT_EQ(fs.contentOf("out.res"), "old") << warning;
    }
    FakeFileSystem fs;
    fs.addFile("out.res", "old");
    fs.addDirectory("d");
    const FakeRun empty = runOnFake(fs, {"-q", "-w", "-f", "out.res", "-r", "d"});
    EXPECT_EQ(empty.exitStatus, 1);
    EXPECT_EQ(empty.output, "Error:  Nothing to do!\n");
    EXPECT_EQ(fs.contentOf("out.res"), "old");
    EXPECT_EQ(runOnFake(fs, {"-q", "-w", "-t", "-f", "out.res", "d"}).exitStatus, 0);
    EXPECT_EQ(runOnFake(fs, {"-q", "-w", "-u", "-f", "out.res", "-r", "d"}).exitStatus, 0);
    EXPECT_EQ(fs.contentOf("out.res").size(), 32u);  // the empty bundle
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
    counted.mask = operationBit(FsOperation::OPEN);
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

// Removals check identity: a file put in place of the old resource file, or of the
// unfinished new one, while the run went on is not the run's to remove.
TEST(Run, RemovesOnlyFilesThatAreStillTheOnesTheRunOpenedOrMade) {
    FakeFileSystem fs;
    fs.addFile("out.res", "old");
    fs.addFile("huge.bin", "x");
    fs.find("huge.bin")->reportedSize = std::uint64_t{1} << 33;  // opened, then refused: nothing stored
    std::string unfinished;
    fs.afterOpen = [&](const std::string&) {
        unfinished = fs.removedOnInterrupt;
        fs.addFile("out.res", "someone else's");
        fs.addFile(unfinished, "also someone else's");
    };
    const FakeRun run = runOnFake(fs, {"-f", "out.res", "huge.bin"});
    EXPECT_EQ(run.exitStatus, 0);
    ASSERT_FALSE(unfinished.empty());
    EXPECT_EQ(fs.contentOf("out.res"), "someone else's");
    EXPECT_EQ(fs.contentOf(unfinished), "also someone else's");
}

TEST(Run, ShowsEverySpecWhenAsked) {
    FakeFileSystem fs;
    fs.addFile("a.gif", "x");
    const FakeRun run = runOnFake(fs, {"-show_allspecs", "-f", "o.res", "a.gif", "b.gif"});
    EXPECT_EQ(run.output,
              "RADUza::run - a.gif\nStored a.gif as A.GIF.\n"
              "RADUza::run - b.gif\nWarning: Could not find match for b.gif.\n");
}

// Updating (-u): a run that finds nothing changed since the last leaves the
// resource file as it was; any change that would alter it makes it again.
struct Updating {
    FakeFileSystem fs;
    std::vector<std::string> options{"-u", "-r"};
    Updating() {
        fs.addFile("d/a.txt", "alpha");
        fs.addFile("d/sub/b.txt", "bee");
        fs.addFile("d/.git/HEAD", "ref");
    }
    // The run's output; `rewritten` tells whether out.res is another file than before.
    FakeRun run(bool& rewritten) {
        const FakeFileSystem::Node* before = fs.find("out.res");
        const std::uint64_t index = before ? before->index : 0;
        fs.stdoutBytes.clear();
        std::vector<std::string> arguments = options;
        arguments.insert(arguments.end(), {"-f", "out.res", "d"});
        const FakeRun result = runOnFake(fs, arguments);
        const FakeFileSystem::Node* after = fs.find("out.res");
        rewritten = !after || after->index != index;
        return result;
    }
    bool rewrites() {
        bool rewritten = false;
        EXPECT_EQ(run(rewritten).exitStatus, 0);
        return rewritten;
    }
    std::vector<std::string> names() { return entryNames(readResFile(fs.contentOf("out.res"))); }
    // What a run with the same options but without -u makes.
    std::string madeWithoutUpdating() {
        std::vector<std::string> arguments{"-q"};
        for (const std::string& option : options)
            if (option != "-u") arguments.push_back(option);
        arguments.insert(arguments.end(), {"-f", "full.res", "d"});
        EXPECT_EQ(runOnFake(fs, arguments).exitStatus, 0);
        return fs.contentOf("full.res");
    }
};

// Stands for every file the walk finds, read again.
const std::set<std::string> ALL_READ{"*"};

TEST(Update, RewritesTheResourceFileOnlyWhenWhatItWouldHoldChanged) {
    Updating updating;
    updating.options.insert(updating.options.end(), {"-x", ".git", "-x", "*.swp", "-x", "sub/skip*"});
    ASSERT_TRUE(updating.rewrites());
    EXPECT_EQ(updating.names(), (std::vector<std::string>{"D/SUB/B.TXT", "D/A.TXT"}));
    bool rewritten = true;
    EXPECT_EQ(updating.run(rewritten).output, "out.res is up to date.\n");
    EXPECT_FALSE(rewritten);

    // What is left out, by name at any depth or by path below the walked directory, changes nothing.
    updating.fs.addFile("d/.git/HEAD", "other ref");
    updating.fs.addFile("d/sub/.b.txt.swp", "swap");
    updating.fs.addFile("d/sub/skipped.txt", "s");
    EXPECT_FALSE(updating.rewrites());

    // Each change is made again exactly as a run without -u makes it, reading only
    // the files that changed: the entries of the rest are copied from the file replaced.
    using Change = std::function<void(FakeFileSystem&)>;
    const std::vector<std::tuple<const char*, Change, std::set<std::string>>> changes{
        {"a file changed", [](FakeFileSystem& fs) { fs.addFile("d/a.txt", "ALPHA"); }, {"d/a.txt"}},
        {"a file added", [](FakeFileSystem& fs) { fs.addFile("d/sub/c.txt", "c"); }, {"d/sub/c.txt"}},
        {"a file removed", [](FakeFileSystem& fs) { fs.remove("d/sub/c.txt"); }, {}},
        {"a file renamed", [](FakeFileSystem& fs) { fs.rename("d/a.txt", "d/z.txt"); }, {"d/z.txt"}},
        {"a directory added", [](FakeFileSystem& fs) { fs.addFile("d/new/n.txt", "n"); }, {"d/new/n.txt"}},
        {"files added before and after", [](FakeFileSystem& fs) {
             fs.addFile("d/0.txt", "0");
             fs.addFile("d/zz.txt", "zz");
         }, {"d/0.txt", "d/zz.txt"}},
        {"the first and last removed", [](FakeFileSystem& fs) {
             fs.remove("d/0.txt");
             fs.remove("d/zz.txt");
         }, {}},
        {"the resource file changed", [](FakeFileSystem& fs) { fs.addFile("out.res", "broken"); }, ALL_READ},
        {"the resource file removed", [](FakeFileSystem& fs) { fs.remove("out.res"); }, ALL_READ},
        {"the record removed", [](FakeFileSystem& fs) { fs.remove("out.res.inputs"); }, ALL_READ},
    };
    for (const auto& [what, change, read] : changes) {
        change(updating.fs);
        std::set<std::string> opened;
        updating.fs.afterOpen = [&](const std::string& path) { opened.insert(path); };
        EXPECT_TRUE(updating.rewrites()) << what;
        updating.fs.afterOpen = nullptr;
        opened.erase("out.res");
        opened.erase("out.res.inputs");
        const std::set<std::string> everyFile{"d/new/n.txt", "d/sub/b.txt", "d/z.txt"};
        EXPECT_EQ(opened, read == ALL_READ ? everyFile : read) << what;
        EXPECT_EQ(updating.fs.contentOf("out.res"), updating.madeWithoutUpdating()) << what;
        EXPECT_FALSE(updating.rewrites()) << what << ", then nothing";
    }
    EXPECT_EQ(updating.names(), (std::vector<std::string>{"D/NEW/N.TXT", "D/SUB/B.TXT", "D/Z.TXT"}));
    // Other options or specs make another resource file.
    updating.options.push_back("-j");
    EXPECT_TRUE(updating.rewrites());
    EXPECT_EQ(updating.names(), (std::vector<std::string>{"N.TXT", "B.TXT", "Z.TXT"}));
}

TEST(Update, MakesTheSameFileWhenMostFilesChanged) {
    // Past a hundred files read because they changed, the walk reads the rest as a
    // run without -u does, changed or not; what it makes stays the same.
    Updating updating;
    for (const char* directory : {"d/many/", "d/more/"})
        for (int i = 0; i < 150; ++i) updating.fs.addFile(directory + std::to_string(i), "was " + std::to_string(i));
    ASSERT_TRUE(updating.rewrites());
    for (int i = 0; i < 150; ++i) updating.fs.addFile("d/many/" + std::to_string(i), "now " + std::to_string(i));
    updating.fs.addFile("d/more/7", "now 7");
    std::size_t opened = 0;
    updating.fs.afterOpen = [&](const std::string&) { ++opened; };
    ASSERT_TRUE(updating.rewrites());
    updating.fs.afterOpen = nullptr;
    EXPECT_GT(opened, 151u + 2u);  // the unchanged files of d/more were read too
    EXPECT_EQ(updating.fs.contentOf("out.res"), updating.madeWithoutUpdating());
    EXPECT_FALSE(updating.rewrites());
}

TEST(Update, CopiesOnlyFromTheFileTheOutputReplaces) {
    // out.res, a link, is turned to another user's file as the output is opened, then
    // back to the old resource file, whose bytes here stand for what that user must
    // not get: they are never copied into that file's replacement.
    Updating updating;
    updating.fs.addLink("out.res", "old.res");
    bool rewritten = false;
    ASSERT_EQ(updating.run(rewritten).exitStatus, 0);
    ASSERT_TRUE(updating.fs.exists("old.res"));
    std::string& old = *updating.fs.find("old.res")->content;
    old.replace(32, std::string::npos, old.size() - 32, 's');  // keeps its stamp, as an edit in place can
    updating.fs.addFile("d/a.txt", "ALPHA");
    const auto pointOutRes = [&](const char* target) {
        updating.fs.remove("out.res");
        updating.fs.addLink("out.res", target);
    };
    updating.fs.beforeOutputOpen = [&](const std::string& path) {
        if (path != "out.res") return;  // not the record
        updating.fs.addFile("theirs.res", "another user's file");
        pointOutRes("theirs.res");
    };
    updating.fs.afterOutputOpen = [&](const std::string& path) {
        if (path == "out.res") pointOutRes("old.res");
    };
    EXPECT_EQ(updating.run(rewritten).exitStatus, 0);
    updating.fs.beforeOutputOpen = nullptr;
    updating.fs.afterOutputOpen = nullptr;
    EXPECT_EQ(updating.fs.contentOf("theirs.res"), updating.madeWithoutUpdating());
}

TEST(Update, DoesNotTrustAFileChangedWhileTheRunRead) {
    Updating updating;
    // b.txt changes after the run began but before its stamp was taken: its time
    // cannot tell that change from one later in the same tick of the clock.
    updating.fs.afterOpen = [&](const std::string& path) {
        if (path == "d/sub/b.txt") updating.fs.addFile("d/a.txt", "alpha");
    };
    ASSERT_TRUE(updating.rewrites());
    updating.fs.afterOpen = nullptr;
    EXPECT_TRUE(updating.rewrites());
    EXPECT_FALSE(updating.rewrites());
}

TEST(Update, TrustsNoStampTheClockCannotOrder) {
    // A date names a step of its file system's clock; a change is before a moment only
    // when its whole step is: whole seconds stand for two, a date ending in zeros for
    // the power of ten they make.
    constexpr std::int64_t S = 1000000000;
    EXPECT_TRUE(changedBefore(5 * S, 7 * S, S));
    EXPECT_FALSE(changedBefore(5 * S, 7 * S - 1, S));
    EXPECT_FALSE(changedBefore(5 * S + 10000000, 5 * S + 19999999, S));
    EXPECT_TRUE(changedBefore(5 * S + 10000000, 5 * S + 20000000, S));
    EXPECT_FALSE(changedBefore(5 * S + 1, 5 * S + 1, S)) << "a change at the very start of the run";
    EXPECT_TRUE(changedBefore(5 * S + 1, 5 * S + 2, S));
    EXPECT_FALSE(changedBefore(UNTRUSTED_TIME, 7 * S, S));

    // Inputs on a file system of whole seconds: an edit in the second of the run that
    // read the file keeps its date, and is made again all the same.
    Updating inputs;
    inputs.fs.wholeSecondsBelow = "d/";
    inputs.fs.addFile("d/a.txt", "AAAA");
    ASSERT_TRUE(inputs.rewrites());
    inputs.fs.rewrite("d/a.txt", "BBBB");
    EXPECT_TRUE(inputs.rewrites());
    EXPECT_EQ(inputs.fs.contentOf("out.res"), inputs.madeWithoutUpdating());
    inputs.fs.advanceClock(3);
    EXPECT_TRUE(inputs.rewrites()) << "the last run could not trust what it read";
    EXPECT_FALSE(inputs.rewrites()) << "read two seconds after its change, a file is trusted";

    // The resource file itself on such a file system: an edit of it in the second it
    // was made keeps its stamp, and is never called up to date nor copied forward.
    Updating output;
    output.fs.wholeSecondsBelow = "";
    output.fs.addFile("d/a.txt", "alpha");
    output.fs.addFile("d/sub/b.txt", "bee");
    output.fs.advanceClock(3);
    ASSERT_TRUE(output.rewrites());
    std::string edited = output.fs.contentOf("out.res");
    edited.replace(edited.size() - 8, 8, "EDITED!!");
    output.fs.rewrite("out.res", edited);
    EXPECT_TRUE(output.rewrites());
    EXPECT_EQ(output.fs.contentOf("out.res"), output.madeWithoutUpdating());
}

TEST(Update, TheRecordDescribesTheFileThisRunMade) {
    // Another run renames its resource file over the name just before this one writes
    // its record: neither file may be called up to date by it.
    Updating updating;
    ASSERT_TRUE(updating.rewrites());
    updating.fs.addFile("d/a.txt", "ALPHA");
    updating.fs.beforeOutputOpen = [&](const std::string& path) {
        if (path == "out.res.inputs") updating.fs.addFile("out.res", "another run's resource file");
    };
    ASSERT_TRUE(updating.rewrites());
    updating.fs.beforeOutputOpen = nullptr;
    EXPECT_TRUE(updating.rewrites());
    EXPECT_EQ(updating.fs.contentOf("out.res"), updating.madeWithoutUpdating());
    EXPECT_FALSE(updating.rewrites());
}

TEST(Update, BelievesOnlyARecordItsResourceFilesOwnerCouldHaveWritten) {
    Updating updating;
    ASSERT_TRUE(updating.rewrites());
    const auto ownershipOf = [&](const char* path) -> FileOwnership& { return updating.fs.find(path)->meta->ownership; };
    // Who wrote the record, and with which permissions, against the resource file's.
    const std::vector<std::tuple<const char*, FileOwnership, FileOwnership, bool>> cases{
        {"another user's", {0, 0, 0644}, {65534, 65534, 0644}, false},
        {"writable by others", {0, 0, 0644}, {0, 0, 0646}, false},
        {"writable by its group", {0, 0, 0644}, {0, 0, 0664}, false},
        {"writable by another group", {0, 5, 0664}, {0, 6, 0664}, false},
        {"writable as the resource file is", {0, 5, 0664}, {0, 5, 0664}, true},
    };
    for (const auto& [what, resource, record, believed] : cases) {
        ownershipOf("out.res") = resource;
        ownershipOf("out.res.inputs") = record;
        EXPECT_EQ(updating.rewrites(), !believed) << what;
        const FileOwnership made = ownershipOf("out.res.inputs");
        EXPECT_EQ(made.user, resource.user) << what;
        EXPECT_EQ(made.group, resource.group) << what;
        EXPECT_EQ(made.mode, resource.mode) << what;
    }
    // Larger than its resource file can explain: not read at all.
    updating.fs.find("out.res.inputs")->reportedSize = recordSizeLimit(updating.fs.contentOf("out.res").size()) + 1;
    EXPECT_TRUE(updating.rewrites());
    EXPECT_FALSE(updating.rewrites());
}

TEST(Update, ALinkFifoOrDirectoryAtTheRecordsNameIsNeverOpenedOrWrittenThrough) {
    Updating updating;
    ASSERT_TRUE(updating.rewrites());
    const std::string record = updating.fs.contentOf("out.res.inputs");
    const std::string refused =
        "Warning: out.res.inputs is not a regular file, so it is no record of the last run; every file is read again.\n";
    updating.fs.addFile("victim", record);  // a record that would call the resource file up to date
    for (const char* what : {"link", "fifo", "directory"}) {
        updating.fs.remove("out.res.inputs");
        if (what == std::string("link")) updating.fs.addLink("out.res.inputs", "/victim");
        if (what == std::string("fifo")) updating.fs.addFifo("out.res.inputs");
        if (what == std::string("directory")) updating.fs.addFile("out.res.inputs/x", "");
        updating.options.push_back("-q");
        bool rewritten = false;
        const FakeRun run = updating.run(rewritten);
        updating.options.pop_back();
        EXPECT_EQ(run.exitStatus, 0) << what;
        EXPECT_TRUE(rewritten) << what;
        EXPECT_EQ(run.output.substr(0, refused.size()), refused) << what;
        EXPECT_EQ(updating.fs.contentOf("victim"), record) << what << ": written through";
        const bool replaced = what != std::string("directory");
        EXPECT_EQ(updating.fs.find("out.res.inputs")->kind == FakeFileSystem::Kind::FILE, replaced) << what;
        if (!replaced) {
            EXPECT_NE(run.output.find("Warning: Could not write out.res.inputs: "), std::string::npos);
        }
    }
}

TEST(Update, ARecordThatLiesCostsAFullReadNeverAWrongFile) {
    Updating updating;
    updating.fs.addFile("d/c.txt", "sea");
    ASSERT_TRUE(updating.rewrites());
    const std::string record = updating.fs.contentOf("out.res.inputs");
    // The span of d/sub/b.txt's entry: the last two numbers of its line.
    const std::size_t line = record.find("d/sub/b.txt");
    const std::size_t end = record.find('\n', line) - 1;
    const std::size_t lengthAt = record.rfind(' ', end - 1) + 1;
    const std::size_t offsetAt = record.rfind(' ', lengthAt - 2) + 1;
    const std::uint64_t offset = std::stoull(record.substr(offsetAt, lengthAt - 1 - offsetAt));
    const auto withSpan = [&](std::uint64_t newOffset, const std::string& newLength) {
        return record.substr(0, offsetAt) + std::to_string(newOffset) + " " + newLength + record.substr(end);
    };
    const std::string length = record.substr(lengthAt, end - lengthAt);
    const std::vector<std::pair<const char*, std::string>> lies{
        {"an offset moved by four", withSpan(offset + 4, length)},
        {"an offset past the end", withSpan(UINT64_MAX - 3, length)},
        {"another length", withSpan(offset, std::to_string(std::stoull(length) + 4))},
        {"cut inside its last entry", record.substr(0, record.size() - 3)},
    };
    for (const auto& [what, lie] : lies) {
        *updating.fs.find("out.res.inputs")->content = lie;
        updating.fs.addFile("d/a.txt", std::string("changed: ") + what);  // so that entries are copied
        EXPECT_TRUE(updating.rewrites()) << what;
        EXPECT_EQ(updating.fs.contentOf("out.res"), updating.madeWithoutUpdating()) << what;
    }
}

TEST(Update, NoRecordIsStoredInEitherMode) {
    Updating updating;
    updating.fs.addFile("d/out.res", "");
    EXPECT_EQ(runOnFake(updating.fs, {"-q", "-u", "-r", "-f", "d/out.res", "d"}).exitStatus, 0);
    ASSERT_TRUE(updating.fs.exists("d/out.res.inputs"));
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"-q", "-r", "-f", "d/out.res", "d"}, {"-q", "-u", "-r", "-f", "d/out.res", "d"}}) {
        updating.fs.addFile("d/a.txt", "changed");
        EXPECT_EQ(runOnFake(updating.fs, arguments).exitStatus, 0);
        EXPECT_EQ(entryNames(readResFile(updating.fs.contentOf("d/out.res"))),
                  (std::vector<std::string>{"D/.GIT/HEAD", "D/SUB/B.TXT", "D/A.TXT"}));
    }
}

TEST(Update, LeavesAnEmptyResourceFileForAnEmptyDirectoryAndNeedsF) {
    FakeFileSystem fs;
    fs.addDirectory("d");
    EXPECT_EQ(runOnFake(fs, {"-q", "-u", "-r", "-f", "out.res", "d"}).exitStatus, 0);
    EXPECT_EQ(fs.contentOf("out.res").size(), 32u);
    EXPECT_TRUE(readResFile(fs.contentOf("out.res")).entries.empty());
    fs.stdoutBytes.clear();
    EXPECT_EQ(runOnFake(fs, {"-u", "-r", "d"}).output,
              "Error:  -u needs -f: the record of what was read is kept beside the resource file.\n");
    for (const char* option : {"-x", "-n"}) {
        fs.stdoutBytes.clear();
        const FakeRun run = runOnFake(fs, {"-f", "out.res", "d", option});
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.output.substr(0, 15), std::string("Error:  ") + option + " must");
    }
}

TEST(Update, ANameTwoFilesWouldShareFailsTheRunNamingBothWithD) {
    Updating updating;
    updating.fs.addFile("d/sub/A.TXT", "x");
    updating.options.insert(updating.options.end(), {"-j", "-x", ".git"});
    ASSERT_TRUE(updating.rewrites());  // without -d the first file wins, as ever
    EXPECT_EQ(updating.names(), (std::vector<std::string>{"A.TXT", "B.TXT"}));
    updating.options.push_back("-d");
    updating.options.push_back("-q");
    bool rewritten = true;
    const FakeRun run = updating.run(rewritten);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.output, "Error:  d/sub/A.TXT and d/a.txt would both be stored as A.TXT.\n");
    EXPECT_FALSE(rewritten);
    // One file named twice is no second file: the usual warning, and the run goes on.
    updating.fs.stdoutBytes.clear();
    EXPECT_EQ(runOnFake(updating.fs, {"-d", "-f", "twice.res", "d/a.txt", "d/a.txt"}).output,
              "Stored d/a.txt as D/A.TXT.\nWarning:  Ignoring file d/a.txt because the name D/A.TXT is already in use.\n");

    // -n: the names another resource file holds, by its record, are taken too.
    updating.fs.remove("d/sub/A.TXT");
    ASSERT_TRUE(updating.rewrites());
    updating.fs.addFile("e/b.txt", "other bee");
    updating.fs.stdoutBytes.clear();
    const FakeRun across = runOnFake(updating.fs, {"-q", "-u", "-d", "-j", "-r", "-n", "out.res", "-f", "e.res", "e"});
    EXPECT_EQ(across.exitStatus, 1);
    EXPECT_EQ(across.output, "Error:  d/sub/b.txt (in out.res) and e/b.txt would both be stored as B.TXT.\n");
    // Two others holding the name: the first to hold it is named.
    updating.fs.stdoutBytes.clear();
    ASSERT_EQ(runOnFake(updating.fs, {"-q", "-u", "-j", "-r", "-f", "g.res", "e"}).exitStatus, 0);
    const FakeRun first = runOnFake(updating.fs, {"-q", "-d", "-j", "-r", "-n", "out.res", "-n", "g.res", "-f", "h.res", "e"});
    EXPECT_EQ(first.output, "Error:  d/sub/b.txt (in out.res) and e/b.txt would both be stored as B.TXT.\n");
    updating.fs.stdoutBytes.clear();
    EXPECT_EQ(runOnFake(updating.fs, {"-q", "-n", "e.res", "-f", "f.res", "e"}).output,
              "Error:  e.res has no record of what it holds; make it with -u first.\n");
}

CommandLine parsedFrom(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "raduza");
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    const ParsedCommandLine parsed = parseCommandLine(static_cast<int>(argv.size()), argv.data(), POSIX_PATH_RULES);
    EXPECT_FALSE(parsed.stop) << arguments[1];
    return parsed.line;
}

std::string keyOf(const std::vector<std::string>& arguments, std::string_view directory = "/w") {
    const CommandLine line = parsedFrom(arguments);
    return recordKey(line, directory, std::vector<std::string>(line.otherResourceFiles.size(), "1 2 3 4"));
}

// An option that makes other bytes from the same files and leaves the key alone
// would let -u keep a stale resource file: each option must say which it is.
TEST(RecordKey, ChangesExactlyForTheOptionsThatDeclareSo) {
    const std::string plain = keyOf({"a.txt"});
    for (const OptionRow& row : OPTION_TABLE) {
        if (row.effect == OptionRow::STOP) {
            EXPECT_EQ(row.key, OptionRow::NOT_IN_KEY) << row.spelling;  // such a run makes no resource file
            continue;
        }
        std::vector<std::string> arguments{"a.txt", row.spelling};
        if (row.argumentName != nullptr) arguments.push_back("other.res");
        EXPECT_EQ(keyOf(arguments) != plain, row.key == OptionRow::CHANGES_KEY) << row.spelling;
    }
    // The specs, their order, the patterns left out, the directory, and each other record's stamp.
    EXPECT_NE(keyOf({"b.txt", "a.txt"}), keyOf({"a.txt", "b.txt"}));
    EXPECT_NE(keyOf({"a.txt", "-x", "b*"}), keyOf({"a.txt", "-x", "c*"}));
    EXPECT_NE(keyOf({"a.txt"}, "/v"), plain);
    const CommandLine other = parsedFrom({"a.txt", "-n", "o.res"});
    EXPECT_NE(recordKey(other, "/w", {"1 2 3 4"}), recordKey(other, "/w", {"1 2 3 5"}));
    // Records written before keep matching: other bytes here need another version.
    EXPECT_EQ(keyOf({"-j", "-r", "-x", "*.o", "-n", "other.res", "-q", "a", "b"}),
              "22:/wjr--4:x*.o20:9:other.res7:1 2 3 41:a1:b");
    EXPECT_EQ(directoryOfKey(plain), "/w");
}

}  // namespace
