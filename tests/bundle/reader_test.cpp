// The in-memory reader of raduza/bundle.h: hostile images, lookups as users
// write paths, implied directories and their order.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "coff/converter.h"
#include "platform/text.h"
#include "raduza/bundle.h"
#include "tests/bundle/program_builder.h"
#include "tests/bundle/res_builder.h"
#include "tests/support/res_reader.h"
#include "tests/support/temp_dir.h"

using raduza::Bundle;
using raduza::BundleError;

namespace {

// A copy of exactly `size` bytes on the heap, so that AddressSanitizer sees any read past it.
struct ExactBuffer {
    explicit ExactBuffer(const std::string& bytes, std::size_t size) : data(bytes.begin(), bytes.begin() + size) {}
    std::vector<unsigned char> data;
    Bundle open() const { return Bundle::fromImage(data.data(), data.size()); }
};

std::string text(const std::optional<raduza::FileView>& view) {
    return view ? std::string(view->text()) : std::string("(none)");
}

const std::string THREE_FILES = ResBuilder()
                                    .file(u"A.GIF", "12345")
                                    .file(u"DIR/EMPTY", "")
                                    .file(u"DIR/EVEN.TXT", "abcd")
                                    .bytes();

// Where each entry of THREE_FILES ends: the only lengths at which a prefix is a whole file.
std::vector<std::size_t> entryEnds(const std::string& image) {
    std::vector<std::size_t> ends{32};
    raduza::walkResources(image.data(), image.size(), [&](const raduza::ResourceEntry& entry) {
        const std::size_t end = entry.data.end() - reinterpret_cast<const unsigned char*>(image.data());
        ends.push_back(end + (4 - end % 4) % 4);
    });
    return ends;
}

// raduza-coff's run on `image`, in-process, over an object that is already there.
struct Conversion {
    int status = -1;
    std::string messages;
    std::string object;      // the output afterwards
    std::size_t files = 0;   // in the directory afterwards: the input and the output, nothing unfinished
};
const std::string OLD_OBJECT = "an object of an earlier run";
Conversion convert(const std::string& image) {
    TempDir dir;
    dir.writeFile("in.res", image);
    dir.writeFile("out.o", OLD_OBJECT);
    Conversion conversion;
    const ConversionRequest request{platformPath({dir.path(), "in.res"}), platformPath({dir.path(), "out.o"}),
                                    CoffMachine::I386};
    conversion.status = convertToObject(realFileSystem(), request, conversion.messages);
    conversion.object = dir.readFile("out.o");
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++conversion.files;
    return conversion;
}

// A conversion refused: status 1, one message saying `what`, the old object as it was.
void expectRefused(const Conversion& conversion, const std::string& what) {
    EXPECT_EQ(conversion.status, 1);
    EXPECT_NE(conversion.messages.find(what), std::string::npos) << conversion.messages;
    EXPECT_EQ(conversion.messages.find('\n'), conversion.messages.size() - 1) << conversion.messages;
    EXPECT_EQ(conversion.object, OLD_OBJECT);
    EXPECT_EQ(conversion.files, 2u);
}

TEST(BundleReader, ReadsEveryPrefixOfAFileAsEitherWholeEntriesOrAnError) {
    const std::vector<std::size_t> ends = entryEnds(THREE_FILES);
    ASSERT_EQ(ends.size(), 4u);
    ASSERT_EQ(ends.back(), THREE_FILES.size());
    for (std::size_t length = 0; length <= THREE_FILES.size(); ++length) {
        SCOPED_TRACE(length);
        const Bundle bundle = ExactBuffer(THREE_FILES, length).open();
        const auto whole = std::find(ends.begin(), ends.end(), length);
        // raduza-coff, which streams the file rather than holding it, draws the same line.
        const Conversion conversion = convert(THREE_FILES.substr(0, length));
        if (whole == ends.end()) {
            EXPECT_FALSE(bundle.ok());
            EXPECT_EQ(bundle.size(), 0u);
            EXPECT_LE(bundle.errorOffset(), length);
            expectRefused(conversion, " (at offset " + std::to_string(bundle.errorOffset()) + ")\n");
        } else {
            EXPECT_TRUE(bundle.ok()) << raduza::describe(bundle.error());
            EXPECT_EQ(bundle.size(), static_cast<std::size_t>(whole - ends.begin()));
            EXPECT_EQ(conversion.status, 0) << conversion.messages;
            EXPECT_NE(conversion.object, OLD_OBJECT);
        }
    }
}

// Little-endian 32-bit value written over `image` at `offset`.
std::string with32(std::string image, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) image[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return image;
}

using program_builder::Elf;
using program_builder::Pe;

// Resource files, and the program files that hold them.
TEST(BundleReader, NamesTheFaultAndWhereItLies) {
    const std::string pe = Pe::image(u"A.TXT", "bytes");
    const auto peWith = [&](std::size_t inDirectory, std::uint32_t value) {
        return with32(pe, Pe::RSRC_AT + inDirectory, value);
    };
    const Elf::Built elf = Elf::image(THREE_FILES);
    const std::uint32_t TABLE = 0x80000000u;
    const std::string one = ResBuilder().file(u"A.GIF", "12345").bytes();  // entry at 32: header 56, data 5 + 3
    std::string unterminated = one;
    unterminated[32 + 8 + 20 + 10] = 'X';  // the name's zero unit, where the padding would be the terminator
    unterminated[32 + 8 + 20 + 11] = 0;
    const struct {
        const char* what;
        std::string image;
        BundleError error;
        std::size_t offset;
    } cases[] = {
        {"nothing at all", "", BundleError::NOT_A_RESOURCE_FILE, 0},
        {"a changed leading entry", with32(one, 4, 0x24), BundleError::NOT_A_RESOURCE_FILE, 0},
        {"the leading entry alone, cut", one.substr(0, 31), BundleError::NOT_A_RESOURCE_FILE, 0},
        {"HeaderSize below 32", with32(one, 36, 28), BundleError::BAD_HEADER_SIZE, 32},
        {"HeaderSize not a multiple of 4", with32(one, 36, 57), BundleError::BAD_HEADER_SIZE, 32},
        {"HeaderSize beyond the fields", with32(one, 36, 60), BundleError::BAD_HEADER_SIZE, 32},
        {"HeaderSize at the 32-bit limit", with32(one, 36, 0xFFFFFFFC), BundleError::HEADER_CUT_SHORT, 32},
        {"DataSize at the 32-bit limit", with32(one, 32, 0xFFFFFFFF), BundleError::DATA_CUT_SHORT, 32},
        {"DataSize past the padding", with32(one, 32, 9), BundleError::DATA_CUT_SHORT, 32},
        {"a name without its zero unit", unterminated, BundleError::UNTERMINATED_TEXT, 32},
        {"two stray bytes after the last entry", one + std::string(2, '\0'), BundleError::HEADER_CUT_SHORT, 96},
        {"a header of eight bytes after the last entry", one + std::string("\0\0\0\0\x40\0\0\0", 8),
         BundleError::HEADER_CUT_SHORT, 96},
        {"no PE header where the DOS header points", with32(pe, 0x3C, 0xFFFFFF00),
         BundleError::BAD_PROGRAM_HEADERS, 0x3C},
        {"a section past the end", with32(pe, Pe::SECTION_TABLE + 20, 0x7FFFFFF0),
         BundleError::BAD_PROGRAM_HEADERS, Pe::SECTION_TABLE},
        {"a directory in no section", with32(pe, Pe::resourceField(false), 0x8000),
         BundleError::BAD_RESOURCE_DIRECTORY, Pe::resourceField(false)},
        {"a table past the directory", peWith(Pe::TYPE_ENTRY + 4, TABLE | 0x7FFFFFF0),
         BundleError::BAD_RESOURCE_DIRECTORY, Pe::RSRC_AT + Pe::TYPE_ENTRY},
        {"a name past the directory", peWith(Pe::NAME_ENTRY, TABLE | 0xFFFF),
         BundleError::BAD_RESOURCE_DIRECTORY, Pe::RSRC_AT + Pe::NAME_ENTRY},
        {"names that lead back to the types", peWith(Pe::NAME_ENTRY + 4, TABLE),
         BundleError::RESOURCE_DIRECTORY_LOOPS, Pe::RSRC_AT + Pe::NAME_ENTRY},
        {"a language that is a table", peWith(Pe::LANGUAGE_ENTRY + 4, TABLE | Pe::NAME_TABLE),
         BundleError::BAD_RESOURCE_DIRECTORY, Pe::RSRC_AT + Pe::LANGUAGE_ENTRY},
        {"data in no section", peWith(Pe::DATA_ENTRY, 0x9000),
         BundleError::BAD_RESOURCE_DIRECTORY, Pe::RSRC_AT + Pe::DATA_ENTRY},
        {"data past its section", peWith(Pe::DATA_ENTRY + 4, 0x10000),
         BundleError::BAD_RESOURCE_DIRECTORY, Pe::RSRC_AT + Pe::DATA_ENTRY},
        {"an ELF section table past the end", with32(elf.image, 0x28, 0x7FFFFFF0),
         BundleError::BAD_PROGRAM_HEADERS, 0x28},
        {"a bundle section past the end", with32(elf.image, elf.bundleSectionHeader + 24, 0x7FFFFFF0),
         BundleError::BAD_PROGRAM_HEADERS, elf.bundleSectionHeader},
        {"a broken resource file in the section", with32(elf.image, Elf::BUNDLE_AT + 32, 0xFFFFFFFF),
         BundleError::DATA_CUT_SHORT, Elf::BUNDLE_AT + 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ExactBuffer buffer(c.image, c.image.size());
        const Bundle bundle = Bundle::fromProgramImage(buffer.data.data(), buffer.data.size());
        EXPECT_EQ(bundle.error(), c.error) << raduza::describe(bundle.error());
        EXPECT_EQ(bundle.errorOffset(), c.offset);
        EXPECT_EQ(bundle.size(), 0u);
        if (raduza::programKindOf(c.image.data(), c.image.size()) == raduza::ProgramKind::RESOURCE_FILE) {
            EXPECT_EQ(buffer.open().error(), c.error);
            expectRefused(convert(c.image), std::string(raduza::describe(c.error)) + " (at offset " +
                                                std::to_string(c.offset) + ")\n");
        }
    }
}

// Programs as they lie on disk: a PE file's resource directory (PE32 and PE32+),
// an ELF file's bundle section of resource files end to end (32 and 64 bits,
// either byte order); any prefix of one is an error placed inside it.
TEST(ProgramReader, ReadsTheResourcesOfPeAndElfFilesAndRefusesEveryPrefix) {
    for (bool plus : {false, true}) {
        const std::string image = Pe::image(u"DIR/A.TXT", "bytes", plus);
        const Bundle bundle = Bundle::fromProgramImage(image.data(), image.size());
        ASSERT_TRUE(bundle.ok()) << raduza::describe(bundle.error());
        EXPECT_EQ(text(bundle.open("dir/a.txt")), "bytes");
    }
    const std::string twoFiles = THREE_FILES + ResBuilder().file(u"B.TXT", "b").bytes();
    for (bool is64 : {false, true})
        for (bool bigEndian : {false, true}) {
            const std::string image = Elf::image(twoFiles, is64, bigEndian).image;
            const Bundle bundle = Bundle::fromProgramImage(image.data(), image.size());
            ASSERT_TRUE(bundle.ok()) << raduza::describe(bundle.error());
            EXPECT_EQ(bundle.size(), 4u);
            EXPECT_EQ(text(bundle.open("b.txt")), "b");
        }
    for (const std::string& whole : {Pe::image(u"A", "x"), Elf::image(THREE_FILES).image})
        for (std::size_t length = 0; length < whole.size(); ++length) {
            SCOPED_TRACE(length);
            const ExactBuffer buffer(whole, length);
            const Bundle bundle = Bundle::fromProgramImage(buffer.data.data(), length);
            EXPECT_FALSE(bundle.ok());
            EXPECT_LE(bundle.errorOffset(), length);
        }
}

TEST(BundleReader, RaduzaCoffRefusesWhatNoResourceDirectoryHolds) {
    const std::string twice = ResBuilder()
                                  .file(u"A.TXT", "a")
                                  .add(std::uint16_t{3}, std::uint16_t{1}, "icon")
                                  .add(u"RT_RADUZA", u"a.txt", "another case is another name")
                                  .file(u"A.TXT", "again")
                                  .bytes();
    expectRefused(convert(twice), "the entries at offsets 32 and 212 are both type \"RT_RADUZA\", name \"A.TXT\", "
                                  "language 0x0409");
    const std::string ordinals =
        ResBuilder().add(std::uint16_t{3}, std::uint16_t{1}, "icon").add(std::uint16_t{3}, std::uint16_t{1}, "").bytes();
    expectRefused(convert(ordinals), "are both type #3, name #1, language 0x0409");
    const std::u16string longest(0xFFFF, u'N');
    EXPECT_EQ(convert(ResBuilder().file(longest, "x").bytes()).status, 0);
    expectRefused(convert(ResBuilder().file(longest + u"N", "x").bytes()),
                  "the entry at offset 32 has a type or name of more than 65,535 UTF-16 units");
}

TEST(BundleReader, PassesOverOtherTypesOrdinalAndEmptyNamesAndTheLeadingEntriesOfFilesLaidEndToEnd) {
    const std::string first = ResBuilder()
                                  .add(std::uint16_t{3}, std::uint16_t{1}, "icon")
                                  .file(u"A.TXT", "a")
                                  .add(u"RT_RADUZA", std::uint16_t{7}, "ordinal name")
                                  .add(u"RT_RADUZAX", u"B.TXT", "other type")
                                  .add(u"rt_raduza", u"C.TXT", "type in another case")
                                  .add(u"RT_RADUZA", u"", "an empty name names no file")
                                  .bytes();
    const std::string image = first + ResBuilder().file(u"D.TXT", "dd").bytes();
    std::size_t visited = 0;
    const raduza::WalkOutcome walk =
        raduza::walkResources(image.data(), image.size(), [&](const raduza::ResourceEntry&) { ++visited; });
    EXPECT_EQ(walk.error, BundleError::NONE);
    EXPECT_EQ(visited, 7u);
    const Bundle bundle = Bundle::fromImage(image.data(), image.size());
    ASSERT_TRUE(bundle.ok()) << raduza::describe(bundle.error());
    std::vector<std::string> names;
    for (const raduza::BundleFile& file : bundle) names.push_back(file.utf8Name());
    EXPECT_EQ(names, (std::vector<std::string>{"A.TXT", "D.TXT"}));
    EXPECT_EQ(text(bundle.open("d.txt")), "dd");
}

TEST(BundleReader, KeepsTheFirstOfNamesThatDifferOnlyInAsciiCaseOrSeparator) {
    const std::string image = ResBuilder()
                                  .file(u"DIR/A.TXT", "first")
                                  .file(u"dir/a.txt", "second")
                                  .file(u"DIR\\A.TXT", "third")
                                  .file(u"DIR/\u00e9.TXT", "small e")
                                  .file(u"DIR/\u00c9.TXT", "capital E")
                                  .bytes();
    const Bundle bundle = Bundle::fromImage(image.data(), image.size());
    ASSERT_TRUE(bundle.ok());
    EXPECT_EQ(bundle.size(), 3u);
    EXPECT_EQ(text(bundle.open("dir/a.txt")), "first");
    EXPECT_EQ(text(bundle.open(u"DIR/\u00e9.txt")), "small e");   // non-ASCII letters are not folded
    EXPECT_EQ(text(bundle.open(u"DIR/\u00c9.txt")), "capital E");
    EXPECT_EQ(bundle.list("dir").size(), 3u);
}

const std::string TREE = ResBuilder()
                             .file(u"ASSETS/IMAGES/LOGO.GIF", "GIF89a")
                             .file(u"ASSETS/TEXT/HELLO.TXT", "hello")
                             .file(u"ASSETS/TEXT/EMPTY", "")
                             .file(u"CAF\u00e9.TXT", "coffee")
                             .file(u"..\\IMG\\A.GIF", "climbs")
                             .file(u"TOP.BIN", "top")
                             .file(u"ZOO/BUZZ.TXT", "buzz")  // every letter folds, 'z' as much as 'a';
                             .file(u"zed/Zip.txt", "zip")    // what lies beside the letters never does
                             .file(u"A@B", "at")
                             .file(u"A[B", "bracket")
                             .bytes();

TEST(BundleReader, FindsAFileByThePathAsAUserWritesIt) {
    const Bundle bundle = Bundle::fromImage(TREE.data(), TREE.size());
    ASSERT_TRUE(bundle.ok());
    const struct {
        std::u16string path;
        const char* expected;
    } cases[] = {
        {u"assets/images/logo.gif", "GIF89a"},
        {u"assets\\images\\logo.gif", "GIF89a"},
        {u"ASSETS/IMAGES/LOGO.GIF", "GIF89a"},
        {u"Assets/Images\\Logo.Gif", "GIF89a"},
        {u"assets/text/empty", ""},
        {u"caf\u00e9.txt", "coffee"},
        {u"CAF\u00c9.TXT", "(none)"},  // raduza upper-cases no letter outside ASCII
        {u"../img/a.gif", "climbs"},
        {u"..\\img\\a.gif", "climbs"},
        {u"assets", "(none)"},
        {u"assets/images/", "(none)"},
        {u"assets/images/logo.gi", "(none)"},
        {u"assets/images/logo.gif/", "(none)"},
        {u"/assets/images/logo.gif", "(none)"},
        {u"zoo/buzz.txt", "buzz"},
        {u"Zoo/bUzZ.txt", "buzz"},
        {u"ZED/ZIP.TXT", "zip"},
        {u"zed/zip.txt", "zip"},
        {u"a@b", "at"},
        {u"a[b", "bracket"},
        {u"a`b", "(none)"},
        {u"a{b", "(none)"},
        {u"", "(none)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(raduza::toUtf8(c.path));
        EXPECT_EQ(text(bundle.open(c.path)), c.expected);
        EXPECT_EQ(bundle.isFile(c.path), std::string(c.expected) != "(none)");
    }
}

// Narrow paths are UTF-8 on every platform, so every name list() gives opens;
// text that is not UTF-8 (a Latin-1 literal) is widened byte by byte, as the
// tool names such files.
TEST(BundleReader, TakesNarrowPathsAsUtf8OnEveryPlatformAndOpensEveryListedName) {
    const Bundle bundle = Bundle::fromImage(TREE.data(), TREE.size());
    EXPECT_EQ(text(bundle.open("caf\xc3\xa9.txt")), "coffee");
    EXPECT_EQ(text(bundle.open("caf\xe9.txt")), "coffee");
    EXPECT_EQ(text(bundle.open("assets\\text\\hello.txt")), "hello");
    const std::string names = ResBuilder()
                                  .file(u"\u00c9T\u00c9/\u00a3.BIN", "pound")
                                  .file(u"\u20ac/\U0001F600.DAT", "face")
                                  .file(u"\u00c3\u00a9", "two Latin-1 letters")
                                  .bytes();
    const Bundle nonAscii = Bundle::fromImage(names.data(), names.size());
    std::size_t opened = 0;
    for (const raduza::DirEntry& top : nonAscii.list())
        for (const raduza::DirEntry& entry : nonAscii.list(top.name)) {
            SCOPED_TRACE(top.name + "/" + entry.name);
            EXPECT_TRUE(nonAscii.open(top.name + "/" + entry.name).has_value());
            EXPECT_EQ(raduza::toUtf16(entry.name), entry.name16);
            ++opened;
        }
    EXPECT_EQ(opened, 2u);
    EXPECT_EQ(text(nonAscii.open("\xc3\x83\xc2\xa9")), "two Latin-1 letters");
    EXPECT_EQ(text(nonAscii.open("\xc3\xa9")), "(none)");  // valid UTF-8: one letter, not two
}

TEST(BundleReader, ImpliesDirectoriesFromTheNames) {
    const Bundle bundle = Bundle::fromImage(TREE.data(), TREE.size());
    const struct {
        const char* path;
        bool isDirectory;
    } cases[] = {
        {"", true},         {"/", true},          {"assets", true},       {"ASSETS/", true},
        {"assets\\images", true}, {"assets/text", true}, {"..", true},    {"../img", true},
        {"assets/images/logo.gif", false}, {"ass", false}, {"assets/images/logo", false}, {"top.bin", false},
        {"nothing", false}, {"zoo", true}, {"zEd/", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(bundle.isDirectory(c.path), c.isDirectory);
        EXPECT_EQ(bundle.exists(c.path), c.isDirectory || bundle.isFile(c.path));
    }
}

std::vector<std::string> listing(const Bundle& bundle, std::string_view directory) {
    std::vector<std::string> names;
    for (const raduza::DirEntry& entry : bundle.list(directory))
        names.push_back(entry.name + (entry.isDirectory ? "/" : " " + std::to_string(entry.size)));
    return names;
}

TEST(BundleReader, ListsADirectoryInRaduzasNameOrder) {
    const Bundle tree = Bundle::fromImage(TREE.data(), TREE.size());
    EXPECT_EQ(listing(tree, ""), (std::vector<std::string>{"../", "A@B 2", "ASSETS/", "A[B 7", "CAF\xc3\xa9.TXT 6",
                                                           "TOP.BIN 3", "zed/", "ZOO/"}));
    EXPECT_EQ(listing(tree, "ZED"), std::vector<std::string>{"Zip.txt 3"});
    EXPECT_EQ(listing(tree, "zoo"), std::vector<std::string>{"BUZZ.TXT 4"});
    EXPECT_EQ(listing(tree, "assets"), (std::vector<std::string>{"IMAGES/", "TEXT/"}));
    EXPECT_EQ(listing(tree, "Assets\\Text\\"), (std::vector<std::string>{"EMPTY 0", "HELLO.TXT 5"}));
    EXPECT_EQ(listing(tree, "assets/images/logo.gif"), std::vector<std::string>{});
    EXPECT_EQ(listing(tree, "missing"), std::vector<std::string>{});

    // Folded, a shorter name goes first and '_' after letters; plain, lower case
    // would follow '_'. Key order would put "A.B" before the directory "A". Other
    // letters keep their case; code points order the rest, so U+1F600 (a pair of
    // surrogates, units below U+E000) comes last.
    const std::string mixed = ResBuilder()
                                  .file(u"X/\U0001F600", "")
                                  .file(u"X/_Z", "")
                                  .file(u"X/\uFF01", "")
                                  .file(u"X/a2", "")
                                  .file(u"X/\u00e9", "")
                                  .file(u"X/A.B", "")
                                  .file(u"X/A/C", "")
                                  .file(u"X/\uE000", "")
                                  .file(u"X/A-B", "")
                                  .file(u"X/B", "")
                                  .file(u"X/\u00c9", "")
                                  .file(u"X/B/C", "")
                                  .bytes();
    const Bundle bundle = Bundle::fromImage(mixed.data(), mixed.size());
    EXPECT_EQ(listing(bundle, "x"),
              (std::vector<std::string>{"A/", "A-B 0", "A.B 0", "a2 0", "B 0", "B/", "_Z 0", "\xc3\x89 0", "\xc3\xa9 0",
                                        "\xee\x80\x80 0", "\xef\xbc\x81 0", "\xf0\x9f\x98\x80 0"}));
    // Iterating gives the same order, directory by directory, whatever order the files were stored in.
    std::vector<std::u16string> iterated;
    for (const raduza::BundleFile& file : bundle) iterated.emplace_back(file.name);
    EXPECT_EQ(iterated, (std::vector<std::u16string>{u"X/A/C", u"X/A-B", u"X/A.B", u"X/a2", u"X/B", u"X/B/C", u"X/_Z",
                                                     u"X/\u00c9", u"X/\u00e9", u"X/\uE000", u"X/\uFF01",
                                                     u"X/\U0001F600"}));
}

TEST(BundleReader, AnEmptyBundleHasNoFilesAndNoDirectories) {
    const std::string image = ResBuilder().add(std::uint16_t{3}, std::uint16_t{1}, "icon").bytes();
    const Bundle bundle = Bundle::fromImage(image.data(), image.size());
    EXPECT_TRUE(bundle.ok());
    EXPECT_EQ(bundle.size(), 0u);
    EXPECT_FALSE(bundle.isDirectory(""));
    EXPECT_TRUE(bundle.list("").empty());
    EXPECT_FALSE(Bundle().open("a").has_value());
}

#ifdef _WIN32
// This test program links no resources: its bundle is empty, not an error.
TEST(BundleReader, AProgramWithoutResourcesHasAnEmptyBundle) {
    const Bundle bundle = Bundle::ofProgram();
    EXPECT_TRUE(bundle.ok()) << raduza::describe(bundle.error());
    EXPECT_EQ(bundle.size(), 0u);
}
#endif

// Well-formed UTF-8 by the table of well-formed byte sequences (RFC 3629): an
// oracle apart from the decoder that the header and the POSIX tool share.
bool isWellFormedUtf8(const std::string& text) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = byte(i);
        std::size_t extra = 0;
        unsigned char low = 0x80, high = 0xBF;  // the range of the byte after the lead
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            if (lead == 0xE0) low = 0xA0;   // not overlong
            if (lead == 0xED) high = 0x9F;  // not a surrogate
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            if (lead == 0xF0) low = 0x90;   // not overlong
            if (lead == 0xF4) high = 0x8F;  // not above U+10FFFF
        } else if (lead >= 0x80) {
            return false;
        }
        if (text.size() - i <= extra) return false;
        if (extra > 0 && (byte(i + 1) < low || byte(i + 1) > high)) return false;
        for (std::size_t k = 2; k <= extra; ++k)
            if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return false;
        i += extra + 1;
    }
    return true;
}

// A program's narrow paths are widened as the POSIX tool widens the names of files:
// well-formed UTF-8 decoded (the test reader's encoder gives the bytes back),
// anything else byte by byte.
TEST(BundleReader, WidensNarrowPathsAsUtf8OrElseByteByByte) {
    std::vector<std::string> samples{"", "plain", "caf\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xc0\xaf",
                                     "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82", "a\xff", "\xc3", "\xf0\x9f\x98"};
    for (int first = 0; first < 256; ++first)
        for (int second = 0; second < 256; ++second)
            samples.push_back({static_cast<char>(first), static_cast<char>(second)});
    std::uint32_t state = 12345;
    for (int i = 0; i < 50000; ++i) {
        std::string sample;
        for (int length = 3 + i % 3; length > 0; --length) {
            state = state * 1664525u + 1013904223u;
            const unsigned char byte = static_cast<unsigned char>(state >> 24);
            sample += static_cast<char>(i % 2 ? (byte | 0x80) : byte);  // half of them high bytes only
        }
        samples.push_back(sample);
    }
    for (const std::string& sample : samples) {
        const std::u16string wide = raduza::toUtf16(sample);
        ASSERT_EQ(wide, widenUtf8(sample)) << sample;
        if (isWellFormedUtf8(sample)) {
            ASSERT_EQ((ResNameOrId{false, 0, wide}.utf8()), sample);
        } else {
            ASSERT_EQ(wide.size(), sample.size()) << sample;
            for (std::size_t i = 0; i < wide.size(); ++i) ASSERT_EQ(wide[i], static_cast<unsigned char>(sample[i]));
        }
    }
}

// One rule both ways: a surrogate without its other half, which the tool never
// writes, keeps its own three bytes, as the tool's registry of names encodes it.
TEST(BundleReader, NarrowsNamesToUtf8AndBack) {
    const std::u16string names[] = {u"A.GIF", u"CAF\u00e9", u"\u20ac/\U0001F600", u"\u00ff\u0100\u07ff\u0800\uffff"};
    for (const std::u16string& name : names) {
        EXPECT_EQ(raduza::toUtf8(name), (ResNameOrId{false, 0, name}.utf8()));
        EXPECT_EQ(widenUtf8(raduza::toUtf8(name)), name);
    }
    EXPECT_EQ(raduza::toUtf8(u"\xd800x"), "\xed\xa0\x80x");
    EXPECT_EQ(raduza::toUtf8(std::u16string(u"x") + char16_t(0xDC00)), "x\xed\xb0\x80");
}

}  // namespace
