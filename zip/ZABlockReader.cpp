// The block format: a 50-byte header, then blocks that are each compressed (and, in the
// format, enciphered) on their own, each behind its 4-byte stored length.
#include "zip/ZACrc32.h"
#include "zip/ZAEngine.h"
#include "zip/ZAEntryReader.h"
#include "zip/ZAExcept.h"
#include "zip/ZAZlib.h"

#include <array>
#include <vector>

namespace zip {

namespace {

struct TBlockHeader {
    std::uint32_t BlockSize = 0;
    std::uint32_t TotalSize = 0;
    std::int32_t BlockCount = 0;
    std::uint8_t CompressionId = 0;
    std::uint8_t Compressed = 0;
    std::uint16_t CipherId = 0;
    std::uint32_t CheckCrc = 0;
    std::array<std::uint8_t, 16> CheckBlock{};

    static TBlockHeader Read(RecordReader& r) {
        TBlockHeader h;
        h.BlockSize = r.u32();
        r.skip(4);
        h.TotalSize = r.u32();
        r.skip(4);
        h.BlockCount = static_cast<std::int32_t>(r.u32());
        h.CompressionId = r.u8();
        h.Compressed = r.u8();
        h.CipherId = r.u16();
        h.CheckCrc = r.u32();
        for (auto& b : h.CheckBlock)
            b = r.u8();
        r.skip(6);
        return h;
    }
};

constexpr std::uint16_t NoCipher = 0xFFFF;

// The header describes the entry it stands in: its total is the entry's size, its blocks
// cover that size exactly, and their length fields fit the entry's compressed bytes. Any
// other data (bzip2, LZMA, AES...) is no block format and is not read as one.
bool Consistent(const TBlockHeader& h, std::int64_t expected, std::int64_t packed) {
    if (h.BlockCount < 0 || h.TotalSize != static_cast<std::uint32_t>(expected))
        return false;
    const auto total = static_cast<std::uint64_t>(expected);
    const auto count = static_cast<std::uint64_t>(h.BlockCount);
    if (count == 0)
        return total == 0;
    if (h.BlockSize == 0 || (count - 1) * h.BlockSize >= total || count * h.BlockSize < total)
        return false;
    return count <= static_cast<std::uint64_t>(packed - BlockHeaderSize) / 4;
}

// The engine carries no block cipher: deciphering leaves the bytes as they are.
void DecipherBlock(std::uint8_t /*cipherId*/, std::uint8_t* /*data*/, std::int64_t /*length*/,
                   const std::string& /*password*/) {
}

} // namespace

bool TZAEntryReader::ReadBlockFormatData() {
    // Every read stays inside the entry's declared compressed size.
    auto take = [this](std::uint8_t* buffer, std::int64_t count) {
        return count <= toRead_ - consumed_ && ReadAcrossVolumes(buffer, count);
    };

    std::array<std::uint8_t, BlockHeaderSize> raw{};
    if (toRead_ < BlockHeaderSize)
        throw EZAException(zeDeflate64);
    if (!take(raw.data(), BlockHeaderSize))
        return false;
    consumed_ += BlockHeaderSize;
    RecordReader r(raw.data(), raw.size());
    const TBlockHeader header = TBlockHeader::Read(r);
    if (!Consistent(header, expected_, toRead_))
        throw EZAException(zeDeflate64);

    encrypted_ = header.CipherId != NoCipher;
    if (encrypted_) {
        progress_.SkipFile = false;
        try {
            auto fits = [&] {
                auto check = header.CheckBlock;
                DecipherBlock(static_cast<std::uint8_t>(header.CipherId), check.data(),
                              static_cast<std::int64_t>(check.size()), engine_.Password());
                return ~UpdateCrc32(Crc32Start, check.data(), 16) == header.CheckCrc;
            };
            if (!fits()) {
                // Without a cipher no password changes the outcome, so one answer settles it:
                // skipping, or a failed entry.
                engine_.DoPassword(item_.StoredName.str(), engine_.Password(), progress_.SkipFile);
                if (progress_.SkipFile || !fits())
                    return false;
            }
        } catch (...) {
            return false;
        }
        crc_ = Crc32Start;
    }
    progress_.FileBytesTotal = static_cast<long double>(toRead_);
    if (header.BlockCount <= 0)
        return true;

    const std::int64_t total =
        central_.UncompressedSize == Zip64Marker32
            ? static_cast<std::int64_t>(std::min<std::uint64_t>(item_.UncompressedSize, INT64_MAX))
            : std::int64_t{header.TotalSize};
    std::vector<std::uint8_t> data;
    for (std::int32_t block = 0; block < header.BlockCount; ++block) {
        progress_.FileBytesDone = static_cast<long double>(consumed_);
        if (!FireProgress())
            return true;
        std::array<std::uint8_t, 4> lengthBytes{};
        if (!take(lengthBytes.data(), 4))
            return false;
        consumed_ += 4;
        RecordReader lr(lengthBytes.data(), lengthBytes.size());
        const std::int64_t length = lr.u32();
        const std::int64_t wanted =
            block == header.BlockCount - 1 ? total - written_ : std::int64_t{header.BlockSize};
        // Sizes from the archive size nothing until they are known to fit the entry.
        if (length > BlockMaxSize || length > toRead_ - consumed_ || wanted < 0 ||
            wanted > BlockMaxSize || wanted > expected_ - written_)
            return false;
        data.resize(static_cast<std::size_t>(length));
        if (!take(data.data(), length))
            return false;
        try {
            if (encrypted_)
                DecipherBlock(static_cast<std::uint8_t>(header.CipherId), data.data(), length,
                              engine_.Password());
            if (header.Compressed == 0) {
                if (length < wanted)
                    return false;
                if (!Emit(data.data(), wanted))
                    return false;
            } else {
                TZABlock out;
                std::int32_t outSize = static_cast<std::int32_t>(wanted);
                if (!TryInflateBuffer(header.CompressionId, data.data(),
                                      static_cast<std::int32_t>(length), out, outSize) ||
                    outSize < wanted)
                    return false;
                if (!Emit(out.get(), wanted))
                    return false;
            }
        } catch (...) {
            return false;
        }
        consumed_ += length;
    }
    return true;
}

} // namespace zip
