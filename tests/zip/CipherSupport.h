// Traditional encryption checks only one byte of its header, so one wrong password in 256
// passes it by chance. Tests that give wrong passwords first make their archive again until
// none of those passes, so they never depend on that chance.
#pragma once

#include "ZipTestSupport.h"
#include "zip/ZACrypt.h"
#include "zip/ZARecords.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace ziptest {

// True when a password passes the check byte of some encrypted entry of the archive.
inline bool PassesSomeCheckByte(const std::string& archive, std::string_view password) {
    const std::string bytes = ReadFile(archive);
    // The entries are found through the central directory, whose end record closes the file.
    const auto end = bytes.rfind(std::string("PK\x05\x06", 4));
    if (end == std::string::npos)
        return false;
    zip::RecordReader endRecord(bytes.data() + end, 22);
    const zip::TEndOfCentralDir e = zip::TEndOfCentralDir::Read(endRecord);
    std::size_t at = e.CentralDirOffset;
    for (int i = 0; i < e.TotalEntries && at + 46 <= bytes.size(); ++i) {
        zip::RecordReader central(bytes.data() + at, 46);
        const zip::TZACentralHeader c = zip::ReadCentralHeader(central);
        const std::uint16_t flags = c.Flags;
        const std::uint16_t time = c.Time;
        const std::uint32_t crc = c.Crc32;
        const std::uint32_t local = c.LocalHeaderOffset;
        at += 46u + c.NameLength + c.ExtraLength + c.CommentLength;
        if (!(flags & zip::FlagEncrypted) || local + 30 > bytes.size())
            continue;
        zip::RecordReader localHeader(bytes.data() + local, 30);
        const zip::TLocalFileHeader h = zip::TLocalFileHeader::Read(localHeader);
        const std::size_t data = local + 30u + h.NameLength + h.ExtraLength;
        if (data + zip::ZipCryptHeaderSize > bytes.size())
            continue;
        zip::TZipCryptHeader header;
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(data), header.size(),
                    header.begin());
        zip::TZipCryptKeys keys;
        zip::ZipCryptDecryptHeader(password, keys, header);
        if (zip::ZipCryptPasswordFits(header, flags, time, crc))
            return true;
    }
    return false;
}

// Runs make (which writes archive) until no wrong password passes a check byte.
template <class Make>
void MakeWithoutImpostors(Make make, const std::string& archive,
                          std::initializer_list<std::string_view> wrongPasswords) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::remove(archive.c_str());
        make();
        bool clean = true;
        for (std::string_view p : wrongPasswords)
            clean = clean && !PassesSomeCheckByte(archive, p);
        if (clean)
            return;
    }
    throw std::runtime_error("no archive without an impostor password in 100 attempts");
}

} // namespace ziptest
