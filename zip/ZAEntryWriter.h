// Writing one entry's data: the source read block by block, deflated (raw, one deflate call
// per block with a sync flush, finished on the last) or stored, optionally behind the
// traditional cipher's header and encrypted, with the CRC and sizes put into the entry.
#pragma once

#include "vcl/Streams.h"
#include "zip/ZACrypt.h"
#include "zip/ZADirArray.h"
#include "zip/ZAProgressState.h"
#include "zip/ZARecords.h"
#include "zip/ZATypes.h"
#include "zip/ZAZlib.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zip {

class TZAEngine;

// The sharing flags a source file is opened with for reading.
std::uint16_t ShareModeToFileMode(TZAFileShareMode ShareMode);

// Whether the data written for a source of size bytes may pass the Zip64 limit although the
// source itself does not: stored data behind the cipher's 12-byte header, or deflate's worst
// case, which adds a few bytes per block (a 256th covers it with room to spare).
bool MayPassZip64Limit(std::int64_t size, bool encrypted);

// The output room one deflate call gets for n input bytes: a tenth more plus 12, rounded up
// to 256.
std::int64_t DeflateOutputBound(std::int64_t n);

// The working state of one CompressStream call.
class TZAEntryWriter {
public:
    TZAEntryWriter(TZAEngine& engine, vcl::TStream& source, vcl::TStream& output, TDirItem& entry);
    TZAEntryWriter(const TZAEntryWriter&) = delete;
    TZAEntryWriter& operator=(const TZAEntryWriter&) = delete;

    // True when all of the source was written; False when a progress event cancelled.
    bool Run();

    std::int64_t BytesRead() const { return read_; }
    std::int64_t BytesWritten() const { return written_; }

private:
    void DeflateLoop();
    void DeflateChunk(std::int64_t n);
    void WriteEncryptionHeader();
    bool FireProgress();
    bool Deflated() const { return header_.Method != MethodStored; }

    TZAEngine& engine_;
    TZAProgressState& progress_;
    vcl::TStream& source_;
    vcl::TStream& output_;
    TDirItem& entry_;
    TZACentralHeader header_;
    std::int64_t size_ = 0;
    std::int64_t read_ = 0;
    std::int64_t written_ = 0;
    std::uint32_t crc_ = 0xFFFFFFFFu;
    std::int64_t blockSize_ = 0;
    bool encrypted_ = false;
    bool deflateUsed_ = false;
    TZipCryptKeys keys_;

    TZDeflater* deflater_ = nullptr; // the engine's, for this entry
    std::vector<std::uint8_t> input_;
    std::vector<std::uint8_t> out_;
    std::int64_t outStart_ = 0;
    std::int64_t outLength_ = 0;
};

} // namespace zip
