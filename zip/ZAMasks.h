// Name collation and wildcard masks. Character comparison follows the user's locale through
// tables built once per process: a rank for every byte value of the locale's code page and
// the rank of its upper-case form, so that matching is table lookups. Names are UTF-8: each
// character is looked up by its byte in that code page (Windows-1254 under Turkish locales,
// ASCII otherwise, as the platform's order is code point order with ASCII case folding), and
// characters the code page does not hold compare as themselves.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zip {

// The locale identifier of Turkish.
inline constexpr std::int32_t TurkishLocale = 1055;

struct TZACollation {
    std::int32_t UserLocale = 0;
    std::array<std::uint8_t, 256> CollationRank{};
    std::array<std::uint8_t, 256> RankToByte{};
    std::array<std::uint8_t, 256> UpperRankByRank{};
    // The upper-case byte of each byte, kept for the comparison without tables.
    std::array<std::uint8_t, 256> UpperCase{};
    bool UseCollationTables = false;

    // Tables for a locale name as LC_COLLATE or LANG hold it ("tr_TR.UTF-8", "C", ...).
    static TZACollation ForLocaleName(std::string_view localeName);
    // Tables for the process's locale settings as they stand now.
    static TZACollation FromEnvironment();
};

// The process's tables, built from the environment on first use and constant afterwards.
const TZACollation& Collation();

// The fixed Turkish order (a permutation of the 256 byte values) and upper-case table.
const std::array<std::uint8_t, 256>& TurkishCollationOrder();
const std::array<std::uint8_t, 256>& TurkishUpperCase();

// Negative, zero or positive as s1 sorts before, with or after s2 over at most maxLen
// characters; both stop at their first NUL.
std::int32_t CompareByCollation(std::string_view s1, std::string_view s2, std::int32_t maxLen,
                                const TZACollation& collation = Collation());
std::int32_t CompareByCollationIgnoreCase(std::string_view s1, std::string_view s2,
                                          std::int32_t maxLen,
                                          const TZACollation& collation = Collation());

// Wildcard match of a whole name against a whole mask: '*' any run of characters (folder
// separators included), '?' one character; the whole mask "*.*" matches everything.
bool MatchesMask(std::string_view name, std::string_view mask, bool ignoreCase,
                 const TZACollation& collation = Collation());

// The entry search's test: an empty mask matches nothing; the first "*.*" stands for "*";
// a mask ending in '.' asks for a name without extension; a name's trailing '.' is left out.
// Case is ignored.
bool MatchesFileMask(std::string_view name, std::string_view mask,
                     const TZACollation& collation = Collation());

} // namespace zip
