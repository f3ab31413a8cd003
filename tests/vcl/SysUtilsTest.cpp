#include "vcl/SysUtils.h"
#include "vcl/Classes.h"

#include <gtest/gtest.h>

using namespace vcl;

namespace {

TEST(Format, FollowsTheFrameworkRules) {
    struct Case {
        const char* format;
        std::vector<FormatArg> args;
        std::string expected;
    } cases[] = {
        {"%s: %s", {std::string("ZipArchiver1"), std::string("text")}, "ZipArchiver1: text"},
        {"%5d", {std::int64_t{35}}, "   35"},
        {"%5d", {std::int64_t{123456}}, "123456"},
        {"%.3u", {std::int64_t{7}}, "007"},
        {"%-4d|", {std::int64_t{-1}}, "-1  |"},
        {"%x %X", {std::int64_t{255}, std::int64_t{255}}, "ff FF"},
        {"100%%", {}, "100%"},
        {"File \"%s\" not found",
         {std::string("a%d.zip"), std::int64_t{9}},
         "File \"a%d.zip\" not found"},
        {"%.2s", {std::string("abcdef")}, "ab"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Format(c.format, c.args), c.expected) << c.format;
}

TEST(Format, RefusesMissingAndMistypedArguments) {
    EXPECT_THROW(Format("%s %s", {std::string("one")}), EConvertError);
    EXPECT_THROW(Format("%d", {std::string("text")}), EConvertError);
    EXPECT_THROW(Format("dangling %", {}), EConvertError);
}

TEST(StrToInt, ConvertsLikeTheFramework) {
    struct Case {
        const char* text;
        int expected; // with default -999
    } cases[] = {
        {"42", 42},
        {"-7", -7},
        {"+3", 3},
        {"  12", 12},
        {"$1F", 31},
        {"$FFFFFFFF", -1},
        {"2147483647", 2147483647},
        {"2147483648", -999},
        {"-2147483648", -2147483647 - 1},
        {"12 ", -999},
        {"", -999},
        {"abc", -999},
        {"0x1F", -999},
        {"1.5", -999},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StrToIntDef(c.text, -999), c.expected) << '"' << c.text << '"';
    EXPECT_THROW(StrToInt("x"), EConvertError);
}

TEST(Paths, AreTextRules) {
    EXPECT_EQ(ExtractFilePath("/a/b/c.txt"), "/a/b/");
    EXPECT_EQ(ExtractFileName("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(ExtractFileExt("/a/b.d/c"), "");
    EXPECT_EQ(ExtractFileExt("/a/b/c.tar.gz"), ".gz");
    EXPECT_EQ(ChangeFileExt("/a/b/c.zip", ".z01"), "/a/b/c.z01");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/a/"), "/a");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
}

TEST(Text, TrimAndCompareIgnoreAsciiCaseOnly) {
    EXPECT_EQ(Trim(" \t x y \r\n"), "x y");
    EXPECT_TRUE(SameText("Form1", "FORM1"));
    EXPECT_FALSE(SameText("é", "É")); // only ASCII letters fold
    EXPECT_LT(CompareText("abc", "ABD"), 0);
}

TEST(SplitLines, BreaksAtCrLfOrBoth) {
    struct Case {
        const char* text;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"\n", {""}},
        {"a\n\nb\n", {"a", "", "b"}},
        {"a\n\r", {"a", ""}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitLines(c.text), c.lines);
}

} // namespace
