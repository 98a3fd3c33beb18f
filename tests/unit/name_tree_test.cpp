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

// A name is looked up before its file is stored and added after: the place found
// then must still hold when the table has grown in between.
TEST(NameTree, AddsANameWhereItWasFoundAcrossEveryGrowth) {
    NameTree names;
    for (int i = 0; i < 5000; ++i) {
        const std::string name = "Name" + std::to_string(i);
        const NameTree::Place place = names.find(name);
        ASSERT_FALSE(place.found) << name;
        names.insertAt(place, name);
        names.insertAt(names.find(name), name);  // found: nothing is added
    }
    EXPECT_EQ(names.size(), 5000u);
    for (int i = 0; i < 5000; ++i) EXPECT_TRUE(names.contains("NAME" + std::to_string(i))) << i;
    EXPECT_FALSE(names.contains("NAME5000"));
}

}  // namespace
