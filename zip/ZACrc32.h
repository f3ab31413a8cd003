// CRC-32 of ZIP entries (reflected polynomial 0xEDB88320, as in ISO-HDLC and IEEE 802.3).
// The routines take and return the running value without inverting it: callers start at
// 0xFFFFFFFF and take the complement of the final value as the entry's CRC-32.
#pragma once

#include <array>
#include <cstdint>

namespace zip {

constexpr std::uint32_t Crc32Polynomial = 0xEDB88320u;
constexpr std::uint32_t Crc32Start = 0xFFFFFFFFu;

constexpr std::array<std::uint32_t, 256> MakeCrc32Table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ Crc32Polynomial : c >> 1;
        table[n] = c;
    }
    return table;
}

// One table for the CRC and for the cipher's key update.
inline constexpr std::array<std::uint32_t, 256> Crc32Table = MakeCrc32Table();
static_assert(Crc32Table[1] == 0x77073096u);

constexpr std::uint32_t Crc32Byte(std::uint8_t byte, std::uint32_t crc) {
    return (crc >> 8) ^ Crc32Table[(crc ^ byte) & 0xFFu];
}

// The running value after count bytes; crc unchanged for no buffer or a count of 0 or less.
std::uint32_t UpdateCrc32(std::uint32_t crc, const void* buffer, std::int64_t count);

inline void UpdateCrc32(const void* buffer, std::int64_t count, std::uint32_t& crc) {
    crc = UpdateCrc32(crc, buffer, count);
}

} // namespace zip
