#include "zip/ZACrypt.h"

#include "platform/Random.h"

#include <stdexcept>

namespace zip {

void ZipCryptInitKeys(std::string_view password, TZipCryptKeys& keys) {
    keys = {0x12345678u, 0x23456789u, 0x34567890u};
    for (char c : password)
        ZipCryptUpdateKeys(static_cast<std::uint8_t>(c), keys);
}

void ZipCryptDecryptBuffer(std::span<std::uint8_t> buffer, TZipCryptKeys& keys) {
    for (std::uint8_t& b : buffer)
        b = ZipCryptDecryptByte(b, keys);
}

void ZipCryptEncryptRange(std::int64_t count, std::int64_t start, std::span<std::uint8_t> buffer,
                          TZipCryptKeys& keys) {
    if (count <= 0)
        return;
    if (start < 0 || static_cast<std::uint64_t>(start) > buffer.size() ||
        static_cast<std::uint64_t>(count) > buffer.size() - static_cast<std::uint64_t>(start))
        throw std::out_of_range("ZipCryptEncryptRange: range outside the buffer");
    for (std::uint8_t& b :
         buffer.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(count)))
        b = ZipCryptEncryptByte(b, keys);
}

void ZipCryptDecryptHeader(std::string_view password, TZipCryptKeys& keys,
                           TZipCryptHeader& header) {
    ZipCryptInitKeys(password, keys);
    ZipCryptDecryptBuffer(header, keys);
}

TZipCryptHeader ZipCryptEncryptHeader(std::string_view password, TZipCryptKeys& keys,
                                      std::uint16_t flags, std::uint16_t dosTime,
                                      std::uint32_t crc) {
    TZipCryptHeader header{};
    // The leading bytes only have to be unpredictable: a guessable header weakens the
    // cipher's known-plaintext margin, so they come from the kernel, not a clock-seeded PRNG.
    platform::RandomBytes(header.data(), ZipCryptHeaderSize - 2);
    header[10] = static_cast<std::uint8_t>(crc >> 16);
    header[11] = ZipCryptCheckByte(flags, dosTime, crc);
    ZipCryptInitKeys(password, keys);
    for (std::uint8_t& b : header)
        b = ZipCryptEncryptByte(b, keys);
    return header;
}

} // namespace zip
