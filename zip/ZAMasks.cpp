#include "zip/ZAMasks.h"

#include "zip/ZAUtf8.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace zip {

namespace {

constexpr std::int32_t DefaultLocale = 1033;

std::array<std::uint8_t, 256> BuildTurkishOrder() {
    // Lower case before capital, accented forms after the plain ones (Windows-1254 bytes).
    static const std::vector<std::vector<std::uint8_t>> letters = {
        {'a', 0xE5, 0xE0, 0xE2, 0xE1, 0xE3, 0xE6, 'A', 0xC5, 0xC0, 0xC2, 0xC1, 0xC3, 0xC6, 0xE4,
         0xC4},
        {'b', 'B'},
        {'c', 'C', 0xE7, 0xC7},
        {'d', 'D'},
        {'e', 0xE9, 0xE8, 0xEA, 0xEB, 'E', 0xC9, 0xC8, 0xCA, 0xCB},
        {'f', 'F'},
        {'g', 'G', 0xF0, 0xD0},
        {'h', 'H'},
        {0xFD, 'I', 'i', 0xDD, 0xED, 0xEC, 0xEE, 0xEF, 0xCD, 0xCC, 0xCE, 0xCF},
        {'j', 'J'},
        {'k', 'K'},
        {'l', 'L'},
        {'m', 'M'},
        {'n', 'N', 0xF1, 0xD1},
        {'o', 0xF3, 0xF2, 0xF4, 0xF5, 'O', 0xD3, 0xD2, 0xD4, 0xD5, 0xF6, 0xD6, 0xF8, 0xD8},
        {'p', 'P'},
        {'q', 'Q'},
        {'r', 'R'},
        {'s', 'S', 0xFE, 0xDE, 0xDF},
        {'t', 'T'},
        {'u', 0xFA, 0xF9, 0xFB, 'U', 0xDA, 0xD9, 0xDB, 0xFC, 0xDC},
        {'v', 'V'},
        {'w', 'W'},
        {'x', 'X'},
        {'y', 0xFF, 'Y'},
        {'z', 'Z'},
    };
    std::array<bool, 256> used{};
    std::array<std::uint8_t, 256> order{};
    std::size_t n = 0;
    auto add = [&](unsigned c) {
        if (!used[c]) {
            used[c] = true;
            order[n++] = static_cast<std::uint8_t>(c);
        }
    };
    add(0);
    add(0x20);
    for (unsigned c = 0x01; c <= 0x1F; ++c)
        add(c);
    for (unsigned c = 0x21; c <= 0x40; ++c)
        add(c);
    for (const auto& group : letters)
        for (std::uint8_t c : group)
            add(c);
    for (unsigned c = 0x5B; c <= 0x60; ++c)
        add(c);
    for (unsigned c = 0x7B; c <= 0x7F; ++c)
        add(c);
    for (unsigned c = 0x80; c <= 0xFF; ++c)
        add(c);
    return order;
}

std::array<std::uint8_t, 256> BuildTurkishUpper() {
    std::array<std::uint8_t, 256> upper{};
    for (unsigned c = 0; c < 256; ++c)
        upper[c] = static_cast<std::uint8_t>(c);
    for (unsigned c = 0x61; c <= 0x7A; ++c)
        upper[c] = static_cast<std::uint8_t>(c - 0x20);
    upper[0x69] = 0xDD; // i -> dotted capital I
    for (unsigned c = 0xE0; c <= 0xF6; ++c)
        upper[c] = static_cast<std::uint8_t>(c - 0x20);
    for (unsigned c = 0xF9; c <= 0xFC; ++c)
        upper[c] = static_cast<std::uint8_t>(c - 0x20);
    upper[0xFD] = 0x49; // dotless i -> I
    upper[0xFE] = 0xDE;
    upper[0x20] = 0x00;
    return upper;
}

bool IsTurkishName(std::string_view localeName) {
    return localeName.size() >= 2 && (localeName[0] == 't' || localeName[0] == 'T') &&
           (localeName[1] == 'r' || localeName[1] == 'R');
}

std::string_view EnvValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string_view(value) : std::string_view();
}

// Windows-1254, the code page of the Turkish tables: the characters of bytes 0x80 to 0xFF
// (0 where the byte has none). The tables rank and fold these characters; names are UTF-8,
// so each character is looked up, never its bytes.
constexpr std::array<char16_t, 128> Cp1254High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039,
    0x0152, 0,      0,      0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0,      0x0178, 0x00A0, 0x00A1, 0x00A2, 0x00A3,
    0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB,
    0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x011E, 0x00D1, 0x00D2, 0x00D3,
    0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x0130, 0x015E, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB,
    0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x011F, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0131, 0x015F, 0x00FF,
};

// The byte a character has in the tables' code page: Windows-1254 under the Turkish locale,
// ASCII alone otherwise (the platform folds only ASCII letters). -1 when it has none.
int TableByte(char32_t cp, const TZACollation& c) {
    if (cp < 0x80)
        return static_cast<int>(cp);
    if (c.UserLocale != TurkishLocale)
        return -1;
    for (std::size_t i = 0; i < Cp1254High.size(); ++i)
        if (Cp1254High[i] != 0 && Cp1254High[i] == cp)
            return static_cast<int>(0x80 + i);
    return -1;
}

char32_t TableChar(std::uint8_t b) {
    return b < 0x80 ? char32_t{b} : char32_t{Cp1254High[b - 0x80u]};
}

// A character's upper-case form by the tables; a character they do not hold stays itself.
char32_t Fold(char32_t cp, const TZACollation& c) {
    const int b = TableByte(cp, c);
    return b < 0 ? cp : TableChar(c.UpperCase[static_cast<std::size_t>(b)]);
}

// A character's rank: its byte's rank where the tables hold it; every other character after
// those, in code point order, and bytes that are no UTF-8 after everything.
std::int64_t Rank(char32_t cp, const TZACollation& c) {
    const int b = TableByte(cp, c);
    return b < 0 ? 256 + std::int64_t{cp} : c.CollationRank[static_cast<std::size_t>(b)];
}

// The characters up to the first NUL, as the zero-terminated strings of the comparisons end.
std::u32string Chars(std::string_view s) {
    std::u32string out;
    for (std::size_t pos = 0; pos < s.size() && s[pos] != '\0';) {
        const TZAUtf8Char ch = DecodeUtf8At(s, pos);
        out.push_back(ch.CodePoint);
        pos += ch.Length;
    }
    return out;
}

char32_t At(const std::u32string& s, std::size_t i) {
    return i < s.size() ? s[i] : 0;
}

std::int32_t Difference(std::int64_t a, std::int64_t b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

std::int32_t CompareTables(std::string_view s1, std::string_view s2, std::int32_t maxLen,
                           bool ignoreCase, const TZACollation& c) {
    if (maxLen == 0)
        return 0;
    const std::u32string a = Chars(s1);
    const std::u32string b = Chars(s2);
    if (a.empty() || b.empty())
        return a.empty() == b.empty() ? 0 : (a.empty() ? -1 : 1);
    // One position past the shorter string, so that its terminating zero (rank 0) takes part
    // and a proper prefix sorts first.
    std::size_t limit = std::min(a.size(), b.size()) + 1;
    if (maxLen > 0)
        limit = std::min(limit, static_cast<std::size_t>(maxLen));
    for (std::size_t i = 0; i < limit; ++i) {
        const std::int64_t r1 = Rank(At(a, i), c);
        const std::int64_t r2 = Rank(At(b, i), c);
        if (r1 == r2)
            continue;
        if (!ignoreCase)
            return Difference(r1, r2);
        const std::int64_t u1 = Rank(Fold(At(a, i), c), c);
        const std::int64_t u2 = Rank(Fold(At(b, i), c), c);
        if (u1 != u2)
            return Difference(u1, u2);
    }
    return 0;
}

// Without distinct ranks: the platform's comparison, which is code point order (the byte
// order of UTF-8) with the upper-case table applied when case is ignored.
std::int32_t ComparePlatform(std::string_view s1, std::string_view s2, std::int32_t maxLen,
                             bool ignoreCase, const TZACollation& c) {
    const std::u32string a = Chars(s1);
    const std::u32string b = Chars(s2);
    std::size_t limit = std::max(a.size(), b.size()) + 1;
    if (maxLen >= 0)
        limit = std::min(limit, static_cast<std::size_t>(maxLen));
    for (std::size_t i = 0; i < limit; ++i) {
        char32_t c1 = At(a, i);
        char32_t c2 = At(b, i);
        if (ignoreCase) {
            c1 = Fold(c1, c);
            c2 = Fold(c2, c);
        }
        if (c1 != c2)
            return Difference(c1, c2);
        if (At(a, i) == 0)
            break;
    }
    return 0;
}

// Equality as the matcher uses it. With the tables: the same character, or, ignoring case,
// the same upper-case form. The platform's own comparison says the same: code point order
// with that upper-casing.
bool SameChar(char32_t a, char32_t b, bool ignoreCase, const TZACollation& c) {
    return a == b || (ignoreCase && Fold(a, c) == Fold(b, c));
}

// The matcher backtracks at every '*'. A (name position, mask position) pair always gives the
// same answer, so each pair is worked out once: a hostile mask cannot make it exponential.
// Positions count characters: '?' stands for one character, whatever its length in UTF-8.
class MaskMatcher {
public:
    MaskMatcher(std::string_view name, std::string_view mask, bool ignoreCase,
                const TZACollation& c)
        : name_(Chars(name)), mask_(Chars(mask)), ignoreCase_(ignoreCase), c_(c) {}

    // One call of the matcher on the rest of the name and of the mask.
    bool Call(std::size_t i, std::size_t j) {
        if (mask_.substr(j) == U"*.*")
            return true;
        if (j == 0)
            return Walk(i, j); // the first call: nothing to remember yet
        if (memo_.empty())
            memo_.assign((name_.size() + 1) * (mask_.size() + 1), 0);
        std::uint8_t& known = memo_[i * (mask_.size() + 1) + j];
        if (known == 0)
            known = Walk(i, j) ? 1 : 2;
        return known == 1;
    }

private:
    bool Walk(std::size_t i, std::size_t j) {
        for (;;) {
            if (mask_.substr(j) == U"*")
                return true;
            if (i >= name_.size())
                return j >= mask_.size();
            if (j >= mask_.size())
                return false; // the name goes on past the mask
            if (mask_[j] == U'*') {
                // The empty rest of the name is not tried here.
                for (std::size_t k = i; k < name_.size(); ++k)
                    if (Call(k, j + 1))
                        return true;
                return false;
            }
            if (mask_[j] != U'?' && !SameChar(name_[i], mask_[j], ignoreCase_, c_))
                return false;
            ++i;
            ++j;
        }
    }

    std::u32string name_;
    std::u32string mask_;
    bool ignoreCase_;
    const TZACollation& c_;
    std::vector<std::uint8_t> memo_; // 0 unknown, 1 match, 2 no match
};

} // namespace

const std::array<std::uint8_t, 256>& TurkishCollationOrder() {
    static const std::array<std::uint8_t, 256> order = BuildTurkishOrder();
    return order;
}

const std::array<std::uint8_t, 256>& TurkishUpperCase() {
    static const std::array<std::uint8_t, 256> upper = BuildTurkishUpper();
    return upper;
}

TZACollation TZACollation::ForLocaleName(std::string_view localeName) {
    TZACollation c;
    c.UserLocale = IsTurkishName(localeName) ? TurkishLocale : DefaultLocale;
    const bool turkish = c.UserLocale == TurkishLocale;
    for (unsigned b = 0; b < 256; ++b) {
        if (turkish)
            c.UpperCase[b] = TurkishUpperCase()[b];
        else
            c.UpperCase[b] = static_cast<std::uint8_t>(b >= 'a' && b <= 'z' ? b - 0x20 : b);
    }
    if (turkish) {
        const auto& order = TurkishCollationOrder();
        for (unsigned pos = 0; pos < 256; ++pos)
            c.CollationRank[order[pos]] = static_cast<std::uint8_t>(pos);
    } else {
        // Byte order: each byte's rank is the number of bytes that sort before it.
        for (unsigned b = 0; b < 256; ++b)
            c.CollationRank[b] = static_cast<std::uint8_t>(b);
    }
    std::array<bool, 256> seen{};
    for (unsigned b = 0; b < 256; ++b) {
        c.RankToByte[c.CollationRank[b]] = static_cast<std::uint8_t>(b);
        seen[c.CollationRank[b]] = true;
    }
    c.UseCollationTables = true;
    for (bool s : seen)
        c.UseCollationTables = c.UseCollationTables && s;
    if (c.UseCollationTables)
        for (unsigned b = 0; b < 256; ++b)
            c.UpperRankByRank[c.CollationRank[b]] = c.CollationRank[c.UpperCase[b]];
    return c;
}

TZACollation TZACollation::FromEnvironment() {
    // The usual precedence of the locale variables for the collation category.
    for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
        std::string_view value = EnvValue(name);
        if (!value.empty())
            return ForLocaleName(value);
    }
    return ForLocaleName("C");
}

const TZACollation& Collation() {
    static const TZACollation collation = TZACollation::FromEnvironment();
    return collation;
}

std::int32_t CompareByCollation(std::string_view s1, std::string_view s2, std::int32_t maxLen,
                                const TZACollation& collation) {
    return collation.UseCollationTables ? CompareTables(s1, s2, maxLen, false, collation)
                                        : ComparePlatform(s1, s2, maxLen, false, collation);
}

std::int32_t CompareByCollationIgnoreCase(std::string_view s1, std::string_view s2,
                                          std::int32_t maxLen, const TZACollation& collation) {
    return collation.UseCollationTables ? CompareTables(s1, s2, maxLen, true, collation)
                                        : ComparePlatform(s1, s2, maxLen, true, collation);
}

bool MatchesMask(std::string_view name, std::string_view mask, bool ignoreCase,
                 const TZACollation& collation) {
    if (mask == "*")
        return true; // every name, as the matcher would find it, without decoding any
    MaskMatcher matcher(name, mask, ignoreCase, collation);
    return matcher.Call(0, 0);
}

bool MatchesFileMask(std::string_view name, std::string_view mask, const TZACollation& collation) {
    if (mask.empty())
        return false;
    std::string m;
    if (std::size_t star = mask.find("*.*"); star != std::string_view::npos) {
        m.append(mask.substr(0, star));
        m.push_back('*');
        m.append(mask.substr(star + 3));
    } else {
        m.assign(mask);
    }
    const bool maskEndsInDot = mask.back() == '.';
    if (maskEndsInDot)
        m.pop_back();
    std::string_view compared = name;
    if (!compared.empty() && compared.back() == '.')
        compared.remove_suffix(1);
    if (!MatchesMask(compared, m, true, collation))
        return false;
    if (!maskEndsInDot)
        return true;
    // Extension: from the last '.' after the last '\' or ':'.
    std::size_t sep = name.find_last_of("\\:");
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || (sep != std::string_view::npos && dot < sep))
        return true;
    return name.substr(dot) == ".";
}

} // namespace zip
