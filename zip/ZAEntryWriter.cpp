#include "zip/ZAEntryWriter.h"

#include "zip/ZACrc32.h"
#include "zip/ZAEngine.h"
#include "zip/ZAExcept.h"

#include <algorithm>
#include <span>
#include <zlib.h>

namespace zip {

std::uint16_t ShareModeToFileMode(TZAFileShareMode ShareMode) {
    switch (ShareMode) {
    case smShareExclusive:
        return 0x10;
    case smShareDenyWrite:
        return 0x20;
    case smShareDenyRead:
        return 0x30;
    case smShareDenyNone:
        return 0x40;
    default:
        return 0;
    }
}

bool MayPassZip64Limit(std::int64_t size, bool encrypted) {
    const std::int64_t most =
        size + size / 256 + 1024 + (encrypted ? std::int64_t{ZipCryptHeaderSize} : 0);
    return most >= std::int64_t{Zip64Marker32};
}

std::int64_t DeflateOutputBound(std::int64_t n) {
    return (n + n / 10 + 12 + 255) & ~std::int64_t{255};
}

TZAEntryWriter::TZAEntryWriter(TZAEngine& engine, vcl::TStream& source, vcl::TStream& output,
                               TDirItem& entry)
    : engine_(engine), progress_(engine.Progress), source_(source), output_(output), entry_(entry),
      header_(entry.CentralHeader) {
}

bool TZAEntryWriter::Run() {
    header_ = entry_.CentralHeader;
    source_.SetPosition(0);
    size_ = source_.Size();
    read_ = 0;
    written_ = 0;
    crc_ = Crc32Start;
    blockSize_ = BufferSizeForMode(entry_.CompressionMode);
    encrypted_ = !entry_.Source().Password.empty();

    if (engine_.ZipFormat())
        DeflateLoop();

    if (read_ == size_) {
        const bool always = engine_.Zip64Mode() == zmAlways;
        if (written_ >= std::int64_t{Zip64Marker32} || always) {
            entry_.Zip64 = true;
            header_.CompressedSize = Zip64Marker32;
            entry_.CompressedSize = static_cast<std::uint64_t>(written_);
        } else {
            header_.CompressedSize = static_cast<std::uint32_t>(written_);
        }
        if (size_ >= std::int64_t{Zip64Marker32} || always) {
            entry_.Zip64 = true;
            header_.UncompressedSize = Zip64Marker32;
            entry_.UncompressedSize = static_cast<std::uint64_t>(size_);
        } else {
            header_.UncompressedSize = static_cast<std::uint32_t>(size_);
        }
        header_.Crc32 = ~crc_;
        if (entry_.Zip64 && engine_.Zip64Mode() == zmDisabled)
            throw EZAException::CreateFmt(zeZip64DisabledCompress, {entry_.Source().SourceFileName},
                                          engine_.Component());
        if (size_ == 0 && engine_.ZipFormat())
            header_.Method = MethodStored;
        entry_.CentralHeader = header_;
        entry_.ResolveZip64();
        return true;
    }
    if (progress_.Cancel)
        return false; // the entry keeps the header it had
    throw EZAException::CreateFmt(zeCompressedSize, {size_, read_}, engine_.Component());
}

bool TZAEntryWriter::FireProgress() {
    if (!progress_.Enabled)
        return true;
    engine_.DoFileProgress(entry_.Source().SourceFileName, progress_.FilePercent(),
                           entry_.Operation, ppProcess, progress_.Cancel);
    // Checked between the two: a dispatcher without a handler clears the flag again.
    if (progress_.Cancel)
        return false;
    engine_.DoOverallProgress(progress_.OverallPercent(), entry_.Operation, ppProcess,
                              progress_.Cancel);
    return !progress_.Cancel;
}

void TZAEntryWriter::DeflateLoop() {
    // A small source needs no block-sized buffer.
    input_.resize(static_cast<std::size_t>(std::clamp<std::int64_t>(size_, 1, blockSize_)));
    deflater_ = &engine_.Deflater(entry_.CompressionMode);
    if (encrypted_)
        WriteEncryptionHeader();
    progress_.FileBytesTotal = static_cast<long double>(size_);

    bool cancelled = false;
    while (read_ < size_) {
        progress_.FileBytesDone = static_cast<long double>(read_);
        if (!FireProgress()) {
            cancelled = true;
            break;
        }
        const std::int64_t n = std::min(blockSize_, size_ - read_);
        if (source_.Read(input_.data(), n) < n)
            break;
        try {
            if (!encrypted_)
                UpdateCrc32(input_.data(), n, crc_);
            DeflateChunk(n);
            if (encrypted_)
                ZipCryptEncryptRange(outLength_, outStart_, out_, keys_);
        } catch (...) {
            deflater_ = nullptr;
            input_ = {};
            out_ = {};
            if (deflateUsed_)
                throw ECompressionError();
            break; // nothing compressed yet: the short count reports it
        }
        read_ += n;
        // The last block carries zlib's trailer, which raw deflate data has no place for.
        if (Deflated() && read_ == size_)
            outLength_ -= 4;
        const std::int64_t put = output_.Write(out_.data() + outStart_, outLength_);
        out_ = {};
        if (put < outLength_) {
            read_ -= n;
            break;
        }
        written_ += outLength_;
    }
    deflater_ = nullptr;
    input_ = {};
    // zlib refuses to end a stream that has begun but not finished.
    if (!cancelled && read_ < size_ && deflateUsed_)
        throw ECompressionError();
}

void TZAEntryWriter::DeflateChunk(std::int64_t n) {
    outStart_ = 0;
    if (!Deflated()) {
        out_.assign(input_.begin(), input_.begin() + n);
        outLength_ = n;
        return;
    }
    out_.resize(static_cast<std::size_t>(DeflateOutputBound(n)));
    const bool last = size_ - read_ == n;
    const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
    std::span<const std::uint8_t> in(input_.data(), static_cast<std::size_t>(n));
    const std::int64_t before = deflater_->TotalOut();
    deflateUsed_ = true;
    for (;;) {
        const auto produced = static_cast<std::size_t>(deflater_->TotalOut() - before);
        std::span<std::uint8_t> out(out_.data() + produced, out_.size() - produced);
        const int r = deflater_->Deflate(in, out, flush);
        // One call is all the bound ever needs; should zlib still hold output back, it is
        // fetched with more room rather than lost.
        if (in.empty() && (last ? r == Z_STREAM_END : !out.empty()))
            break;
        out_.resize(out_.size() * 2);
    }
    outLength_ = deflater_->TotalOut() - before;
    if (read_ == 0) {
        // The first block begins with zlib's two header bytes.
        outStart_ = 2;
        outLength_ -= 2;
    }
}

void TZAEntryWriter::WriteEncryptionHeader() {
    // The header's check byte needs the CRC of the whole source before any data goes out.
    while (read_ < size_) {
        const std::int64_t m = std::min(blockSize_, size_ - read_);
        const std::int64_t got = source_.Read(input_.data(), m);
        UpdateCrc32(input_.data(), got, crc_);
        read_ += std::max<std::int64_t>(got, 0);
        if (got < m)
            break;
    }
    source_.SetPosition(0);
    written_ += static_cast<std::int64_t>(ZipCryptHeaderSize);
    const TZipCryptHeader header =
        ZipCryptEncryptHeader(entry_.Source().Password, keys_, header_.Flags, header_.Time, ~crc_);
    output_.WriteBuffer(header.data(), static_cast<std::int64_t>(header.size()));
    read_ = 0;
}

} // namespace zip
