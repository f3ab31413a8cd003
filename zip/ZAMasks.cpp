#include "zip/ZAMasks.h"

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

// The bytes up to the first NUL, as the zero-terminated strings of the comparisons end.
std::string_view UpToNul(std::string_view s) {
    std::size_t nul = s.find('\0');
    return nul == std::string_view::npos ? s : s.substr(0, nul);
}

std::uint8_t Byte(std::string_view s, std::size_t i) {
    return i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0;
}

std::int32_t CompareTables(std::string_view s1, std::string_view s2, std::int32_t maxLen,
                           bool ignoreCase, const TZACollation& c) {
    if (maxLen == 0)
        return 0;
    s1 = UpToNul(s1);
    s2 = UpToNul(s2);
    if (s1.empty() || s2.empty())
        return s1.empty() == s2.empty() ? 0 : (s1.empty() ? -1 : 1);
    // One position past the shorter string, so that its terminating zero (rank 0) takes part
    // and a proper prefix sorts first.
    std::size_t limit = std::min(s1.size(), s2.size()) + 1;
    if (maxLen > 0)
        limit = std::min(limit, static_cast<std::size_t>(maxLen));
    for (std::size_t i = 0; i < limit; ++i) {
        std::int32_t r1 = c.CollationRank[Byte(s1, i)];
        std::int32_t r2 = c.CollationRank[Byte(s2, i)];
        if (r1 == r2)
            continue;
        if (!ignoreCase)
            return r1 - r2;
        std::int32_t u1 = c.UpperRankByRank[static_cast<std::size_t>(r1)];
        std::int32_t u2 = c.UpperRankByRank[static_cast<std::size_t>(r2)];
        if (u1 != u2)
            return u1 - u2;
    }
    return 0;
}

// Without distinct ranks: the platform's comparison, which is byte order with the upper-case
// table applied when case is ignored.
std::int32_t ComparePlatform(std::string_view s1, std::string_view s2, std::int32_t maxLen,
                             bool ignoreCase, const TZACollation& c) {
    s1 = UpToNul(s1);
    s2 = UpToNul(s2);
    std::size_t limit = std::max(s1.size(), s2.size()) + 1;
    if (maxLen >= 0)
        limit = std::min(limit, static_cast<std::size_t>(maxLen));
    for (std::size_t i = 0; i < limit; ++i) {
        std::int32_t b1 = Byte(s1, i);
        std::int32_t b2 = Byte(s2, i);
        if (ignoreCase) {
            b1 = c.UpperCase[static_cast<std::size_t>(b1)];
            b2 = c.UpperCase[static_cast<std::size_t>(b2)];
        }
        if (b1 != b2)
            return b1 - b2;
        if (Byte(s1, i) == 0)
            break;
    }
    return 0;
}

bool SameChar(char a, char b, bool ignoreCase, const TZACollation& c) {
    auto ua = static_cast<std::uint8_t>(a);
    auto ub = static_cast<std::uint8_t>(b);
    if (c.UseCollationTables) {
        if (ua == ub)
            return true;
        return ignoreCase &&
               c.UpperRankByRank[c.CollationRank[ua]] == c.UpperRankByRank[c.CollationRank[ub]];
    }
    const char sa[2] = {a, 0};
    const char sb[2] = {b, 0};
    return (ignoreCase
                ? CompareByCollationIgnoreCase(std::string_view(sa, 1), std::string_view(sb, 1), 1,
                                               c)
                : CompareByCollation(std::string_view(sa, 1), std::string_view(sb, 1), 1, c)) == 0;
}

// The matcher backtracks at every '*'. A (name position, mask position) pair always gives the
// same answer, so each pair is worked out once: a hostile mask cannot make it exponential.
class MaskMatcher {
public:
    MaskMatcher(std::string_view name, std::string_view mask, bool ignoreCase,
                const TZACollation& c)
        : name_(name), mask_(mask), ignoreCase_(ignoreCase), c_(c) {}

    // One call of the matcher on the rest of the name and of the mask.
    bool Call(std::size_t i, std::size_t j) {
        if (mask_.substr(j) == "*.*")
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
            if (mask_.substr(j) == "*")
                return true;
            if (i >= name_.size())
                return j >= mask_.size();
            if (j >= mask_.size())
                return false; // the name goes on past the mask
            if (mask_[j] == '*') {
                // The empty rest of the name is not tried here.
                for (std::size_t k = i; k < name_.size(); ++k)
                    if (Call(k, j + 1))
                        return true;
                return false;
            }
            if (mask_[j] != '?' && !SameChar(name_[i], mask_[j], ignoreCase_, c_))
                return false;
            ++i;
            ++j;
        }
    }

    std::string_view name_;
    std::string_view mask_;
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
