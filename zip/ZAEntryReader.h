// Reading one entry's data back: past the local header, chunk by chunk across volumes,
// through the traditional cipher and the inflater (or the block format), into a destination,
// with the CRC and size checks beside the codec. Deflate data is inflated raw: the entry's own
// CRC-32 and size judge it, and bytes after the end of the deflate data are not decoded.
#pragma once

#include "vcl/Streams.h"
#include "zip/ZACrypt.h"
#include "zip/ZADirArray.h"
#include "zip/ZADirectSink.h"
#include "zip/ZAEntryStarts.h"
#include "zip/ZAOptions.h"
#include "zip/ZAProgressState.h"
#include "zip/ZARecords.h"
#include "zip/ZAZlib.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zip {

class TZAEngine;

// Compressed bytes read per step at most.
constexpr std::int64_t EntryChunkSize = 1048576;
// Reads are halved for memory only down to this size.
constexpr std::int64_t EntryMinChunk = 512;
// Inflated output goes to the CRC and the destination in steps of at most this size, while it
// is still in the cache.
constexpr std::int64_t EntryOutputStep = 256 * 1024;
// A block of the block format may hold at most this much, stored or unpacked.
constexpr std::int64_t BlockMaxSize = 64 * 1024 * 1024;
constexpr std::int64_t BlockHeaderSize = 50;

// The output buffer size for a step of n compressed bytes: the entry's ratio (from the
// central 32-bit fields) times zlib's bound for n, rounded to the nearest power of two.
std::int64_t EstimateChunkOutput(std::uint32_t uncompressedSize, std::uint32_t compressedSize,
                                 std::int64_t n);
// The compressed bytes one step reads: want halved until its estimate lies below the memory
// limit or it falls under EntryMinChunk.
std::int64_t ChooseReadCount(std::int64_t want, std::int64_t memoryLimit,
                             std::uint32_t uncompressedSize, std::uint32_t compressedSize);

// What entry reading keeps from one entry to the next on an archiver: the raw inflater and the
// buffers, so that each entry neither starts a codec nor clears fresh memory.
struct TZAEntryBuffers {
    std::unique_ptr<TZInflater> Inflater;
    std::vector<std::uint8_t> Input;
    std::vector<std::uint8_t> Output;
};

// Where an entry's bytes may lie, which the reader checks them against.
struct TZAEntryBounds {
    TZASpanningMode Spanning = smNone;
    std::int32_t LastVolume = -1;         // not known
    std::optional<std::int64_t> DirStart; // where the directory starts, when there is one
    std::shared_ptr<const TZAEntryStarts> Starts;

    // The engine's, as they stand: its run's entry starts, or starts made now.
    static TZAEntryBounds Of(TZAEngine& engine);
};

// What a reader running beside the run, on a thread of its own, holds for itself: bounds
// taken before it started, a progress state no event reads, its own codec and buffers.
// Such a reader raises no event, asks for no password and opens no volume.
struct TZAEntryWorkspace {
    TZAEntryBounds Bounds;
    TZAProgressState Progress;
    TZAEntryBuffers Buffers;
};

// An entry decoded whole before its turn: its bytes, already checked against its CRC.
struct TZADecoded {
    std::vector<std::uint8_t> Bytes;
    std::uint32_t Crc = 0;
};

// The working state of one DecompressStream call.
class TZAEntryReader {
public:
    // silent: the workspace of a reader that runs beside the run; null for the run's own.
    TZAEntryReader(TZAEngine& engine, vcl::TStream* archive, vcl::TStream& dest,
                   const TDirItem& item, TZAEntryWorkspace* silent = nullptr);
    ~TZAEntryReader();
    TZAEntryReader(const TZAEntryReader&) = delete;
    TZAEntryReader& operator=(const TZAEntryReader&) = delete;

    bool Run();
    // Gives decoded's bytes to the destination as Run would have, with the same progress
    // events, without reading the archive.
    bool Replay(const TZADecoded& decoded);
    // The CRC-32 of what went to the destination so far.
    std::uint32_t Crc() const { return ~crc_; }

    std::int64_t BytesWritten() const { return written_; }
    std::int64_t BytesConsumed() const { return consumed_; }

private:
    bool InflateLoop(const TZADecoded* decoded);
    // The compressed bytes the next step reads.
    std::int64_t NextChunk() const;
    bool Verdict(bool decoded) const;
    bool AskPassword();
    bool CheckEncryptionHeader();
    bool ReadAcrossVolumes(std::uint8_t* buffer, std::int64_t count);
    bool DecodeChunk(std::uint8_t* input, std::int64_t n);
    // count bytes to the CRC and the destination; in place when they were decoded into the
    // room the direct destination gave.
    bool Emit(const std::uint8_t* data, std::int64_t count, bool inPlace = false);
    bool FireProgress();
    bool ReadBlockFormatData();

    TZAEngine& engine_;
    TZAEntryWorkspace* silent_;
    TZAEntryBounds bounds_;
    TZAProgressState& progress_;
    vcl::TStream* stream_;
    vcl::TStream& dest_;
    TZADirectSink* direct_; // dest_, when it can be decoded into
    const TDirItem& item_;
    TZACentralHeader central_;
    TLocalFileHeader local_;
    TZAVolumeNumberInfo volume_;
    bool encrypted_ = false;
    std::int64_t toRead_ = 0;   // compressed bytes of the entry
    std::int64_t expected_ = 0; // uncompressed size the entry declares
    std::int64_t consumed_ = 0;
    std::int64_t written_ = 0;
    std::uint32_t crc_ = 0xFFFFFFFFu;
    TZipCryptKeys keys_;
    std::int64_t memoryLimit_ = 0;

    TZAEntryBuffers& buffers_;
    bool finished_ = false; // the deflate data ended; later bytes of the entry are not decoded
};

} // namespace zip
