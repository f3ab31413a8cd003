// UTF-8 sequences as the engine meets them in entry names: validity, and one character at a
// time for the matcher.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zip {

// True when the bytes are well-formed UTF-8: shortest forms only, no surrogates, nothing
// above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// The character starting at pos: its code point and how many bytes it takes. A byte that
// starts no well-formed sequence counts as one character of its own, a code point above
// U+10FFFF, so that it only ever equals the same byte.
struct TZAUtf8Char {
    char32_t CodePoint;
    std::size_t Length;
};
TZAUtf8Char DecodeUtf8At(std::string_view bytes, std::size_t pos);

// A byte that stands for itself in DecodeUtf8At is given back as this code point.
inline constexpr char32_t Utf8RawByteBase = 0x110000;

} // namespace zip
