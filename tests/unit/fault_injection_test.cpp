// Fault injection: a representative run repeated with each of its file-system
// operations failing in turn, and again with every operation failing from that
// one on, over the in-memory file system and over the real one. Every run must end
// with a message, the status promised for the failure, and a resource file that is
// absent or whole, its entries exactly their inputs.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>

#include <filesystem>

#include "filespec/resource_name.h"
#include "tests/support/fake_run.h"
#include "tests/support/faulty_file_system.h"
#ifndef _WIN32
#include "tests/support/faulty_system_calls_posix.h"
#endif
#include "tests/support/res_reader.h"
#include "tests/support/temp_dir.h"

namespace {

// Larger than the output buffer, so a read failure can come after part of the
// entry has already left for the sink; large enough that the system copies it
// where it can, so a system copy can stop anywhere in it.
constexpr std::size_t BIG_SIZE = OutputBuffer::DEFAULT_CAPACITY + 300000;
constexpr std::size_t READ_CHUNK = 256 * 1024;

// No capital letters in any content: the messages that share standard output
// with the resource file can then be told apart from its bytes.
const std::map<std::string, std::string>& inputs() {
    static const std::map<std::string, std::string> files = [] {
        std::string big(BIG_SIZE, '\0');
        for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 23);
        return std::map<std::string, std::string>{
            {"a.gif", "alpha"},      {"b.txt", ""},          {"dir/c.gif", "charlie!"},
            {"dir/e.txt", "echo?"},  {"dir/.hidden", "h"},   {"dir/sub/d.gif", "delta"},
            {"dir/sub/big.bin", big},
        };
    }();
    return files;
}

// Several files, -r, a duplicate, a missing file and a missing directory.
const std::vector<std::string> SPECS{"-r", "a.gif", "dir", "b.txt", "a.gif", "missing.gif", "nodir/x.gif"};

struct Scenario {
    const char* what;
    std::vector<std::string> arguments;
    bool toStandardOutput;
    bool keepFailing;
    bool withBigFile = true;  // costly under the sanitizers; left out where it adds no path
    std::optional<std::string> previous = {};  // out.res before the run
    bool inPlace = false;  // no new file can be made beside out.res: it is written where it is
    // out.res and its record come from an earlier run with -u, before a.gif changed:
    // the run reads a.gif and copies the other entries from out.res.
    bool updatesAnEarlierRun = false;
};

constexpr const char* EARLIER_A_GIF = "alpha, before it changed";

constexpr const char* PREVIOUS = "an earlier resource file";

std::vector<std::string> withOutputFile(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"-f", "out.res"});
    return arguments;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        result.push_back(text.substr(start, end - start));
    return result;
}

// The path of a report "<prefix><path><suffix>", when the line is one.
std::optional<std::string> reportedPath(const std::string& line, const std::string& prefix, const std::string& suffix) {
    if (!startsWith(line, prefix) || line.size() < prefix.size() + suffix.size() ||
        line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::nullopt;
    return line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
}

// True when `line` names a pattern in `dir`, as "dir/*.gif" ends a warning.
bool namesPatternIn(const std::string& line, const std::string& dir) {
    const std::size_t at = line.find(" " + dir + "/");
    if (at == std::string::npos || line.back() != '.') return false;
    const std::string pattern = line.substr(at + dir.size() + 2, line.size() - 1 - (at + dir.size() + 2));
    return pattern.find_first_of("*?") != std::string::npos && pattern.find_first_of("/ ") == std::string::npos;
}

// True when a warning names `path`, a directory above it, or a pattern in its directory.
bool accountedFor(const std::string& path, const std::vector<std::string>& messageLines) {
    for (const std::string& line : messageLines) {
        if (!startsWith(line, "Warning")) continue;
        for (std::size_t cut = path.size(); cut != std::string::npos && cut > 0; cut = path.rfind('/', cut - 1)) {
            const std::string named = path.substr(0, cut);
            for (const char* after : {" ", ".", ";"})
                if (line.find(" " + named + after) != std::string::npos) return true;
        }
        const std::size_t slash = path.rfind('/');
        if (slash != std::string::npos && namesPatternIn(line, path.substr(0, slash))) return true;
    }
    return false;
}

struct Outcome {
    int exitStatus = 0;
    std::string messages;
    std::optional<std::string> resource;  // nothing when no resource file is left
    std::vector<std::string> failed;
    std::size_t leftovers = 0;  // unfinished files left beside out.res
    std::optional<std::string> previous;  // out.res before the run, when an earlier run made it
    std::optional<std::string> record;    // out.res.inputs after the run
};

// The file system a scenario runs on, with the inputs in place.
class World {
public:
    virtual ~World() = default;
    virtual FileSystem& fileSystem() = 0;
    virtual void addFile(const std::string& path, const std::string& content) = 0;
    std::optional<std::string> resourceFile() { return file("out.res"); }
    virtual std::optional<std::string> file(const std::string& name) = 0;  // when it exists
    virtual std::size_t leftovers() = 0;
    // Makes the directory refuse new files; false where that cannot be done.
    virtual bool refuseNewFiles() = 0;
    // Lets `faults` fail the steps of reading where the file system makes them.
    virtual void failStepsWith(FaultyFileSystem&) {}
    // Waits until files written so far are older than any run's start by the system's
    // clock: a stamp taken within the tick a run starts in is not trusted.
    virtual void letTheClockTick() {}
};

class FakeWorld : public World {
public:
    explicit FakeWorld(std::size_t openAhead = 0) { fs_.openAhead = openAhead; }
    FileSystem& fileSystem() override { return fs_; }
    void addFile(const std::string& path, const std::string& content) override { fs_.addFile(path, content); }
    std::optional<std::string> file(const std::string& name) override {
        if (!fs_.exists(name)) return std::nullopt;
        return fs_.contentOf(name);
    }
    std::size_t leftovers() override {
        std::size_t count = 0;
        if (Result<std::unique_ptr<Directory>> listed = fs_.openDirectory("."))
            (*listed)->listFiles("*.*", [&](const DirEntry& entry) {
                count += isUnfinishedResourceFileName(entry.name);
                return true;
            });
        return count;
    }
    bool refuseNewFiles() override {
        fs_.temporariesRefused = true;
        return true;
    }

private:
    FakeFileSystem fs_;
};

// The fake opening a directory's files before the walk reaches them, in the order the
// POSIX read-ahead does, so a failure can come between the open of a file and its turn.
class FakeWorldOpeningAhead : public FakeWorld {
public:
    FakeWorldOpeningAhead() : FakeWorld(2) {}
};

// The real file system in a scratch directory that is the current one for the run.
// On POSIX its listing, open, size, read and close steps fail as the system calls
// that make them, the read-ahead's included.
class RealWorld : public World {
public:
    RealWorld() : previous_(std::filesystem::current_path()) { std::filesystem::current_path(dir_.path()); }
    ~RealWorld() override { std::filesystem::current_path(previous_); }
#ifdef _WIN32
    FileSystem& fileSystem() override { return realFileSystem(); }
#else
    FileSystem& fileSystem() override { return *fs_; }
    void failStepsWith(FaultyFileSystem& faults) override {
        faults.stepsBelow = true;
        calls_.faults = &faults;
    }
#endif
    void addFile(const std::string& path, const std::string& content) override { dir_.writeFile(path, content); }
    std::optional<std::string> file(const std::string& name) override {
        if (!dir_.exists(name)) return std::nullopt;
        return dir_.readFile(name);
    }
    std::size_t leftovers() override {
        std::size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
            count += isUnfinishedResourceFileName(entry.path().filename().string());
        return count;
    }
    bool refuseNewFiles() override { return false; }  // root writes in any directory
    void letTheClockTick() override { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

private:
    TempDir dir_;
    std::filesystem::path previous_;
#ifndef _WIN32
    FaultySystemCalls calls_;
    std::unique_ptr<FileSystem> fs_ = makePosixFileSystem(calls_);
#endif
};

Outcome runScenario(World& world, const Scenario& scenario, std::uint64_t failAt) {
    for (const auto& [path, content] : inputs())
        if (scenario.withBigFile || content.size() < BIG_SIZE) world.addFile(path, content);
    if (scenario.previous) world.addFile("out.res", *scenario.previous);
    if (scenario.inPlace && !world.refuseNewFiles()) return Outcome{-1, {}, {}, {}, 0, {}, {}};
    Outcome outcome;
    if (scenario.updatesAnEarlierRun) {
        world.addFile("a.gif", EARLIER_A_GIF);
        world.letTheClockTick();
        FaultyFileSystem quiet(world.fileSystem(), true);  // takes the messages
        if (runOn(quiet, scenario.arguments) != EXIT_STATUS_OK) return Outcome{-2, quiet.stdoutBytes, {}, {}, 0, {}, {}};
        world.addFile("a.gif", inputs().at("a.gif"));
        outcome.previous = world.resourceFile();
    }
    FaultyFileSystem fs(world.fileSystem(), true);
    world.failStepsWith(fs);
    fs.maxReadChunk = READ_CHUNK;
    fs.failAt = failAt;
    fs.keepFailing = scenario.keepFailing;
    outcome.exitStatus = runOn(fs, scenario.arguments);
    outcome.failed = fs.failedOperations;
    if (scenario.toStandardOutput) {
        outcome.resource = fs.stdoutBytes;  // the messages are on standard error
    } else {
        outcome.messages = fs.stdoutBytes;
        outcome.resource = world.resourceFile();
    }
    outcome.messages += fs.stderrBytes;
    outcome.leftovers = world.leftovers();
    outcome.record = world.file("out.res.inputs");
    if (scenario.previous) outcome.previous = scenario.previous;
    return outcome;
}

template <class WorldType>
Outcome runScenarioIn(const Scenario& scenario, std::uint64_t failAt) {
    WorldType world;
    return runScenario(world, scenario, failAt);
}

// Runs stopped because the resource file they replace could not be read: the sweeps
// must meet some, or the copying from it went untried.
std::uint64_t earlierCopiesStopped = 0;

// Checks one run against the promises; `stored` is what the run without failures stored.
void checkOutcome(const Scenario& scenario, const Outcome& outcome, const std::set<std::string>& stored) {
    const std::set<std::string> failed(outcome.failed.begin(), outcome.failed.end());
    const std::string outputName = scenario.toStandardOutput ? "standard output" : "out.res";
    // Only a new file the system refused to remove may stay beside out.res.
    if (!failed.count("removeFile")) {
        EXPECT_EQ(outcome.leftovers, 0u);
    }
    // out.res is opened through the system first; the resource file is made beside
    // it and renamed over it, or, where no new file can be made, written in place.
    const bool notCreated = failed.count("openOutputTarget") || failed.count("createReplacement") ||
                            (scenario.inPlace && failed.count("truncate") && !failed.count("write"));
    const bool notReplaced = failed.count("adoptOwnership") || failed.count("replace");
    // When standard output carries the resource file, the messages go to standard
    // error: a failed write of a message loses no resource bytes, and the run succeeds.
    // An updating run writes its record after the resource file: losing it is a warning.
    const bool recordLost = outcome.messages.find("Warning: Could not write out.res.inputs: ") != std::string::npos;
    const bool outputFailed = scenario.toStandardOutput ? failed.count("stdout write") > 0
                                                        : (failed.count("write") || notReplaced || notCreated) && !recordLost;
    const bool messagesLost = failed.count("stderr write") > 0 || (!scenario.toStandardOutput && failed.count("stdout write"));
    const std::vector<std::string> messageLines = lines(outcome.messages);
    ASSERT_FALSE(messageLines.empty());

    // Copying from the resource file being replaced stops the run where it cannot
    // read that file, which stays as it was.
    if (outcome.messages.find("Could not copy the unchanged files' entries") != std::string::npos) {
        ++earlierCopiesStopped;
        EXPECT_TRUE(failed.count("read")) << outcome.messages;
        EXPECT_EQ(outcome.exitStatus, EXIT_STATUS_FAILED);
        EXPECT_EQ(messageLines.back(),
                  "Error:  Could not copy the unchanged files' entries from the earlier out.res: it could not be read; "
                  "the run is abandoned, and the next reads every file.");
        EXPECT_EQ(outcome.resource, outcome.previous);
        EXPECT_EQ(outcome.record, std::optional<std::string>(""));
        return;
    }

    if (outputFailed) {
        EXPECT_EQ(outcome.exitStatus, EXIT_STATUS_FAILED);
        const std::string reason = FaultyFileSystem::INJECTED_ERROR;
        const std::string writeFailed = "Error:  Could not write to " + outputName + ": " + reason + "; the run is abandoned.";
        if (notCreated) {
            EXPECT_EQ(messageLines.back(), "Error:  Could not create out.res: " + reason + ".");
        } else if (scenario.inPlace) {
            // Written in place, a failed resource file is left empty, never partial,
            // and never removed: the directory allows no new one.
            if (failed.count("empty")) return;  // the system refused that too: nothing more can be done
            ASSERT_GE(messageLines.size(), 2u);
            EXPECT_EQ(messageLines[messageLines.size() - 2], writeFailed);
            EXPECT_EQ(messageLines.back(), "Error:  out.res was being overwritten directly when the run stopped, so it is left empty.");
            EXPECT_EQ(outcome.resource, std::optional<std::string>(""));
            return;
        } else if (notReplaced) {
            EXPECT_EQ(messageLines.back(), "Error:  Could not replace out.res with the new resource file: " + reason + "; it is left as it was.");
        } else {
            EXPECT_EQ(messageLines.back(), writeFailed);
        }
        // A failed run leaves the previous resource file, or none, as it was.
        if (!scenario.toStandardOutput) {
            EXPECT_EQ(outcome.resource, outcome.previous);
        }
        return;
    }
    const bool damaged = outcome.messages.find(" changed or could not be read while it was stored;") != std::string::npos;
    EXPECT_EQ(outcome.exitStatus, damaged ? EXIT_STATUS_FAILED : EXIT_STATUS_OK);
    if (!outcome.resource) {
        EXPECT_EQ(messageLines.back(), "Error:  Nothing to do!");
        EXPECT_TRUE(!outcome.previous || !scenario.inPlace) << "written in place, it is emptied, not removed";
        return;
    }
    if (outcome.resource->empty() && scenario.inPlace) {
        EXPECT_EQ(messageLines.back(), "Error:  Nothing to do!");
        return;
    }
    if (outcome.previous && *outcome.resource == *outcome.previous) {
        // Nothing stored, and the old file could not be removed.
        EXPECT_EQ(messageLines.back(), "Error:  Nothing to do!");
        EXPECT_TRUE(failed.count("removeFile"));
        return;
    }
    const ResFile file = readResFile(*outcome.resource);
    ASSERT_TRUE(file.valid) << file.error;

    // Every entry is announced after it was written, as stored or as damaged, in file order.
    std::vector<std::pair<std::string, bool>> announced;  // path, complete
    for (const std::string& line : messageLines) {
        if (line.find("Stored ") == 0) announced.emplace_back(line.substr(7, line.rfind(" as ") - 7), true);
        if (auto path = reportedPath(line, "Warning: The file ", " changed or could not be read while it was stored; its resource may not match it."))
            announced.emplace_back(*path, false);
    }
    if (messagesLost) {
        // Whatever the lost messages said, every entry is one input's, whole or completed.
        for (const ResEntry& entry : file.entries) {
            bool fromAnInput = false;
            for (const auto& [path, content] : inputs())
                fromAnInput = fromAnInput || (entry.name.utf8() == deriveResourceName(path, false, POSIX_PATH_RULES) &&
                                              entry.data.size() == content.size());
            EXPECT_TRUE(fromAnInput) << entry.name.utf8();
        }
        return;
    }
    ASSERT_EQ(announced.size(), file.entries.size());
    std::set<std::string> names;
    for (std::size_t i = 0; i < file.entries.size(); ++i) {
        const auto& [path, complete] = announced[i];
        const ResEntry& entry = file.entries[i];
        ASSERT_EQ(inputs().count(path), 1u) << path;
        const std::string& content = inputs().at(path);
        EXPECT_EQ(entry.name.utf8(), deriveResourceName(path, false, POSIX_PATH_RULES));
        EXPECT_TRUE(names.insert(entry.name.utf8()).second) << "twice: " << path;
        if (complete) {
            EXPECT_EQ(entry.data, content) << path;
        } else {
            // Bytes that were already sent stay; the rest of the declared size is zeros.
            ASSERT_EQ(entry.data.size(), content.size()) << path;
            std::size_t same = 0;
            while (same < content.size() && entry.data[same] == content[same]) ++same;
            EXPECT_EQ(entry.data.find_first_not_of('\0', same), std::string::npos) << path;
        }
    }
    // A file the run without failures stored is either stored again or named in a warning.
    for (const std::string& path : stored) {
        if (!names.count(deriveResourceName(path, false, POSIX_PATH_RULES))) {
            EXPECT_TRUE(accountedFor(path, messageLines)) << path << " was lost without a word";
        }
    }
}

const std::vector<Scenario>& scenarios() {
    static const std::vector<Scenario> all{
        {"to a file", withOutputFile(SPECS), false, false},
        {"to standard output", SPECS, true, false},
        {"to a file, disk gone", withOutputFile(SPECS), false, true},
        {"to standard output, disk gone", SPECS, true, true, false},
        // Patterns list a directory and open its files from the listing.
        {"patterns, to a file", withOutputFile({"dir/*.gif", "dir/sub/*.*", "a.gif", "dir/e.txt"}), false, false, false},
        {"nothing to store", withOutputFile({"-r", "missing.gif", "dir/none*.x", "dir/sub/none"}), false, false, false},
        {"replacing a file", withOutputFile(SPECS), false, false, false, PREVIOUS},
        {"replacing a file, disk gone", withOutputFile(SPECS), false, true, false, PREVIOUS},
        {"nothing to store, replacing a file", withOutputFile({"missing.gif"}), false, false, false, PREVIOUS},
        {"in place", withOutputFile(SPECS), false, false, true, PREVIOUS, true},
        {"in place, disk gone", withOutputFile(SPECS), false, true, false, PREVIOUS, true},
        {"nothing to store, in place", withOutputFile({"missing.gif"}), false, false, false, PREVIOUS, true},
        // Updating also takes each file's stamp and writes a record beside the resource file.
        {"updating, to a file", withOutputFile({"-u", "-r", "a.gif", "dir", "missing.gif"}), false, false, false},
        {"updating after a change", withOutputFile({"-u", "-r", "dir", "a.gif", "missing.gif"}), false, false, true, {},
         false, true},
    };
    return all;
}

// Runs every scenario with each operation failing in turn; gathers the names of
// the operations that were made to fail, and counts the runs in `injected`.
template <class WorldType>
void sweep(std::set<std::string>& everyFailed, std::uint64_t& injected) {
    for (const Scenario& scenario : scenarios()) {
        const Outcome baseline = runScenarioIn<WorldType>(scenario, 0);
        if (baseline.exitStatus == -1) continue;  // this world cannot refuse new files
        ASSERT_EQ(baseline.exitStatus, EXIT_STATUS_OK) << scenario.what;
        // Without failures every input is read whole: the runs below are held to what it stored.
        for (const char* unreadable : {" changed ", "Could not read"})
            ASSERT_EQ(baseline.messages.find(unreadable), std::string::npos) << scenario.what << ":\n" << baseline.messages;
        std::set<std::string> stored;
        for (const std::string& line : lines(baseline.messages))
            if (line.find("Stored ") == 0) stored.insert(line.substr(7, line.rfind(" as ") - 7));
        for (std::uint64_t n = 1;; ++n) {
            const Outcome outcome = runScenarioIn<WorldType>(scenario, n);
            if (outcome.failed.empty()) break;  // past the run's last operation
            ++injected;
            everyFailed.insert(outcome.failed.begin(), outcome.failed.end());
            SCOPED_TRACE(std::string(scenario.what) + ", operation " + std::to_string(n) + " (" + outcome.failed[0] + ")");
            checkOutcome(scenario, outcome, stored);
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

void expectEveryKindFailed(const std::set<std::string>& everyFailed, bool inPlaceToo, bool withClose) {
    for (const char* operation : {"status", "list", "open", "size", "read", "openOutputTarget", "createReplacement",
                                  "adoptOwnership", "replace", "write", "system copy", "truncate", "empty", "removeFile",
                                  "stdout write", "stderr write"})
        if (inPlaceToo || std::string(operation) != "empty") {
            EXPECT_TRUE(everyFailed.count(operation)) << operation << " never failed";
        }
    // An input's close is a step only where the system makes it.
    EXPECT_EQ(everyFailed.count("close") > 0, withClose);
}

template <class WorldType>
void sweepTheFake() {
    std::set<std::string> everyFailed;
    std::uint64_t injected = 0;
    earlierCopiesStopped = 0;
    sweep<WorldType>(everyFailed, injected);
    expectEveryKindFailed(everyFailed, true, false);
    EXPECT_GT(injected, 240u);  // some fifty operations a scenario
    EXPECT_GT(earlierCopiesStopped, 0u);
}

TEST(Faults, EveryFailingOperationEndsTheRunCleanly) { sweepTheFake<FakeWorld>(); }

TEST(Faults, EveryFailingOperationEndsTheRunCleanlyWithFilesOpenedAhead) { sweepTheFake<FakeWorldOpeningAhead>(); }

TEST(Faults, EveryFailingOperationOfTheRealFileSystemEndsTheRunCleanly) {
    std::set<std::string> everyFailed;
    std::uint64_t injected = 0;
    sweep<RealWorld>(everyFailed, injected);
#ifdef _WIN32
    expectEveryKindFailed(everyFailed, false, false);
#else
    expectEveryKindFailed(everyFailed, false, true);
#endif
    EXPECT_GT(injected, 240u);
}

TEST(Faults, ShortReadsChangeNothing) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
        FakeFileSystem fs;
        fs.addFile("a.gif", "alpha");
        fs.addFile("dir/b.bin", std::string(10000, 'b'));
        FaultyFileSystem shortReads(fs);
        shortReads.maxReadChunk = chunk;
        EXPECT_EQ(runOn(shortReads, {"-q", "-r", "-f", "out.res", "a.gif", "dir"}), EXIT_STATUS_OK);
        const ResFile file = readResFile(fs.contentOf("out.res"));
        ASSERT_TRUE(file.valid) << file.error;
        ASSERT_EQ(file.entries.size(), 2u);
        EXPECT_EQ(file.entries[0].data, "alpha");
        EXPECT_EQ(file.entries[1].data, std::string(10000, 'b'));
    }
}

TEST(Faults, ADirectoryThatCannotBeReadIsReportedAndSkipped) {
    // Walked with -r, and searched by a pattern with a directory part.
    for (const std::vector<std::string>& specs : {std::vector<std::string>{"-r", "d"},
                                                   std::vector<std::string>{"d/*.gif", "d/locked/*.gif"}}) {
        FakeFileSystem fs;
        fs.addFile("d/a.gif", "1");
        fs.addFile("d/locked/b.gif", "2");
        fs.addFile("d/z.gif", "3");
        fs.find("d/locked")->unreadable = true;
        std::vector<std::string> arguments{"-q", "-f", "out.res"};
        arguments.insert(arguments.end(), specs.begin(), specs.end());
        const FakeRun run = runOnFake(fs, arguments);
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.output, "Warning: Could not read the directory d/locked; files in it were not stored.\n");
        EXPECT_EQ(entryNames(readResFile(fs.contentOf("out.res"))), (std::vector<std::string>{"D/A.GIF", "D/Z.GIF"}));
    }
}

#ifndef _WIN32
// The steps the read-ahead makes fail too: over a listing large enough to be read
// ahead, each system call of reading fails in turn, on whichever thread makes it. The
// run goes on; every file is stored whole or named in a warning, and none stays open.
TEST(Faults, EveryFailingStepOfAListingReadAheadEndsTheRunCleanly) {
    constexpr int FILES = 40;
    TempDir dir;
    std::vector<std::pair<std::string, std::string>> files;  // path and bytes, in the order stored
    for (int i = 0; i < FILES; ++i) {
        // Read whole ahead, and larger ones handed over open.
        std::string content(static_cast<std::size_t>(i) * 997 % 30000, static_cast<char>('a' + i % 26));
        files.emplace_back(dir.path() + "/d/f" + std::to_string(100 + i), content);
        dir.writeFile("d/f" + std::to_string(100 + i), content);
    }
    std::set<std::string> everyFailed;
    for (std::uint64_t n = 1;; ++n) {
        FaultySystemCalls calls;
        const std::unique_ptr<FileSystem> real = makePosixFileSystem(calls);
        FaultyFileSystem fs(*real, true);
        fs.stepsBelow = true;
        fs.mask = operationBit(FsOperation::LIST) | operationBit(FsOperation::OPEN) | operationBit(FsOperation::SIZE) |
                  operationBit(FsOperation::READ) | operationBit(FsOperation::CLOSE);
        fs.failAt = n;
        calls.faults = &fs;
        const int status = runOn(fs, {"-r", "-f", dir.path() + "/out.res", dir.path() + "/d"});
        if (fs.failedOperations.empty()) break;  // past the run's last step
        SCOPED_TRACE("step " + std::to_string(n) + " (" + fs.failedOperations[0] + ")");
        everyFailed.insert(fs.failedOperations.begin(), fs.failedOperations.end());
        EXPECT_EQ(status, EXIT_STATUS_OK);
        const ResFile file = readResFile(dir.exists("out.res") ? dir.readFile("out.res") : std::string());
        std::size_t entry = 0;
        for (const auto& [path, content] : files) {
            if (entry < file.entries.size() && file.entries[entry].name.utf8() == deriveResourceName(path, false, POSIX_PATH_RULES)) {
                EXPECT_TRUE(file.entries[entry++].data == content) << path;
            } else {
                EXPECT_TRUE(accountedFor(path, lines(fs.stdoutBytes))) << path << " was lost without a word";
            }
        }
        EXPECT_EQ(entry, file.entries.size());
        EXPECT_EQ(openFilesIn(dir.path()), std::vector<std::string>{});
        std::filesystem::remove(dir.path() + "/out.res");
        if (::testing::Test::HasFailure()) return;
    }
    for (const char* step : {"list", "open", "size", "read", "close"})
        EXPECT_TRUE(everyFailed.count(step)) << step << " never failed";
}

// The open that created the resource file is undone at once, so that a killed run
// leaves no empty file; by then the name may be gone, or another run may have
// renamed its finished file over it. Neither fails the run, nor is the other's removed.
TEST(Faults, ANewResourceFileThatLosesItsNameBeforeTheRunRemovesItFailsNothing) {
    TempDir dir;
    dir.writeFile("a.gif", "alpha");
    const std::string out = dir.path() + "/out.res";
    for (const bool replaced : {false, true}) {
        SCOPED_TRACE(replaced ? "another run's file renamed over it" : "its name removed");
        FaultySystemCalls calls;
        bool changed = false;
        calls.afterTargetOpen = [&] {
            if (changed) return;
            changed = true;
            if (!replaced) {
                std::filesystem::remove(out);
                return;
            }
            dir.writeFile("other.res", "another run's");
            std::filesystem::rename(dir.path() + "/other.res", out);
        };
        const std::unique_ptr<FileSystem> real = makePosixFileSystem(calls);
        FaultyFileSystem fs(*real, true);
        EXPECT_EQ(runOn(fs, {"-q", "-f", out, "-j", dir.path() + "/a.gif"}), EXIT_STATUS_OK);
        EXPECT_EQ(fs.stdoutBytes + fs.stderrBytes, "");
        EXPECT_TRUE(changed);
        EXPECT_EQ(entryNames(readResFile(dir.readFile("out.res"))), std::vector<std::string>{"A.GIF"});
        std::filesystem::remove(out);
    }
}
#endif

}  // namespace
