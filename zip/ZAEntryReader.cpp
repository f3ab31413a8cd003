#include "zip/ZAEntryReader.h"

#include "platform/Memory.h"
#include "zip/ZACrc32.h"
#include "zip/ZADirManager.h"
#include "zip/ZAEngine.h"
#include "zip/ZAEntryStarts.h"
#include "zip/ZAExcept.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <zlib.h>

namespace zip {

namespace {

// Sizes come from unsigned 64-bit fields; past the signed range they mean "more than the
// stream can hold", which the reads then settle.
std::int64_t Signed(std::uint64_t v) {
    return v > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(v);
}

} // namespace

std::int64_t EstimateChunkOutput(std::uint32_t uncompressedSize, std::uint32_t compressedSize,
                                 std::int64_t n) {
    // An entry with no compressed bytes reads nothing; dividing by 1 keeps the figure defined.
    const std::uint64_t ratio = std::uint64_t{uncompressedSize} / std::max(compressedSize, 1u) + 1;
    const long double raw =
        static_cast<long double>(ratio) *
        static_cast<long double>(static_cast<std::uint64_t>((n + n / 2 + 267)) & ~0xFFull);
    if (raw < 1)
        return 1;
    const long double exponent = std::round(std::log2(raw));
    if (exponent >= 62)
        return std::int64_t{1} << 62;
    return std::int64_t{1} << static_cast<int>(exponent);
}

std::int64_t ChooseReadCount(std::int64_t want, std::int64_t memoryLimit,
                             std::uint32_t uncompressedSize, std::uint32_t compressedSize) {
    std::int64_t n = want;
    while (n >= EntryMinChunk &&
           EstimateChunkOutput(uncompressedSize, compressedSize, n) >= memoryLimit)
        n /= 2;
    return n;
}

TZAEntryBounds TZAEntryBounds::Of(TZAEngine& engine) {
    TZAEntryBounds bounds;
    bounds.Spanning = engine.SpanningMode();
    if (auto* dir = engine.DirManager()) {
        bounds.LastVolume = dir->LastVolume();
        bounds.DirStart = dir->DirStart;
        bounds.Starts = engine.EntryStarts();
        if (!bounds.Starts)
            bounds.Starts = std::make_shared<TZAEntryStarts>(dir->Directory);
    }
    return bounds;
}

TZAEntryReader::TZAEntryReader(TZAEngine& engine, vcl::TStream* archive, vcl::TStream& dest,
                               const TDirItem& item, TZAEntryWorkspace* silent)
    : engine_(engine), silent_(silent), progress_(silent ? silent->Progress : engine.Progress),
      stream_(archive), dest_(dest), direct_(dynamic_cast<TZADirectSink*>(&dest)), item_(item),
      central_(item.CentralHeader), buffers_(silent ? silent->Buffers : engine.EntryBuffers()) {
}

TZAEntryReader::~TZAEntryReader() = default;

bool TZAEntryReader::Run() {
    // A silent reader runs beside the run: it touches nothing of the engine's, and what it
    // raises is only read as a failure.
    bounds_ = silent_ ? silent_->Bounds : TZAEntryBounds::Of(engine_);
    const vcl::TComponent* owner = silent_ ? nullptr : engine_.Component();
    const std::int32_t first = EntryVolume(item_);
    volume_.LastNumber = bounds_.LastVolume;
    // A volume after the last one cannot hold the entry.
    if (bounds_.Spanning != smNone && volume_.LastNumber >= 0 && first > volume_.LastNumber)
        throw vcl::EReadError();
    volume_.SetNumber(first);

    const std::int64_t headerAt = stream_->Position();
    std::array<std::uint8_t, TLocalFileHeader::Size> raw{};
    stream_->ReadBuffer(raw.data(), static_cast<std::int64_t>(raw.size()));
    RecordReader r(raw.data(), raw.size());
    local_ = TLocalFileHeader::Read(r);
    stream_->Seek(std::int64_t{local_.NameLength} + local_.ExtraLength,
                  vcl::TSeekOrigin::soCurrent);

    encrypted_ = (central_.Flags & FlagEncrypted) != 0;
    toRead_ = Signed(item_.CompressedSize);
    expected_ = Signed(item_.UncompressedSize);
    const std::int64_t dataAt = stream_->Position();
    if (bounds_.Spanning == smNone) {
        // One file holds everything: data the file does not hold is a read past its end, and
        // data running into the directory are no entry's own.
        const std::int64_t size = stream_->Size();
        if (dataAt > size || toRead_ > size - dataAt)
            throw vcl::EReadError();
        if (bounds_.DirStart && toRead_ > *bounds_.DirStart - dataAt)
            throw EZAException(zeBadEntryData, owner);
    }
    if (bounds_.Starts && toRead_ > 0) {
        // Entries whose data overlap hand out the same bytes again and again (the classic
        // decompression bomb): each entry's data end before the next entry begins.
        const TZAEntryStarts& starts = *bounds_.Starts;
        const auto at = static_cast<std::uint64_t>(headerAt);
        if (starts.Shared(first, at) ||
            static_cast<std::uint64_t>(dataAt) + static_cast<std::uint64_t>(toRead_) >
                starts.Next(first, at))
            throw EZAException(zeBadEntryData, owner);
    }
    progress_.FileBytesTotal = static_cast<long double>(toRead_);
    progress_.SkipFile = false;

    bool result = false;
    switch (central_.Method) {
    case MethodStored:
    case MethodDeflated:
        result = InflateLoop(nullptr);
        break;
    default:
        // Only the block format is read beside stored and deflated data; any other method
        // (Deflate64, bzip2, LZMA, PPMd, AES...) is one the engine does not decode.
        if (central_.VersionNeeded <= 10 || central_.Method == MethodDeflate64)
            throw EZAException(zeDeflate64);
        // (It may ask for a password: never beside the run.)
        result = !silent_ && ReadBlockFormatData();
        break;
    }
    return Verdict(result);
}

bool TZAEntryReader::Replay(const TZADecoded& decoded) {
    toRead_ = Signed(item_.CompressedSize);
    expected_ = Signed(item_.UncompressedSize);
    progress_.FileBytesTotal = static_cast<long double>(toRead_);
    return Verdict(InflateLoop(&decoded));
}

bool TZAEntryReader::Verdict(bool decoded) const {
    return decoded && written_ == expected_ && ~crc_ == central_.Crc32;
}

bool TZAEntryReader::FireProgress() {
    if (!progress_.Enabled)
        return true;
    engine_.DoFileProgress(item_.StoredName.str(), progress_.FilePercent(), item_.Operation,
                           ppProcess, progress_.Cancel);
    if (progress_.Cancel)
        return false;
    engine_.DoOverallProgress(progress_.OverallPercent(), item_.Operation, ppProcess,
                              progress_.Cancel);
    return !progress_.Cancel;
}

bool TZAEntryReader::CheckEncryptionHeader() {
    TZipCryptHeader header{};
    stream_->ReadBuffer(header.data(), static_cast<std::int64_t>(header.size()));
    ZipCryptDecryptHeader(engine_.Password(), keys_, header);
    return ZipCryptPasswordFits(header, local_.Flags, local_.Time, local_.Crc32);
}

bool TZAEntryReader::AskPassword() {
    // The header must lie inside the entry's own bytes.
    if (toRead_ < static_cast<std::int64_t>(ZipCryptHeaderSize))
        return false;
    toRead_ -= static_cast<std::int64_t>(ZipCryptHeaderSize);
    const std::int64_t start = stream_->Position();
    for (;;) {
        stream_->SetPosition(start);
        if (CheckEncryptionHeader())
            return true;
        const std::string tried = engine_.Password();
        engine_.DoPassword(item_.StoredName.str(), engine_.Password(), progress_.SkipFile);
        if (progress_.SkipFile)
            return false;
        // The same password again can only fail again: asking on would never end.
        if (engine_.Password() == tried)
            return false;
    }
}

bool TZAEntryReader::InflateLoop(const TZADecoded* decoded) {
    const std::int64_t available = platform::AvailablePhysicalMemory();
    // Without a figure, reads are not halved: the output goes out in bounded steps anyway.
    memoryLimit_ = available > 0 ? available / 20 : std::numeric_limits<std::int64_t>::max();
    progress_.SkipFile = false;
    if (encrypted_ && (silent_ || !AskPassword()))
        return false;
    if (decoded) {
        // The chunks' progress events as decoding them would raise them, then all the bytes.
        while (consumed_ < toRead_) {
            progress_.FileBytesDone = static_cast<long double>(consumed_);
            if (!FireProgress())
                return true;
            consumed_ += NextChunk();
        }
        const auto size = static_cast<std::int64_t>(decoded->Bytes.size());
        if (size > expected_ || dest_.Write(decoded->Bytes.data(), size) != size)
            return false;
        written_ = size;
        crc_ = ~decoded->Crc;
        return true;
    }

    // No read is larger than the entry; the buffer is kept for the entries that follow.
    const auto inputSize =
        static_cast<std::size_t>(std::clamp<std::int64_t>(toRead_, 0, EntryChunkSize));
    if (buffers_.Input.size() < inputSize)
        buffers_.Input.resize(inputSize);
    if (central_.Method == MethodDeflated) {
        try {
            if (!buffers_.Inflater)
                buffers_.Inflater = std::make_unique<TZInflater>(TZInflateFormat::Raw);
            else
                buffers_.Inflater->Reset();
        } catch (const EDecompressionError&) {
            return false;
        }
        if (buffers_.Output.size() < static_cast<std::size_t>(EntryOutputStep))
            buffers_.Output.resize(static_cast<std::size_t>(EntryOutputStep));
    }
    while (consumed_ < toRead_) {
        progress_.FileBytesDone = static_cast<long double>(consumed_);
        if (!FireProgress())
            break;
        const std::int64_t n = NextChunk();
        if (!ReadAcrossVolumes(buffers_.Input.data(), n))
            return false;
        if (!DecodeChunk(buffers_.Input.data(), n))
            return false;
        consumed_ += n;
    }
    return true;
}

std::int64_t TZAEntryReader::NextChunk() const {
    return ChooseReadCount(std::min(EntryChunkSize, toRead_ - consumed_), memoryLimit_,
                           central_.UncompressedSize, central_.CompressedSize);
}

bool TZAEntryReader::ReadAcrossVolumes(std::uint8_t* buffer, std::int64_t count) {
    std::int64_t got = stream_->Read(buffer, count);
    while (got < count) {
        // A single file has no next volume (reopening it would read its start again), and
        // no volume follows the last one.
        if (bounds_.Spanning == smNone || silent_ ||
            (volume_.LastNumber >= 0 && volume_.Number >= volume_.LastNumber) ||
            volume_.Number >= MaxVolumeNumber)
            break;
        volume_.SetNumber(volume_.Number + 1);
        engine_.OpenVolume(volume_);
        stream_ = engine_.ArchiveStream();
        stream_->SetPosition(0);
        got += stream_->Read(buffer + got, count - got);
        if (stream_->Position() == 0)
            break;
    }
    return got == count;
}

bool TZAEntryReader::Emit(const std::uint8_t* data, std::int64_t count, bool inPlace) {
    if (count <= 0)
        return true;
    // More output than the entry declares is corrupt: stop before it reaches the destination.
    if (count > expected_ - written_)
        return false;
    UpdateCrc32(data, count, crc_);
    if (inPlace ? !direct_->Commit(static_cast<std::size_t>(count))
                : dest_.Write(data, count) != count)
        return false;
    written_ += count;
    return true;
}

bool TZAEntryReader::DecodeChunk(std::uint8_t* input, std::int64_t n) {
    if (n <= 0)
        return false;
    if (encrypted_)
        ZipCryptDecryptBuffer(std::span<std::uint8_t>(input, static_cast<std::size_t>(n)), keys_);
    if (central_.Method == MethodStored)
        return Emit(input, n);

    if (finished_)
        return true; // bytes after the end of the deflate data: the size and CRC decide
    TZInflater& inflater = *buffers_.Inflater;
    std::span<const std::uint8_t> in(input, static_cast<std::size_t>(n));
    for (;;) {
        // No more room than the entry still declares, and one byte more, which shows an
        // overrun before it reaches the destination.
        // (The declared size may be INT64_MAX: the one byte is added after the minimum.)
        const std::int64_t room =
            std::min(EntryOutputStep - 1, std::max<std::int64_t>(expected_ - written_, 0)) + 1;
        // Straight into a destination that offers room of its own (which may be less).
        const std::span<std::uint8_t> target =
            direct_ ? direct_->Room(static_cast<std::size_t>(room))
                    : std::span(buffers_.Output.data(), static_cast<std::size_t>(room));
        std::span<std::uint8_t> out = target;
        int r = Z_OK;
        try {
            r = inflater.Inflate(in, out);
        } catch (const EDecompressionError&) {
            return false;
        }
        if (!Emit(target.data(), static_cast<std::int64_t>(target.size() - out.size()),
                  direct_ != nullptr))
            return false;
        if (r == Z_STREAM_END) {
            finished_ = true;
            return true;
        }
        // Nothing more to do: all of the chunk is taken and nothing is pending. A codec that
        // stalls with input left and room to write would lose that input.
        if (r == Z_BUF_ERROR)
            return in.empty();
        if (in.empty() && !out.empty())
            return true;
    }
}

} // namespace zip
