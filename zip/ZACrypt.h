// Traditional PKWARE encryption: three keys driven by the plain bytes, and the 12-byte
// header in front of an encrypted entry's data whose last byte tells a fitting password.
#pragma once

#include "zip/ZACentralHeader.h"
#include "zip/ZACrc32.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace zip {

struct TZipCryptKeys {
    std::uint32_t Key0 = 0;
    std::uint32_t Key1 = 0;
    std::uint32_t Key2 = 0;
};

constexpr std::size_t ZipCryptHeaderSize = 12;
using TZipCryptHeader = std::array<std::uint8_t, ZipCryptHeaderSize>;

constexpr void ZipCryptUpdateKeys(std::uint8_t plainByte, TZipCryptKeys& keys) {
    keys.Key0 = Crc32Byte(plainByte, keys.Key0);
    keys.Key1 = (keys.Key1 + (keys.Key0 & 0xFFu)) * 134775813u + 1u;
    keys.Key2 = Crc32Byte(static_cast<std::uint8_t>(keys.Key1 >> 24), keys.Key2);
}

constexpr std::uint8_t ZipCryptStreamByte(const TZipCryptKeys& keys) {
    std::uint32_t t = (keys.Key2 | 2u) & 0xFFFFu;
    return static_cast<std::uint8_t>((t * (t ^ 1u)) >> 8);
}

constexpr std::uint8_t ZipCryptEncryptByte(std::uint8_t plainByte, TZipCryptKeys& keys) {
    std::uint8_t t = ZipCryptStreamByte(keys);
    ZipCryptUpdateKeys(plainByte, keys);
    return plainByte ^ t;
}

constexpr std::uint8_t ZipCryptDecryptByte(std::uint8_t cipherByte, TZipCryptKeys& keys) {
    std::uint8_t plain = cipherByte ^ ZipCryptStreamByte(keys);
    ZipCryptUpdateKeys(plain, keys);
    return plain;
}

// The initial keys, then every byte of the password, first to last.
void ZipCryptInitKeys(std::string_view password, TZipCryptKeys& keys);

void ZipCryptDecryptBuffer(std::span<std::uint8_t> buffer, TZipCryptKeys& keys);

// Encrypts buffer[start] to buffer[start + count - 1] in place; nothing for a count of 0 or
// less. A range outside the buffer throws std::out_of_range.
void ZipCryptEncryptRange(std::int64_t count, std::int64_t start, std::span<std::uint8_t> buffer,
                          TZipCryptKeys& keys);

// Initialises the keys from the password and decrypts the header in place; the keys are then
// ready for the entry's data.
void ZipCryptDecryptHeader(std::string_view password, TZipCryptKeys& keys, TZipCryptHeader& header);

// The byte the header's last byte must equal: with a data descriptor (flag bit 3) the writer
// did not know the CRC yet, so the high byte of the DOS time stands in for it; otherwise the
// high byte of the CRC-32.
constexpr std::uint8_t ZipCryptCheckByte(std::uint16_t flags, std::uint16_t dosTime,
                                         std::uint32_t crc) {
    return (flags & FlagDataDescriptor) ? static_cast<std::uint8_t>(dosTime >> 8)
                                        : static_cast<std::uint8_t>(crc >> 24);
}

// Only the last byte of a decrypted header is compared; the first eleven carry no meaning.
constexpr bool ZipCryptPasswordFits(const TZipCryptHeader& decrypted, std::uint16_t flags,
                                    std::uint16_t dosTime, std::uint32_t crc) {
    return decrypted[ZipCryptHeaderSize - 1] == ZipCryptCheckByte(flags, dosTime, crc);
}

// Makes the encrypted header for a new entry: ten random bytes, then bits 16 to 23 of the
// CRC-32 and the check byte, all encrypted with keys freshly initialised from the password.
// The keys are left ready for the entry's data.
TZipCryptHeader ZipCryptEncryptHeader(std::string_view password, TZipCryptKeys& keys,
                                      std::uint16_t flags, std::uint16_t dosTime,
                                      std::uint32_t crc);

} // namespace zip
