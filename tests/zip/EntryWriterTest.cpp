// Entry data writing: raw deflate at every mode, stored data, the cipher's header, Zip64 limits,
// and sources that break off (progress, cancel, Zip64 marks and the empty encrypted entry are
// checked on whole archives in ArchiveWriterTest). These check the data writer's own output
// (raw deflate blocks, the cipher header, 4 GiB of zeros into a counting sink), so they call
// the component's CompressStream with entries made here rather than go through a whole
// update batch, whose archives hide those bytes behind headers and would need 4 GiB files.
#include "ArchiverAccess.h"
#include "ZipTestSupport.h"
#include "zip/ZACrc32.h"
#include "zip/ZACrypt.h"
#include "zip/ZAEntryWriter.h"
#include "zip/ZAExcept.h"
#include "zip/ZAZlib.h"
#include "zip/ZipArchiver.h"

#include <cstring>
#include <gtest/gtest.h>
#include <zlib.h>

using namespace zip;
namespace {

// A new entry as the marking steps make it: a fixed date, the archive bit, deflate at the
// modes above 0.
TDirItem MakeEntry(const std::string& name, std::uint8_t mode, const std::string& password = {}) {
    TDirItem e;
    e.StoredName = name;
    e.NewData = true;
    e.EditSource().Password = password;
    e.EditSource().SourceFileName = name;
    e.CompressionMode = mode;
    e.Operation = poAdd;
    TZACentralHeader& h = e.CentralHeader;
    h.Signature = 0x02014B50;
    h.VersionMadeBy = h.VersionNeeded = 0x14;
    h.Flags = password.empty() ? 0 : 1;
    h.Method = mode > 0 ? 8 : 0;
    h.Time = (12 << 11) | (34 << 5) | 28;
    h.Date = (44 << 9) | (5 << 5) | 6; // 2024-05-06
    h.Crc32 = 0xFFFFFFFF;
    h.NameLength = static_cast<std::uint16_t>(name.size());
    h.ExternalAttributes = 0x20;
    return e;
}

std::uint32_t Crc(const std::string& data) {
    return ~UpdateCrc32(Crc32Start, data.data(), static_cast<std::int64_t>(data.size()));
}

std::string Bytes(vcl::TMemoryStream& s) {
    return std::string(reinterpret_cast<const char*>(s.Memory()),
                       static_cast<std::size_t>(s.Size()));
}

// Raw deflate data (no zlib header or trailer) back to bytes; "" with ok false on failure.
std::string RawInflate(const std::string& data, bool& ok) {
    z_stream z{};
    inflateInit2(&z, -15);
    std::string out;
    std::string buffer(1 << 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    int r = Z_OK;
    while (r == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buffer.data());
        z.avail_out = static_cast<uInt>(buffer.size());
        r = inflate(&z, Z_NO_FLUSH);
        out.append(buffer.data(), buffer.size() - z.avail_out);
        if (r == Z_BUF_ERROR && z.avail_in == 0)
            break;
    }
    // The whole output must be used: nothing may follow the final block.
    ok = r == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return out;
}

struct EntryWriter : ::testing::Test {
    vcl::TComponent owner{nullptr};
    TZipArchiver* a = vcl::Create<TZipArchiver>(&owner);
    EntryWriter() { a->SetName("ZipArchiver1"); }
    // Writes data for a new entry of the mode into out; returns the entry.
    TDirItem Write(const std::string& data, std::uint8_t mode, vcl::TMemoryStream& out,
                   const std::string& password = {}) {
        TDirItem e = MakeEntry("x.bin", mode, password);
        vcl::TMemoryStream source;
        source.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
        EXPECT_TRUE(ziptest::Engine(*a).CompressStream(source, out, e));
        return e;
    }
};

struct ModeCase {
    const char* name;
    std::uint8_t mode;
    std::size_t size;
    bool random;
};

class EntryWriterModes : public EntryWriter, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(EntryWriterModes, WritesRawDeflateOrStoredDataWithItsCrcAndSizes) {
    const ModeCase& c = GetParam();
    std::string data =
        c.random ? ziptest::RandomBytes(c.size, 7) : ziptest::CompressibleText(c.size);
    vcl::TMemoryStream out;
    TDirItem e = Write(data, c.mode, out);
    const TZACentralHeader& h = e.CentralHeader;
    EXPECT_EQ(h.Crc32, Crc(data));
    EXPECT_EQ(h.UncompressedSize, data.size());
    EXPECT_EQ(h.CompressedSize, out.Size());
    if (data.empty() || c.mode == 0) {
        EXPECT_EQ(h.Method, MethodStored);
        EXPECT_EQ(Bytes(out), data);
    } else {
        EXPECT_EQ(h.Method, MethodDeflated);
        bool ok = false;
        EXPECT_EQ(RawInflate(Bytes(out), ok), data);
        EXPECT_TRUE(ok);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EntryWriterModes,
    ::testing::Values(ModeCase{"empty_deflated", 6, 0, false},
                      ModeCase{"empty_stored", 0, 0, false},
                      ModeCase{"stored_text", 0, 100000, false},
                      ModeCase{"stored_two_blocks", 0, 1048576 + 10, true},
                      ModeCase{"mode1_three_blocks", 1, 2 * 524288 + 4000, false},
                      ModeCase{"mode2", 2, 70000, false}, ModeCase{"mode3", 3, 70000, false},
                      ModeCase{"mode4", 4, 70000, false}, ModeCase{"mode5", 5, 70000, false},
                      ModeCase{"mode6_random", 6, 300000, true}, ModeCase{"mode7", 7, 70000, false},
                      ModeCase{"mode8", 8, 70000, false},
                      ModeCase{"mode9_two_blocks", 9, 1572864 + 1, false},
                      ModeCase{"one_byte", 9, 1, false}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(EntryWriter, BlocksAfterTheFirstAreSyncFlushedAndTheLastFinished) {
    // Three blocks at mode 1: the first two end in the empty stored block of a sync flush.
    std::string data = ziptest::CompressibleText(2 * 524288 + 100);
    vcl::TMemoryStream out;
    Write(data, 1, out);
    std::string raw = Bytes(out);
    std::size_t marks = 0;
    for (std::size_t at = raw.find(std::string("\0\0\xFF\xFF", 4)); at != std::string::npos;
         at = raw.find(std::string("\0\0\xFF\xFF", 4), at + 1))
        ++marks;
    EXPECT_GE(marks, 2u);
    // One block only: no sync mark, and the zlib trailer is gone (the data ends in the final
    // block, which the strict inflate above would notice).
    vcl::TMemoryStream single;
    Write(ziptest::CompressibleText(1000), 1, single);
    EXPECT_EQ(Bytes(single).find(std::string("\0\0\xFF\xFF", 4)), std::string::npos);
}

TEST_F(EntryWriter, StoredMethodAtADeflateModeKeepsEveryByte) {
    // The entry is stored (a no-compression mask, say) while the mode is 6: the last block
    // must not lose four bytes as if it carried zlib's trailer.
    std::string data = ziptest::RandomBytes(5000, 3);
    TDirItem e = MakeEntry("x.bin", 6);
    e.CentralHeader.Method = MethodStored;
    vcl::TMemoryStream source, out;
    source.WriteBuffer(data.data(), 5000);
    ASSERT_TRUE(ziptest::Engine(*a).CompressStream(source, out, e));
    EXPECT_EQ(Bytes(out), data);
    EXPECT_EQ(e.CentralHeader.CompressedSize, 5000u);
}

TEST_F(EntryWriter, EncryptedEntryHasAHeaderWhoseLastByteIsTheCrcHighByte) {
    std::string data = ziptest::CompressibleText(200000);
    for (std::uint8_t mode : {0, 6}) {
        vcl::TMemoryStream out;
        TDirItem e = Write(data, mode, out, "secret");
        EXPECT_EQ(e.CentralHeader.CompressedSize, out.Size());
        TZipCryptHeader header;
        std::copy_n(out.Memory(), 12, header.begin());
        TZipCryptKeys keys;
        ZipCryptDecryptHeader("secret", keys, header);
        EXPECT_EQ(header[11], Crc(data) >> 24);
        EXPECT_EQ(header[10], (Crc(data) >> 16) & 0xFF);
        std::string rest(reinterpret_cast<const char*>(out.Memory()) + 12,
                         static_cast<std::size_t>(out.Size() - 12));
        ZipCryptDecryptBuffer(std::span(reinterpret_cast<std::uint8_t*>(rest.data()), rest.size()),
                              keys);
        bool ok = true;
        EXPECT_EQ(mode == 0 ? rest : RawInflate(rest, ok), data);
        EXPECT_TRUE(ok);
    }
}

// A source of zeros that claims size bytes without holding them, and a sink that only counts.
class ZeroSource : public vcl::TStream {
public:
    ZeroSource(std::int64_t size, std::int64_t breakAt = -1) : size_(size), breakAt_(breakAt) {}
    std::int64_t Read(void* buffer, std::int64_t count) override {
        std::int64_t end = breakAt_ >= 0 ? breakAt_ : size_;
        std::int64_t n = std::max<std::int64_t>(std::min(count, end - pos_), 0);
        std::memset(buffer, 0, static_cast<std::size_t>(n));
        pos_ += n;
        return n;
    }
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, vcl::TSeekOrigin origin) override {
        pos_ = origin == vcl::TSeekOrigin::soBeginning ? offset
               : origin == vcl::TSeekOrigin::soCurrent ? pos_ + offset
                                                       : size_ + offset;
        return pos_;
    }
    std::int64_t Size() override { return size_; }
    void SetSize(std::int64_t) override {}

private:
    std::int64_t size_;
    std::int64_t breakAt_;
    std::int64_t pos_ = 0;
};

class CountingSink : public vcl::TStream {
public:
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void*, std::int64_t count) override {
        std::int64_t n = limit_ >= 0 ? std::min(count, limit_ - size_) : count;
        size_ += n;
        return n;
    }
    std::int64_t Seek(std::int64_t, vcl::TSeekOrigin) override { return size_; }
    std::int64_t Size() override { return size_; }
    void SetSize(std::int64_t) override {}
    std::int64_t limit_ = -1;

private:
    std::int64_t size_ = 0;
};

// Where the written data may pass the Zip64 limit though the source does not.
TEST(EntryWriterLimits, DataThatMayPassTheZip64LimitIsKnownBeforeItIsWritten) {
    const std::int64_t limit = 0xFFFFFFFF;
    struct Case {
        const char* what;
        std::int64_t size;
        bool encrypted;
        bool may;
    } cases[] = {
        {"small", 1000, true, false},
        {"3.9 GB", 3900000000, true, false},
        {"stored and encrypted just under the limit", limit - 6, true, true},
        {"just under the limit, deflate's worst case", limit - 100, false, true},
        {"at the limit", limit, false, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MayPassZip64Limit(c.size, c.encrypted), c.may) << c.what;
}

TEST_F(EntryWriter, FourGibibytesWithoutZip64AreRefusedAndTheHeaderStaysAsItWas) {
    // Stored, so the run is a copy: 64-bit counts past 4 GiB, then zeZip64DisabledCompress.
    const std::int64_t size = (std::int64_t{1} << 32) + 5;
    ZeroSource source(size);
    CountingSink sink;
    TDirItem e = MakeEntry("big.bin", 0);
    const TZACentralHeader before = e.CentralHeader;
    try {
        ziptest::Engine(*a).CompressStream(source, sink, e);
        FAIL() << "no error";
    } catch (const EZAException& error) {
        EXPECT_EQ(error.NativeError(), zeZip64DisabledCompress);
        EXPECT_NE(std::string(error.Message()).find("big.bin"), std::string::npos);
    }
    EXPECT_EQ(sink.Size(), size);
    EXPECT_EQ(e.CentralHeader.UncompressedSize, before.UncompressedSize);
    EXPECT_EQ(e.CentralHeader.Crc32, before.Crc32);
}

TEST_F(EntryWriter, ASourceThatEndsEarlyIsError34WhenStoredAndACompressionErrorAfterABlock) {
    {
        ZeroSource source(3000000, 1500000);
        CountingSink sink;
        TDirItem e = MakeEntry("short.bin", 0);
        try {
            ziptest::Engine(*a).CompressStream(source, sink, e);
            FAIL() << "no error";
        } catch (const EZAException& error) {
            EXPECT_EQ(error.NativeError(), zeCompressedSize);
            EXPECT_NE(std::string(error.Message()).find("rfs.size = 3000000, count = 1048576"),
                      std::string::npos)
                << error.Message();
        }
    }
    {
        ZeroSource source(3000000, 1500000);
        CountingSink sink;
        TDirItem e = MakeEntry("short.bin", 6);
        EXPECT_THROW(ziptest::Engine(*a).CompressStream(source, sink, e), ECompressionError);
    }
    {
        // The output takes less than offered before anything was compressed: zeCompressedSize.
        ZeroSource source(1000);
        CountingSink sink;
        sink.limit_ = 10;
        TDirItem e = MakeEntry("full.bin", 0);
        EXPECT_THROW(ziptest::Engine(*a).CompressStream(source, sink, e), EZAException);
    }
}

TEST(ShareModes, MapToTheSharingFlags) {
    EXPECT_EQ(ShareModeToFileMode(smShareCompat), 0);
    EXPECT_EQ(ShareModeToFileMode(smShareExclusive), 0x10);
    EXPECT_EQ(ShareModeToFileMode(smShareDenyWrite), 0x20);
    EXPECT_EQ(ShareModeToFileMode(smShareDenyRead), 0x30);
    EXPECT_EQ(ShareModeToFileMode(smShareDenyNone), 0x40);
    EXPECT_EQ(DeflateOutputBound(1), 256);
    EXPECT_EQ(DeflateOutputBound(524288), (524288 + 52428 + 12 + 255) & ~255);
}

} // namespace
