#include "zip/ZACompactString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

namespace {

using zip::TZACompactString;

// Sizes around the inline room (23 bytes), with a NUL inside one of them.
const std::string texts[] = {
    "",
    "a",
    std::string(22, 'b'),
    std::string(23, 'c'),
    std::string(24, 'd'),
    std::string(1000, 'e'),
    std::string("nul\0inside", 10),
    std::string("long name with a nul\0 past the inline room", 43),
};

class CompactString : public ::testing::TestWithParam<std::string> {};

TEST_P(CompactString, HoldsItsBytesWithANulBehindThemThroughCopiesAndMoves) {
    const std::string& text = GetParam();
    auto check = [&](const TZACompactString& s) {
        EXPECT_EQ(s.size(), text.size());
        EXPECT_EQ(s.empty(), text.empty());
        EXPECT_EQ(s.View(), text);
        EXPECT_EQ(s.str(), text);
        EXPECT_EQ(s.c_str()[text.size()], '\0');
        EXPECT_EQ(std::memcmp(s.data(), text.data(), text.size()), 0);
    };
    TZACompactString s(text);
    check(s);
    TZACompactString copy(s);
    check(copy);
    check(s);
    TZACompactString moved(std::move(copy));
    check(moved);
    // Left empty, so that a moved entry owns nothing twice.
    EXPECT_TRUE(copy.empty());
    TZACompactString assigned("something else of more than twenty-three bytes");
    assigned = s;
    check(assigned);
    assigned = std::move(moved);
    check(assigned);
    TZACompactString& self = assigned;
    assigned = self;
    check(assigned);
    assigned.clear();
    EXPECT_EQ(assigned.View(), "");
    EXPECT_EQ(assigned.c_str()[0], '\0');
}

TEST_P(CompactString, TakesAPartOfItself) {
    const std::string& text = GetParam();
    TZACompactString s(text);
    s = s.View().substr(text.size() / 2);
    EXPECT_EQ(s.View(), std::string_view(text).substr(text.size() / 2));
}

INSTANTIATE_TEST_SUITE_P(Sizes, CompactString, ::testing::ValuesIn(texts));

TEST(CompactStringSize, IsThreeWordsAndComparesWithEveryStringForm) {
    static_assert(sizeof(TZACompactString) == 24);
    const TZACompactString name("dir/file.txt");
    EXPECT_EQ(name, "dir/file.txt");
    EXPECT_EQ(name, std::string("dir/file.txt"));
    EXPECT_EQ(std::string("dir/file.txt"), name);
    EXPECT_EQ(name, TZACompactString("dir/file.txt"));
    EXPECT_NE(name, "dir/file.tx");
    EXPECT_NE(name, TZACompactString("dir/file.txt" + std::string(20, 'x')));
    // An empty view without any bytes behind it, as an empty name field gives.
    EXPECT_EQ(TZACompactString(std::string_view()), "");
    EXPECT_EQ(name.back(), 't');
    EXPECT_EQ(name[3], '/');
}

} // namespace
