// CRC-32 against its published check value and zlib, and the traditional cipher against
// archives that Info-ZIP zip and 7-Zip encrypt.
#include "zip/ZACrc32.h"
#include "zip/ZACrypt.h"
#include "zip/ZAZlib.h"

#include "ZipTestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace {

using namespace zip;

std::span<std::uint8_t> Bytes(std::string& s) {
    return {reinterpret_cast<std::uint8_t*>(s.data()), s.size()};
}

TEST(Crc32, PublishedValues) {
    EXPECT_EQ(UpdateCrc32(Crc32Start, "123456789", 9), 0x340BC6D9u);
    EXPECT_EQ(~UpdateCrc32(Crc32Start, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(UpdateCrc32(0, "abc", 3), 0xCA6598D0u);
    EXPECT_EQ(Crc32Table[1], 0x77073096u);
}

TEST(Crc32, NothingToReadLeavesTheValue) {
    EXPECT_EQ(UpdateCrc32(0x12345678u, nullptr, 10), 0x12345678u);
    EXPECT_EQ(UpdateCrc32(0x12345678u, "abc", 0), 0x12345678u);
    EXPECT_EQ(UpdateCrc32(0x12345678u, "abc", -1), 0x12345678u);
    EXPECT_EQ(~UpdateCrc32(Crc32Start, "", 0), 0u); // an empty entry's CRC
    std::uint32_t crc = Crc32Start;
    UpdateCrc32("123456789", 9, crc);
    EXPECT_EQ(crc, 0x340BC6D9u);
}

// Random buffers of many sizes, at every alignment, in one piece and in pieces: the same as
// zlib and as the byte-at-a-time table update.
TEST(Crc32, AgreesWithZlibAndTheTable) {
    const std::string data = ziptest::RandomBytes(70000, 7);
    for (std::size_t size : {1u, 3u, 7u, 8u, 15u, 16u, 31u, 64u, 255u, 1000u, 4097u, 65536u}) {
        for (std::size_t offset = 0; offset < 8; ++offset) {
            const auto* p = reinterpret_cast<const std::uint8_t*>(data.data()) + offset;
            std::uint32_t bytewise = Crc32Start;
            for (std::size_t i = 0; i < size; ++i)
                bytewise = Crc32Byte(p[i], bytewise);
            std::uint32_t ours = UpdateCrc32(Crc32Start, p, static_cast<std::int64_t>(size));
            EXPECT_EQ(ours, bytewise) << size << "@" << offset;
            EXPECT_EQ(~ours, crc32(0, p, static_cast<uInt>(size))) << size << "@" << offset;
            std::uint32_t pieces = Crc32Start;
            UpdateCrc32(p, static_cast<std::int64_t>(size / 3), pieces);
            UpdateCrc32(p + size / 3, static_cast<std::int64_t>(size - size / 3), pieces);
            EXPECT_EQ(pieces, ours) << size << "@" << offset;
        }
    }
}

TEST(Cipher, EmptyPasswordKeepsInitialKeys) {
    TZipCryptKeys keys;
    ZipCryptInitKeys("", keys);
    EXPECT_EQ(keys.Key0, 0x12345678u);
    EXPECT_EQ(keys.Key1, 0x23456789u);
    EXPECT_EQ(keys.Key2, 0x34567890u);
}

TEST(Cipher, RoundTripInAnySplit) {
    const std::string plain = ziptest::RandomBytes(10000, 3);
    for (std::size_t chunk : {1u, 7u, 512u, 10000u}) {
        std::string data = plain;
        TZipCryptKeys enc;
        TZipCryptHeader header = ZipCryptEncryptHeader("pass", enc, 0, 0x1234, 0xCAFEBABEu);
        for (std::size_t at = 0; at < data.size(); at += chunk)
            ZipCryptEncryptRange(static_cast<std::int64_t>(std::min(chunk, data.size() - at)),
                                 static_cast<std::int64_t>(at), Bytes(data), enc);
        EXPECT_NE(data, plain);

        TZipCryptKeys dec;
        ZipCryptDecryptHeader("pass", dec, header);
        EXPECT_TRUE(ZipCryptPasswordFits(header, 0, 0x1234, 0xCAFEBABEu));
        EXPECT_EQ(header[10], 0xFE);
        for (std::size_t at = 0; at < data.size(); at += chunk)
            ZipCryptDecryptBuffer(Bytes(data).subspan(at, std::min(chunk, data.size() - at)), dec);
        EXPECT_EQ(data, plain) << "chunk " << chunk;
    }
}

TEST(Cipher, CheckByteFollowsTheDataDescriptorFlag) {
    const std::uint16_t time = 0xAB00;
    const std::uint32_t crc = 0xCD000000u;
    TZipCryptKeys keys;
    TZipCryptHeader withDescriptor =
        ZipCryptEncryptHeader("pw", keys, FlagDataDescriptor, time, crc);
    ZipCryptDecryptHeader("pw", keys, withDescriptor);
    EXPECT_EQ(withDescriptor[11], 0xAB);
    EXPECT_TRUE(ZipCryptPasswordFits(withDescriptor, FlagDataDescriptor, time, crc));

    // With bit 3 set, a header that matches the CRC's high byte but not the time's fails.
    TZipCryptHeader crcOnly = ZipCryptEncryptHeader("pw", keys, 0, time, crc);
    ZipCryptDecryptHeader("pw", keys, crcOnly);
    EXPECT_EQ(crcOnly[11], 0xCD);
    EXPECT_FALSE(ZipCryptPasswordFits(crcOnly, FlagDataDescriptor, time, crc));
}

TEST(Cipher, HeadersDifferEachTime) {
    TZipCryptKeys keys;
    TZipCryptHeader a = ZipCryptEncryptHeader("pw", keys, 0, 0, 0);
    TZipCryptHeader b = ZipCryptEncryptHeader("pw", keys, 0, 0, 0);
    EXPECT_NE(a, b);
}

TEST(Cipher, RangeOutsideTheBufferIsRefused) {
    std::string data(10, 'x');
    TZipCryptKeys keys;
    ZipCryptEncryptRange(0, 50, Bytes(data), keys); // nothing to do
    EXPECT_THROW(ZipCryptEncryptRange(5, 6, Bytes(data), keys), std::out_of_range);
    EXPECT_THROW(ZipCryptEncryptRange(1, -1, Bytes(data), keys), std::out_of_range);
}

// The first local header of an archive, read field by field.
struct LocalEntry {
    std::uint16_t flags = 0, method = 0, time = 0;
    std::uint32_t crc = 0;
    std::string data; // the entry's data, encryption header included
};

LocalEntry FirstEntry(const std::string& archive) {
    std::size_t at = 0;
    auto u16 = [&] {
        auto v = static_cast<std::uint16_t>(static_cast<std::uint8_t>(archive.at(at)) |
                                            static_cast<std::uint8_t>(archive.at(at + 1)) << 8);
        at += 2;
        return v;
    };
    auto u32 = [&] {
        std::uint32_t lo = u16();
        return lo | std::uint32_t{u16()} << 16;
    };
    LocalEntry e;
    EXPECT_EQ(u32(), 0x04034B50u);
    u16(); // version needed
    e.flags = u16();
    e.method = u16();
    e.time = u16();
    u16(); // date
    e.crc = u32();
    std::uint32_t compressedSize = u32(); // written back by both tools, bit 3 or not
    u32();                                // uncompressed size
    std::uint16_t nameLength = u16();
    std::uint16_t extraLength = u16();
    e.data = archive.substr(at + nameLength + extraLength, compressedSize);
    return e;
}

struct ToolCase {
    const char* name;
    const char* command; // %A archive, %F source file
    bool compressible;
    bool dataDescriptor; // the tool sets flag bit 3, so the check byte is the time's
};

// Names the row in test output instead of dumping its bytes.
void PrintTo(const ToolCase& row, std::ostream* os) {
    *os << row.name;
}

const ToolCase toolCases[] = {
    {"InfoZipStored", "zip -q -j -P Secr3t %A %F", false, true},
    {"InfoZipDeflated", "zip -q -j -P Secr3t %A %F", true, true},
    {"SevenZipStored", "7zz a -tzip -mem=ZipCrypto -pSecr3t %A %F", false, false},
    {"SevenZipDeflated", "7zz a -tzip -mem=ZipCrypto -pSecr3t %A %F", true, false},
};

class PeerArchive : public ::testing::TestWithParam<ToolCase> {};

TEST_P(PeerArchive, DecryptsTheFirstEntry) {
    const ToolCase& c = GetParam();
    ziptest::TempDir dir;
    const std::string source =
        c.compressible ? ziptest::CompressibleText(200000) : ziptest::RandomBytes(20000, 11);
    ziptest::WriteFile(dir / "source.bin", source);
    std::string command = c.command;
    command.replace(command.find("%A"), 2, dir / "a.zip");
    command.replace(command.find("%F"), 2, dir / "source.bin");
    ASSERT_TRUE(ziptest::Run(command)) << command;

    LocalEntry e = FirstEntry(ziptest::ReadFile(dir / "a.zip"));
    ASSERT_TRUE(e.flags & FlagEncrypted);
    EXPECT_EQ((e.flags & FlagDataDescriptor) != 0, c.dataDescriptor);
    ASSERT_EQ(e.method, c.compressible ? 8 : 0);
    std::uint32_t crc =
        ~UpdateCrc32(Crc32Start, source.data(), static_cast<std::int64_t>(source.size()));
    EXPECT_EQ(e.crc, crc);

    TZipCryptHeader header;
    std::copy_n(e.data.begin(), ZipCryptHeaderSize, header.begin());
    TZipCryptKeys keys;
    ZipCryptDecryptHeader("Secr3t", keys, header);
    ASSERT_TRUE(ZipCryptPasswordFits(header, e.flags, e.time, crc));

    std::string data = e.data.substr(ZipCryptHeaderSize);
    ZipCryptDecryptBuffer(Bytes(data), keys);
    std::string plain;
    if (e.method == 0) {
        plain = data.substr(0, source.size());
    } else {
        // Raw deflate, inflated as the reader does: no wrapper, so no checksum of its own.
        plain.assign(source.size(), '\0');
        TZInflater inflater(TZInflateFormat::Raw);
        std::span<const std::uint8_t> in(reinterpret_cast<const std::uint8_t*>(data.data()),
                                         data.size());
        std::span<std::uint8_t> out = Bytes(plain);
        int r = Z_OK;
        while (r == Z_OK)
            r = inflater.Inflate(in, out);
        EXPECT_EQ(r, Z_STREAM_END);
        EXPECT_EQ(inflater.TotalOut(), static_cast<std::int64_t>(source.size()));
    }
    EXPECT_EQ(plain, source);
}

INSTANTIATE_TEST_SUITE_P(Tools, PeerArchive, ::testing::ValuesIn(toolCases),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
