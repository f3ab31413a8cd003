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

// Names are UTF-8: the Turkish tables fold characters (here ı U+0131, İ U+0130, ç, Ç, ğ, Ğ,
// ş, Ş), never the bytes of a character's encoding.
TEST(MatchesMask, TurkishCaseFolding) {
    struct Case {
        std::string name;
        std::string mask;
        bool expected;
    } cases[] = {
        {"I", "I", true},
        {"\xC4\xB1", "I", true}, // dotless i folds to I
        {"i", "i", true},
        {"\xC4\xB0", "i", true}, // i folds to dotted capital I
        {"I", "i", false},
        {"i", "I", false}, // the two i's stay apart
        {"DOSYA", "dosya", true},
        {"\xC3\xA7", "\xC3\x87", true},                 // ç, Ç
        {"\xC4\x9E\xC3\x9C", "\xC4\x9F\xC3\xBC", true}, // ĞÜ, ğü
        {"\xC5\x9E"
         "ehir.txt",
         "\xC5\x9F"
         "EH?R.*",
         true},                                           // Şehir, şEH?R.*
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", true}, // été, ÉTÉ
        // Bytes of other characters are not letters of the tables.
        {"\xE3\xA9\x80.txt", "\xC3\xA9*", false}, // U+3A40 is no é
        {"\xC3\xA9.txt", "\xE3\xA9\x80*", false},
        {"\xE3\xA9\x80.txt", "\xE3\xA9\x80*", true},
        {"\xC3\x89", "\xE3\x89", false}, // É and a stray byte
        {"\xE3\x89", "\xE3\x89", true},  // a stray byte is itself
        // One character for '?', whatever its length.
        {"\xC4\xB1.txt", "?.txt", true},
        {"\xE3\xA9\x80", "?", true},
        {"\xF0\x9F\x98\x80", "?", true},
        {"\xC3\xA9", "??", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesMask(c.name, c.mask, true, Turkish()), c.expected)
            << c.name << " / " << c.mask;
    // Outside Turkish only ASCII folds: I and i are one letter, the Turkish ones are not, nor
    // are accented letters; '?' is still one character.
    struct PlainCase {
        std::string name;
        std::string mask;
        bool expected;
    } plain[] = {
        {"I", "i", true},
        {"\xC4\xB1", "I", false},
        {"\xC3\xA9", "\xC3\x89", false},
        {"\xE3\xA9\x80.txt", "\xC3\xA9*", false},
        {"\xC3\xA9.txt", "?.TXT", true},
        {"\xE3\xA9\x80", "?", true},
    };
    for (const PlainCase& c : plain)
        EXPECT_EQ(MatchesMask(c.name, c.mask, true, Plain()), c.expected)
            << c.name << " / " << c.mask;
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
        EXPECT_EQ(MatchesMask("\xC4\xB1", "I", true, tables), c.locale == TurkishLocale);
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
    // Turkish order, by character: the dotless i sorts before I, and both before i and İ.
    EXPECT_LT(CompareByCollation("\xC4\xB1", "I", 1, Turkish()), 0);
    EXPECT_LT(CompareByCollation("I", "i", 1, Turkish()), 0);
    EXPECT_LT(CompareByCollation("i", "\xC4\xB0", 1, Turkish()), 0);
    EXPECT_LT(CompareByCollation("z", "[", 1, Turkish()), 0);
    EXPECT_LT(CompareByCollation("g", "\xC4\x9F", 1, Turkish()), 0); // g, ğ
    EXPECT_LT(CompareByCollation("\xC4\x9F", "h", 1, Turkish()), 0); // ğ, h
    EXPECT_LT(CompareByCollation("\xC3\xA9", "f", 1, Turkish()), 0); // é, f
    // A character the tables do not hold sorts after those they hold, whatever its bytes.
    EXPECT_GT(CompareByCollation("\xE3\xA9\x80", "\xC3\xA9", 1, Turkish()), 0);
    EXPECT_GT(CompareByCollation("\xE3\xA9\x80", "\xC3\xBF", 1, Turkish()), 0);
    EXPECT_NE(CompareByCollationIgnoreCase("\xE3\xA9\x80", "\xC3\x89\x80", 1, Turkish()), 0);
    EXPECT_EQ(CompareByCollationIgnoreCase("\xC3\xA9", "\xC3\x89", 1, Turkish()), 0);
    // MaxLen counts characters: the first two of these agree.
    EXPECT_EQ(CompareByCollation("\xC3\xA9\xC3\xA9x", "\xC3\xA9\xC3\xA9y", 2, Turkish()), 0);
    EXPECT_EQ(CompareByCollation("\xC3\xA9\xC3\xA9x", "\xC3\xA9\xC3\xA9y", 2, Plain()), 0);
    EXPECT_LT(CompareByCollation("\xC3\xA9\xC3\xA9x", "\xC3\xA9\xC3\xA9y", 3, Plain()), 0);
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
