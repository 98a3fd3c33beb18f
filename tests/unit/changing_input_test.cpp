// Inputs that change between the walk that found them and the copy: the resource
// file stays whole and every change the tool can see is reported.
#include <gtest/gtest.h>

#include "tests/support/fake_run.h"
#include "tests/support/res_reader.h"

namespace {

struct Change {
    const char* what;
    const char* trigger;  // the change comes when this file is opened
    std::function<void(FakeFileSystem&)> apply;
    std::string messages;
    std::vector<std::string> names;
    std::string dataOfB;  // when B is stored
};

TEST(ChangingInput, ChangesAfterTheWalkListedAFileAreReportedOrStoredAsFound) {
    const std::vector<Change> changes{
        {"file deleted", "d/a.gif", [](FakeFileSystem& fs) { fs.remove("d/b.gif"); },
         "Warning: The file d/b.gif doesn't exist.\n", {"D/S1/X.GIF", "D/S2/Y.GIF", "D/A.GIF", "D/C.GIF"}, ""},
        {"file replaced by a directory",
         "d/a.gif", [](FakeFileSystem& fs) {
             fs.remove("d/b.gif");
             fs.addDirectory("d/b.gif");
         },
         "Warning: Could not read the file d/b.gif; it was not stored.\n",
         {"D/S1/X.GIF", "D/S2/Y.GIF", "D/A.GIF", "D/C.GIF"}, ""},
        {"file replaced by a FIFO",
         "d/a.gif", [](FakeFileSystem& fs) {
             fs.remove("d/b.gif");
             fs.addFifo("d/b.gif");
         },
         "Warning: Could not read the file d/b.gif; it was not stored.\n",
         {"D/S1/X.GIF", "D/S2/Y.GIF", "D/A.GIF", "D/C.GIF"}, ""},
        {"file grown before it was opened", "d/a.gif", [](FakeFileSystem& fs) { *fs.find("d/b.gif")->content += "-grown"; }, "",
         {"D/S1/X.GIF", "D/S2/Y.GIF", "D/A.GIF", "D/B.GIF", "D/C.GIF"}, "bee-grown"},
        {"file emptied before it was opened", "d/a.gif", [](FakeFileSystem& fs) { fs.find("d/b.gif")->content->clear(); }, "",
         {"D/S1/X.GIF", "D/S2/Y.GIF", "D/A.GIF", "D/B.GIF", "D/C.GIF"}, ""},
        {"directory deleted", "d/s1/x.gif", [](FakeFileSystem& fs) { fs.remove("d/s2"); },
         "Warning: Could not read the directory d/s2; files in it were not stored.\n",
         {"D/S1/X.GIF", "D/A.GIF", "D/B.GIF", "D/C.GIF"}, "bee"},
        {"directory replaced by a file",
         "d/s1/x.gif", [](FakeFileSystem& fs) {
             fs.remove("d/s2");
             fs.addFile("d/s2", "now a file");
         },
         "Warning: Could not read the directory d/s2; files in it were not stored.\n",
         {"D/S1/X.GIF", "D/A.GIF", "D/B.GIF", "D/C.GIF", "D/S2"}, "bee"},
    };
    // Each file opened when the walk reaches it, or a few files before, as a read-ahead does.
    for (const std::size_t openAhead : {0, 3})
    for (const Change& change : changes) {
        SCOPED_TRACE("opened " + std::to_string(openAhead) + " files ahead");
        FakeFileSystem fs;
        fs.openAhead = openAhead;
        fs.addFile("d/s1/x.gif", "x");
        fs.addFile("d/s2/y.gif", "y");
        fs.addFile("d/a.gif", "a");
        fs.addFile("d/b.gif", "bee");
        fs.addFile("d/c.gif", "c");
        // Subdirectories are walked first: d/s1/x.gif is opened once d/s2 is listed,
        // and d/a.gif once the files of d are.
        bool applied = false;
        fs.afterOpen = [&](const std::string& path) {
            if (path != change.trigger || applied) return;
            applied = true;
            change.apply(fs);
        };
        const FakeRun run = runOnFake(fs, {"-r", "-f", "out.res", "d"});
        EXPECT_EQ(run.exitStatus, 0) << change.what;
        std::string warnings;
        for (std::size_t start = 0, end; (end = run.output.find('\n', start)) != std::string::npos; start = end + 1)
            if (run.output.compare(start, 7, "Stored ") != 0) warnings += run.output.substr(start, end + 1 - start);
        EXPECT_EQ(warnings, change.messages) << change.what;
        const ResFile file = readResFile(fs.contentOf("out.res"));
        ASSERT_TRUE(file.valid) << change.what << ": " << file.error;
        ASSERT_EQ(entryNames(file), change.names) << change.what;
        for (const ResEntry& entry : file.entries) {
            if (entry.name.utf8() == "D/B.GIF") {
                EXPECT_EQ(entry.data, change.dataOfB) << change.what;
            }
        }
    }
}

// Bytes already sent down a pipe cannot be taken back: the entry keeps its size,
// and a file that grew keeps every byte it had when opened.
TEST(ChangingInput, AFileThatGrowsWhileSentDownAPipeKeepsAllItsBytes) {
    FakeFileSystem fs;
    const std::string content(3 * OutputBuffer::DEFAULT_CAPACITY, 'b');
    fs.addFile("big", content);
    fs.addFile("z", "after");
    fs.afterRead = [&fs](const std::string& p, std::uint64_t delivered) {
        if (p == "big" && delivered > 2 * OutputBuffer::DEFAULT_CAPACITY && fs.contentOf("big").size() == 3 * OutputBuffer::DEFAULT_CAPACITY)
            *fs.find("big")->content += "grown";
    };
    const FakeRun run = runOnFake(fs, {"big", "z"});
    // The run goes on, but a resource that may not match its file fails the build.
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(fs.stderrBytes,
              "Warning: The file big changed or could not be read while it was stored; its resource may not match it.\n"
              "Stored z as Z.\n");
    const ResFile file = readResFile(run.output);
    ASSERT_TRUE(file.valid) << file.error;
    ASSERT_EQ(entryNames(file), (std::vector<std::string>{"BIG", "Z"}));
    EXPECT_TRUE(file.entries[0].data == content) << "the bytes read before the growth were not all kept";
    EXPECT_EQ(file.entries[1].data, "after");
}

}  // namespace
