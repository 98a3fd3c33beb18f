// The test reader is the judge of every output's structure, so it must see each
// kind of damage a writer can do.
#include <gtest/gtest.h>

#include "tests/support/fixtures.h"
#include "tests/support/res_reader.h"

namespace {

// The leading entry, then AB (even length: 2 bytes of header padding) with 5 data
// bytes (3 bytes of data padding). Entry at 32, padding at 66, data at 84, end 92.
const std::string INTACT =
    fixtures::LEADING_ENTRY + std::string("\x05\0\0\0\x34\0\0\0", 8) + fixtures::TYPE_FIELD +
    std::string("A\0B\0\0\0", 6) + std::string(2, '\0') + fixtures::STORED_HEADER_TAIL +
    std::string("12345\0\0\0", 8);

std::string patched(std::size_t offset, const std::string& bytes) {
    std::string damaged = INTACT;
    damaged.replace(offset, bytes.size(), bytes);
    return damaged;
}

TEST(TestReader, ReadsTheFieldsOfAnIntactFile) {
    const ResFile file = readResFile(INTACT);
    ASSERT_TRUE(file.valid) << file.error;
    ASSERT_EQ(file.entries.size(), 1u);
    const ResEntry& entry = file.entries[0];
    EXPECT_EQ(entry.offset, 32u);
    EXPECT_EQ(entry.headerSize, 52u);
    EXPECT_EQ(entry.type.utf8(), "RT_RADUZA");
    EXPECT_EQ(entry.name.utf8(), "AB");
    EXPECT_EQ(entry.memoryFlags, 0x0030);
    EXPECT_EQ(entry.languageId, 0x0409);
    EXPECT_EQ(entry.data, "12345");
}

TEST(TestReader, RejectsEachDamageToAResourceFile) {
    const struct {
        const char* damage;
        std::string bytes;
        const char* error;
    } cases[] = {
        {"no leading entry", patched(4, "\x21"), "at offset 0: missing the 32-byte leading entry"},
        {"HeaderSize not a multiple of 4", patched(36, "\x35"), "at offset 32: bad HeaderSize"},
        {"HeaderSize 4 too large", patched(36, "\x38"), "at offset 32: HeaderSize disagrees with the fields"},
        {"HeaderSize 4 too small", patched(36, "\x30"), "at offset 32: HeaderSize disagrees with the fields"},
        {"header padding not zero", patched(67, "\x01"), "at offset 32: non-zero header padding"},
        {"data padding not zero", patched(91, "\x01"), "at offset 32: non-zero data padding"},
        {"DataSize beyond the file", patched(32, "\x09"), "at offset 32: data cut short"},
        {"data cut short", INTACT.substr(0, 87), "at offset 32: data cut short"},
        {"data padding cut short", INTACT.substr(0, 91), "at offset 32: data padding cut short"},
        {"a header cut short", INTACT + std::string(4, '\0'), "at offset 92: header cut short"},
    };
    for (const auto& c : cases) {
        const ResFile file = readResFile(c.bytes);
        EXPECT_FALSE(file.valid) << c.damage;
        EXPECT_EQ(file.error, c.error) << c.damage;
    }
}

}  // namespace
