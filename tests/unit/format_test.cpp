// The bytes of the resource file: leading entry, headers, padding, name encoding.
#include <gtest/gtest.h>

#include "platform/text.h"
#include "raduza/bundle.h"
#include "tests/support/fake_run.h"
#include "tests/support/fixtures.h"
#include "tests/support/res_reader.h"

namespace {

// A header's bytes with `padding` zero bytes between the name and DataVersion.
std::string headerBytes(const ResHeader& header, std::uint32_t padding) {
    std::string bytes(headerStartBytes(header) + padding + RES_TRAILER_BYTES, '\0');
    char* const end = encodeHeaderEnd(encodeHeaderStart(&bytes[0], header) + padding, header);
    EXPECT_EQ(end, bytes.data() + bytes.size()) << "the encoders wrote other than they measured";
    return bytes;
}

// Records where each padding byte is reported: the offset it will be written at.
struct PaddingRecorder : PaddingObserver {
    explicit PaddingRecorder(const OutputBuffer& out) : out(out) {}
    void headerPadding() override { reports.push_back("header at " + std::to_string(out.position())); }
    void dataPadding() override { reports.push_back("data at " + std::to_string(out.position())); }
    const OutputBuffer& out;
    std::vector<std::string> reports;
};

TEST(EntryWriter, LaysOutTheWorkedExampleAndReportsEachPaddingByteJustBeforeWritingIt) {
    FakeFileSystem fs;
    fs.addFile("a.gif", "\x01\x02\x03\x04\x05");
    fs.addFile("ab", "1234567");
    OutputBuffer out(fs.standardOutput());
    PaddingRecorder recorder(out);
    EntryWriter writer(out, &recorder);
    writer.writeLeadingEntry();
    EXPECT_EQ(writer.writeEntry("A.GIF", **fs.openInput("a.gif")), EntryOutcome::STORED);
    ASSERT_TRUE(out.flush());
    EXPECT_EQ(fs.stdoutBytes, fixtures::WORKED_EXAMPLE);
    // 96 bytes so far; "AB" ends its name 34 bytes into its header and its data 52 + 7 bytes in.
    EXPECT_EQ(writer.writeEntry("AB", **fs.openInput("ab")), EntryOutcome::STORED);
    EXPECT_EQ(recorder.reports, (std::vector<std::string>{"data at 93", "data at 94", "data at 95", "header at 130",
                                                          "header at 131", "data at 155"}));
    ASSERT_TRUE(out.flush());
    const ResFile file = readResFile(fs.stdoutBytes);
    ASSERT_TRUE(file.valid) << file.error;
    EXPECT_EQ(entryNames(file), (std::vector<std::string>{"A.GIF", "AB"}));
}

TEST(HeaderWriter, WritesTheWorkedExampleHeaderWithPaddingWhereTheLayoutSaysSo) {
    const NameOrId type = NameOrId::ofText("RT_RADUZA");
    const NameOrId name = NameOrId::ofText("AB");
    const HeaderLayout layout = layoutHeader(fieldBytes(type), fieldBytes(name));
    EXPECT_EQ(layout.headerSize, 52u);
    EXPECT_EQ(layout.padding, 2u);
    ResHeader header;
    header.Type = &type;
    header.Name = &name;
    header.DataSize = 7;
    header.HeaderSize = layout.headerSize;
    const std::string expected = std::string("\x07\0\0\0\x34\0\0\0", 8) + fixtures::TYPE_FIELD +
                                 std::string("A\0B\0\0\0", 6) + std::string("\0\0", 2) + fixtures::STORED_HEADER_TAIL;
    EXPECT_EQ(headerBytes(header, layout.padding), expected);
}

TEST(HeaderWriter, ReportsEachHeaderPaddingByteOfARun) {
    FakeFileSystem fs;
    fs.addFile("ab", "1234");
    ASSERT_EQ(runOnFake(fs, {"-q", "-show_padding", "-f", "out.res", "ab"}).exitStatus, 0);
    EXPECT_EQ(fs.stdoutBytes, "padding header\npadding header\n");
}

TEST(ResourceFile, StoresTheWorkedExampleAsExactly96Bytes) {
    FakeFileSystem fs;
    fs.addFile("a.gif", "\x01\x02\x03\x04\x05");
    const FakeRun run = runOnFake(fs, {"-f", "out.res", "a.gif"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, "Stored a.gif as A.GIF.\n");
    EXPECT_EQ(fs.contentOf("out.res"), fixtures::WORKED_EXAMPLE);
}

TEST(ResourceFile, PadsHeadersByNameLengthAndDataBySize) {
    FakeFileSystem fs;
    std::vector<std::string> arguments{"-q", "-f", "out.res"};
    for (int length = 1; length <= 8; ++length) {
        const std::string path = std::string(static_cast<std::size_t>(length), static_cast<char>('a' + length));
        fs.addFile(path, std::string(static_cast<std::size_t>(length - 1), 'x'));
        arguments.push_back(path);
    }
    ASSERT_EQ(runOnFake(fs, arguments).exitStatus, 0);
    const ResFile file = readResFile(fs.contentOf("out.res"));
    ASSERT_TRUE(file.valid) << file.error;
    ASSERT_EQ(file.entries.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        const ResEntry& entry = file.entries[i];
        const std::uint32_t nameLength = static_cast<std::uint32_t>(i + 1);
        const std::uint32_t unpadded = 24 + 20 + 2 * (nameLength + 1);
        EXPECT_EQ(entry.headerSize, nameLength % 2 == 0 ? unpadded + 2 : unpadded) << "name length " << nameLength;
        EXPECT_EQ(entry.dataSize, i);
        EXPECT_EQ(entry.data, std::string(i, 'x'));
        EXPECT_EQ(entry.memoryFlags, 0x0030);
        EXPECT_EQ(entry.languageId, 0x0409);
        EXPECT_EQ(entry.type.utf8(), "RT_RADUZA");
    }
}

TEST(ResourceFile, ReportsEachPaddingByteBeforeWritingIt) {
    FakeFileSystem fs;
    fs.addFile("ab", "12345");
    const FakeRun run = runOnFake(fs, {"-q", "-show_padding", "ab"});
    // Standard output carries the resource file alone; the reports go to standard error.
    EXPECT_EQ(fs.stderrBytes, "padding header\npadding header\npadding data\npadding data\npadding data\n");
    const std::size_t firstHeaderPad = 32 + 8 + 20 + 6;
    EXPECT_EQ(run.output.substr(firstHeaderPad, 2), std::string(2, '\0'));
    const std::size_t dataEnd = firstHeaderPad + 2 + 16 + 5;
    EXPECT_EQ(run.output.substr(dataEnd), std::string(3, '\0'));
}

TEST(NameEncoding, ConvertsUtf8NamesAndWidensOtherBytesOneByOne) {
    EXPECT_EQ(widenUtf8("A\xC3\xA9"), u"A\u00E9");
    EXPECT_EQ(widenUtf8("\xE2\x82\xAC"), u"\u20AC");
    EXPECT_EQ(widenUtf8("\xF0\x9F\x98\x80"), std::u16string({0xD83D, 0xDE00}));
    // Not UTF-8 (a lone continuation byte, an overlong form, a cut sequence): byte by byte.
    EXPECT_EQ(widenUtf8("a\x80"), std::u16string({u'a', 0x0080}));
    EXPECT_EQ(widenUtf8("\xC0\xAF"), std::u16string({0x00C0, 0x00AF}));
    EXPECT_EQ(widenUtf8("\xE2\x82"), std::u16string({0x00E2, 0x0082}));
    EXPECT_EQ(widenBytes("\xE9\xFF"), std::u16string({0x00E9, 0x00FF}));
}

TEST(NameEncoding, CountsUtf16UnitsInTheHeaderSize) {
    FakeFileSystem fs;
    fs.addFile("\xC3\xA9t\xC3\xA9", "x");  // 3 characters, 5 bytes
    ASSERT_EQ(runOnFake(fs, {"-q", "-f", "out.res", "\xC3\xA9t\xC3\xA9"}).exitStatus, 0);
    const ResFile file = readResFile(fs.contentOf("out.res"));
    ASSERT_TRUE(file.valid) << file.error;
    ASSERT_EQ(file.entries.size(), 1u);
    // Bytes above 0x7F are not upper-cased; ASCII letters are. The platform decides
    // the character set: UTF-8 on POSIX (3 units), the ANSI code page on Win32 (5 units).
    const std::u16string expected = widenName("\xC3\xA9T\xC3\xA9");
    EXPECT_TRUE(expected == u"\u00E9T\u00E9" || expected == widenBytes("\xC3\xA9T\xC3\xA9"));
    EXPECT_EQ(file.entries[0].name.text, expected);
    const std::uint32_t unpadded = 24u + 20u + 2u * static_cast<std::uint32_t>(expected.size() + 1);
    EXPECT_EQ(file.entries[0].headerSize, unpadded + unpadded % 4);
}

// The order the tool stores one directory's files in, by the bytes of their names,
// is the order the reader lists and iterates them in, by their UTF-16 units: with
// ASCII case, characters above U+007F that are not folded, private use, and a
// character beyond the BMP, on either platform's conversion of names.
TEST(NameOrder, TheToolStoresADirectoryInTheOrderTheReaderListsAndIteratesIt) {
    FakeFileSystem fs;
    for (const char* name : {"\xF0\x9F\x98\x80", "a.b", "\xEF\xBC\x81", "Zed", "a", "\xC3\xA9", "_z", "\xEE\x80\x80", "a0",
                             "\xC3\x89x", "a-b"})
        fs.addFile(std::string("d/") + name, name);
    ASSERT_EQ(runOnFake(fs, {"-q", "-r", "-f", "out.res", "d"}).exitStatus, 0);
    const std::string image = fs.contentOf("out.res");
    const ResFile file = readResFile(image);
    ASSERT_TRUE(file.valid) << file.error;
    std::vector<std::string> stored;
    for (const ResEntry& entry : file.entries) stored.push_back(raduza::toUtf8(entry.name.text));
    ASSERT_EQ(stored.size(), 11u);
    EXPECT_EQ(stored.front(), "D/A");
    if (widenName("\xC3\xA9").size() == 1) {  // UTF-8 names: the order of their code points
        EXPECT_EQ(std::vector<std::string>(stored.end() - 3, stored.end()),
                  (std::vector<std::string>{"D/\xEE\x80\x80", "D/\xEF\xBC\x81", "D/\xF0\x9F\x98\x80"}));
    }

    const raduza::Bundle bundle = raduza::Bundle::fromImage(image.data(), image.size());
    std::vector<std::string> listed, iterated;
    for (const raduza::DirEntry& entry : bundle.list("d")) listed.push_back("D/" + entry.name);
    for (const raduza::BundleFile& bundled : bundle) iterated.push_back(bundled.utf8Name());
    EXPECT_EQ(listed, stored);
    EXPECT_EQ(iterated, stored);
}

}  // namespace
