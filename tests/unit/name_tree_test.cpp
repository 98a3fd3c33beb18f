// The registry of stored names.
#include <gtest/gtest.h>

#include <cstdio>

#include "resfile/name_tree.h"

namespace {

TEST(NameTree, RefusesNamesThatDifferOnlyInAsciiCase) {
    NameTree names;
    EXPECT_TRUE(names.insert("IMG/A.GIF"));
    EXPECT_FALSE(names.insert("img/a.gif"));
    EXPECT_TRUE(names.contains("Img/A.Gif"));
    EXPECT_TRUE(names.insert("\xE9"));
    EXPECT_TRUE(names.insert("\xC9"));  // bytes above 0x7F are not folded
    EXPECT_TRUE(names.insert(""));
    EXPECT_FALSE(names.insert(""));
    EXPECT_TRUE(names.insert(std::string(100000, 'L')));
    EXPECT_FALSE(names.insert(std::string(100000, 'l')));
    EXPECT_EQ(names.size(), 5u);
}

TEST(NameTree, KeepsEveryNameOfALargeSortedRun) {
    NameTree names;
    char name[32];
    for (int i = 0; i < 200000; ++i) {
        std::snprintf(name, sizeof name, "DIR/F%07d.BIN", i);
        ASSERT_TRUE(names.insert(name)) << name;
    }
    for (int i = 0; i < 200000; i += 997) {
        std::snprintf(name, sizeof name, "dir/f%07d.bin", i);
        EXPECT_FALSE(names.insert(name)) << name;
    }
    EXPECT_FALSE(names.contains("DIR/F0200000.BIN"));
    EXPECT_EQ(names.size(), 200000u);
}

TEST(NameTree, KeepsShortNamesBesideLongOnesThatHaveBlocksOfTheirOwn) {
    NameTree names;
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(names.insert("SHORT" + std::to_string(i)));
        ASSERT_TRUE(names.insert(std::string(20000 + i, static_cast<char>('A' + i % 26))));
    }
    for (int i = 0; i < 50; ++i) {
        EXPECT_TRUE(names.contains("short" + std::to_string(i))) << i;
        EXPECT_TRUE(names.contains(std::string(20000 + i, static_cast<char>('a' + i % 26)))) << i;
        EXPECT_FALSE(names.contains(std::string(20001 + i, static_cast<char>('A' + i % 26)) + "x")) << i;
    }
    EXPECT_EQ(names.size(), 100u);
}

}  // namespace
