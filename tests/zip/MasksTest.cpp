// Wildcard masks and name collation: the matcher's rules as a table, the entry search's
// file-mask test, and the Turkish tables chosen through the locale variables.
#include "zip/ZAMasks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <set>
#include <string>

using namespace zip;

namespace {

const TZACollation& Plain() {
    static const TZACollation c = TZACollation::ForLocaleName("C.UTF-8");
    return c;
}
const TZACollation& Turkish() {
    static const TZACollation c = TZACollation::ForLocaleName("tr_TR.UTF-8");
    return c;
}

// Sets (or clears) one environment variable for the life of the object.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvVar() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

} // namespace

TEST(MatchesMask, Table) {
    struct Case {
        const char* name;
        const char* mask;
        bool ignoreCase;
        bool expected;
        const char* why;
    } cases[] = {
        {"", "*", false, true, "star matches the empty name"},
        {"anything/at/all", "*", false, true, "star runs across folders"},
        {"", "*.*", false, true, "star-dot-star matches the empty name"},
        {"noext", "*.*", false, true, "star-dot-star needs no dot"},
        {"abc", "a*.*", false, false, "the star-dot-star rule is for the whole mask only"},
        {"a.b", "a*.*", false, true, "a dot after the star"},
        {"a", "a*", false, true, "a trailing star takes nothing"},
        {"a", "a**", false, false, "two stars need a character after the name"},
        {"b", "*b", false, true, "a leading star takes nothing"},
        {"ab", "*b", false, true, "a leading star takes a character"},
        {"a", "a?", false, false, "a question mark needs a character"},
        {"", "?", false, false, "a question mark does not match the empty name"},
        {"x", "?", false, true, "a question mark matches one character"},
        {"", "", false, true, "the empty mask matches the empty name"},
        {"a", "", false, false, "the empty mask matches only the empty name"},
        {"ab", "abc", false, false, "a shorter name"},
        {"abc", "ab", false, false, "a longer name"},
        {"docs/readme.txt", "*.TXT", true, true, "case ignored"},
        {"docs/readme.txt", "*.TXT", false, false, "case kept"},
        {"docs/readme.txt", "docs\\readme.txt", false, false, "separators are plain characters"},
        {"a/b/c.txt", "a/*", false, true, "a folder's entries"},
        {"abcabcabd", "*abd", false, true, "backtracking"},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab",
         "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*c", false, false,
         "many stars end quickly without a match"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesMask(c.name, c.mask, c.ignoreCase, Plain()), c.expected) << c.why;
}

TEST(MatchesMask, TurkishCaseFolding) {
    struct Case {
        std::string name;
        std::string mask;
        bool expected;
    } cases[] = {
        {"I", "I", true},         {"\xFD", "I", true}, // dotless i folds to I
        {"i", "i", true},         {"\xDD", "i", true}, // i folds to dotted capital I
        {"I", "i", false},        {"i", "I", false},   // the two i's stay apart
        {"DOSYA", "dosya", true}, {"\xE7", "\xC7", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesMask(c.name, c.mask, true, Turkish()), c.expected)
            << c.name << " / " << c.mask;
    // Outside Turkish only ASCII folds: I and i are one letter, the Turkish bytes are not.
    EXPECT_TRUE(MatchesMask("I", "i", true, Plain()));
    EXPECT_FALSE(MatchesMask("\xFD", "I", true, Plain()));
}

TEST(Collation, TurkishTablesArePermutations) {
    std::set<int> seen(TurkishCollationOrder().begin(), TurkishCollationOrder().end());
    EXPECT_EQ(seen.size(), 256u);
    EXPECT_EQ(TurkishCollationOrder()[0], 0);
    EXPECT_EQ(TurkishCollationOrder()[1], ' ');
    EXPECT_TRUE(Turkish().UseCollationTables);
    EXPECT_TRUE(Plain().UseCollationTables);
    EXPECT_EQ(TurkishUpperCase()[0xF7], 0xF7);
    EXPECT_EQ(TurkishUpperCase()[0xFF], 0xFF);
    EXPECT_EQ(TurkishUpperCase()[' '], 0);
}

TEST(Collation, LocaleVariablesChooseTheTables) {
    struct Case {
        const char* lcAll;
        const char* lcCollate;
        const char* lang;
        std::int32_t locale;
    } cases[] = {
        {nullptr, nullptr, "tr_TR.UTF-8", TurkishLocale},
        {nullptr, "tr_TR", "en_US.UTF-8", TurkishLocale},
        {nullptr, "C", "tr_TR.UTF-8", 1033}, // the collation category decides
        {"tr_TR.UTF-8", nullptr, nullptr, TurkishLocale},
        {nullptr, nullptr, nullptr, 1033},
        {nullptr, nullptr, "fr_FR.UTF-8", 1033},
    };
    for (const Case& c : cases) {
        EnvVar all("LC_ALL", c.lcAll);
        EnvVar collate("LC_COLLATE", c.lcCollate);
        EnvVar lang("LANG", c.lang);
        TZACollation tables = TZACollation::FromEnvironment();
        EXPECT_EQ(tables.UserLocale, c.locale) << (c.lang ? c.lang : "-");
        EXPECT_EQ(MatchesMask("\xFD", "I", true, tables), c.locale == TurkishLocale);
    }
}

TEST(Collation, Compare) {
    struct Case {
        const char* s1;
        const char* s2;
        std::int32_t maxLen;
        int sign;
        int signIgnoringCase;
    } cases[] = {
        {"abc", "abc", 10, 0, 0},  {"ab", "abc", 10, -1, -1}, // a proper prefix sorts first
        {"abc", "ab", 10, 1, 1},   {"", "", 5, 0, 0},         {"", "a", 5, -1, -1},
        {"a", "", 5, 1, 1},        {"abc", "abd", 2, 0, 0},   {"abc", "xyz", 0, 0, 0},
        {"ABC", "abc", 10, -1, 0}, {"a\0z", "a", 10, 0, 0},
    };
    auto sign = [](std::int32_t v) { return (v > 0) - (v < 0); };
    for (const Case& c : cases) {
        EXPECT_EQ(sign(CompareByCollation(c.s1, c.s2, c.maxLen, Plain())), c.sign)
            << c.s1 << " " << c.s2;
        EXPECT_EQ(sign(CompareByCollationIgnoreCase(c.s1, c.s2, c.maxLen, Plain())),
                  c.signIgnoringCase)
            << c.s1 << " " << c.s2;
    }
    // Turkish order: the dotless i sorts before I, and both before i.
    EXPECT_LT(CompareByCollation("\xFD", "I", 1, Turkish()), 0);
    EXPECT_LT(CompareByCollation("I", "i", 1, Turkish()), 0);
    EXPECT_LT(CompareByCollation("i", "\xDD", 1, Turkish()), 0);
    EXPECT_LT(CompareByCollation("z", "[", 1, Turkish()), 0);
}

TEST(MatchesFileMask, Table) {
    struct Case {
        const char* name;
        const char* mask;
        bool expected;
        const char* why;
    } cases[] = {
        {"readme.txt", "", false, "an empty mask matches nothing"},
        {"readme.txt", "*.*", true, "everything"},
        {"README", "*.*", true, "no extension"},
        {"a/b/readme.TXT", "*.txt", true, "case ignored"},
        {"readme", "readme.", true, "a trailing dot asks for no extension"},
        {"readme.txt", "readme*.", false, "a name with an extension fails the trailing dot"},
        {"readme.", "readme", true, "a name's trailing dot is left out"},
        {"x.tar.gz", "*.*.gz", true, "only the first star-dot-star stands for a star"},
        {"x.gz", "*.*.gz", true, "the star takes nothing"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesFileMask(c.name, c.mask, Plain()), c.expected) << c.why;
}
