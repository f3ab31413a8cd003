#include "zip/ZAUtf8.h"

namespace zip {

TZAUtf8Char DecodeUtf8At(std::string_view bytes, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[pos + i]); };
    const std::uint8_t b0 = byte(0);
    const TZAUtf8Char raw{Utf8RawByteBase + b0, 1};
    if (b0 < 0x80)
        return {b0, 1};
    std::size_t length;
    char32_t cp;
    char32_t least;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2, cp = b0 & 0x1F, least = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, cp = b0 & 0x0F, least = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, cp = b0 & 0x07, least = 0x10000;
    } else {
        return raw;
    }
    if (bytes.size() - pos < length)
        return raw;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return raw;
        cp = (cp << 6) | (byte(i) & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return raw;
    return {cp, length};
}

bool IsValidUtf8(std::string_view bytes) {
    for (std::size_t pos = 0; pos < bytes.size();) {
        const TZAUtf8Char c = DecodeUtf8At(bytes, pos);
        if (c.CodePoint >= Utf8RawByteBase)
            return false;
        pos += c.Length;
    }
    return true;
}

} // namespace zip
