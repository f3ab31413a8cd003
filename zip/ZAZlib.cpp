#include "zip/ZAZlib.h"

#include <algorithm>
#include <climits>

namespace zip {

std::uint8_t ModeFromLevel(TZACompressionLevel level) {
    switch (level) {
    case clNone:
        return 0;
    case clFastest:
        return 1;
    case clNormal:
        return 6;
    case clMax:
        return 9;
    }
    return 0;
}

TZACompressionLevel LevelFromMode(std::uint8_t mode) {
    if (mode == 0 || mode > 9)
        return clNone;
    if (mode <= 3)
        return clFastest;
    if (mode <= 6)
        return clNormal;
    return clMax;
}

std::int32_t BufferSizeForMode(std::uint8_t mode) {
    switch (LevelFromMode(mode)) {
    case clFastest:
        return 524288;
    case clMax:
        return 1572864;
    default:
        return 1048576;
    }
}

std::uint16_t ZlibHeaderForLevel(std::uint32_t code) {
    // Second byte by level: each makes 0x78xx a multiple of 31, as zlib's header check wants.
    static constexpr std::uint8_t second[10] = {0xDA, 0x01, 0x01, 0x5E, 0x5E,
                                                0x9C, 0x9C, 0xDA, 0xDA, 0xDA};
    if (code > 9)
        return 0;
    return static_cast<std::uint16_t>(0x78 | (second[code] << 8));
}

std::int32_t CheckCompressResult(std::int32_t r) {
    if (r < 0)
        throw ECompressionError();
    return r;
}

std::int32_t CheckDecompressResult(std::int32_t r) {
    if (r < 0)
        throw EDecompressionError();
    return r;
}

namespace {

// Points the stream at the spans (zlib takes 32-bit lengths) and, after a call, moves the
// spans and the 64-bit totals past what zlib used.
struct StreamWindow {
    z_stream& stream;
    std::span<const std::uint8_t>& in;
    std::span<std::uint8_t>& out;
    uInt inGiven = 0;
    uInt outGiven = 0;

    void Open() {
        inGiven = static_cast<uInt>(std::min<std::size_t>(in.size(), UINT_MAX));
        outGiven = static_cast<uInt>(std::min<std::size_t>(out.size(), UINT_MAX));
        // zlib's input pointer is not const, but zlib never writes through it.
        stream.next_in = const_cast<Bytef*>(in.data());
        stream.avail_in = inGiven;
        stream.next_out = out.data();
        stream.avail_out = outGiven;
    }
    void Close(std::int64_t& totalIn, std::int64_t& totalOut) {
        std::size_t used = inGiven - stream.avail_in;
        std::size_t made = outGiven - stream.avail_out;
        in = in.subspan(used);
        out = out.subspan(made);
        totalIn += static_cast<std::int64_t>(used);
        totalOut += static_cast<std::int64_t>(made);
    }
};

} // namespace

TZInflater::TZInflater(TZInflateFormat format) : codec_(MakeInflateCodec(format)) {
}

TZInflater::~TZInflater() = default;

void TZInflater::Reset() {
    codec_->Reset();
    totalIn_ = totalOut_ = 0;
}

int TZInflater::Inflate(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out) {
    const std::size_t inBefore = in.size(), outBefore = out.size();
    // The spans move even when the codec raises: the counts stay true to what it used.
    struct Count {
        TZInflater& self;
        std::span<const std::uint8_t>& in;
        std::span<std::uint8_t>& out;
        std::size_t inBefore, outBefore;
        ~Count() {
            self.totalIn_ += static_cast<std::int64_t>(inBefore - in.size());
            self.totalOut_ += static_cast<std::int64_t>(outBefore - out.size());
        }
    } count{*this, in, out, inBefore, outBefore};
    switch (codec_->Inflate(in, out)) {
    case TZInflateStep::Progress:
        return Z_OK;
    case TZInflateStep::End:
        return Z_STREAM_END;
    case TZInflateStep::Stalled:
        break;
    }
    return Z_BUF_ERROR;
}

TZDeflater::TZDeflater(int level) : level_(level) {
    CheckCompressResult(deflateInit(&stream_, level));
}

void TZDeflater::Reset() {
    CheckCompressResult(deflateReset(&stream_));
    totalIn_ = totalOut_ = 0;
}

TZDeflater::~TZDeflater() {
    deflateEnd(&stream_);
}

int TZDeflater::Deflate(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out,
                        int flush) {
    StreamWindow window{stream_, in, out};
    window.Open();
    int r = deflate(&stream_, flush);
    window.Close(totalIn_, totalOut_);
    return CheckCompressResult(r);
}

void InflateBuffer(const void* inBuf, std::int32_t inSize, std::int32_t estimate, TZABlock& outBuf,
                   std::int32_t& outSize, std::int64_t maxOutput) {
    outBuf.reset();
    outSize = 0;
    maxOutput = std::min<std::int64_t>(maxOutput, INT32_MAX); // outSize is 32-bit
    // A negative estimate would size nothing sensible; 0 means "no estimate": start at a step.
    if (!inBuf || inSize <= 0 || estimate < 0 || estimate > InflateBufferMaxEstimate ||
        estimate > maxOutput)
        return;
    const std::int64_t step = (std::int64_t{inSize} + 255) / 256 * 256;
    auto resize = [](TZABlock& block, std::int64_t size) {
        void* moved =
            std::realloc(block.get(), static_cast<std::size_t>(std::max<std::int64_t>(size, 1)));
        if (!moved)
            return false;
        block.release();
        block.reset(static_cast<std::uint8_t*>(moved));
        return true;
    };
    try {
        TZABlock out;
        std::int64_t size = estimate != 0 ? estimate : std::min(step, maxOutput);
        if (!resize(out, size))
            return;
        TZInflater inflater;
        std::span<const std::uint8_t> in(static_cast<const std::uint8_t*>(inBuf),
                                         static_cast<std::size_t>(inSize));
        for (;;) {
            std::span<std::uint8_t> room(out.get() + inflater.TotalOut(),
                                         static_cast<std::size_t>(size - inflater.TotalOut()));
            const int r = inflater.Inflate(in, room);
            // Stalled: the input ended before the stream did, or the maximum is reached.
            if (r == Z_BUF_ERROR)
                return;
            if (r == Z_STREAM_END) {
                if (!resize(out, inflater.TotalOut()))
                    return;
                outSize = static_cast<std::int32_t>(inflater.TotalOut());
                outBuf = std::move(out);
                return;
            }
            // Growing by at least half the block keeps the copying linear when the step is
            // small next to the output. At the maximum the next call gets no room: it can
            // still read the end of the stream, and anything that wants more output fails
            // with Z_BUF_ERROR.
            size = std::min(std::max(size + step, size + size / 2), maxOutput);
            if (!resize(out, size))
                return;
        }
    } catch (const std::exception&) {
        // Bad data, cut-off data and exhausted memory all end the same way: no output.
    }
}

bool TryInflateBuffer(std::uint8_t identifier, const void* inBuf, std::int32_t inSize,
                      TZABlock& outBuf, std::int32_t& outSize) {
    if (inSize == 0 || identifier != 0)
        return false;
    try {
        InflateBuffer(inBuf, inSize, outSize, outBuf, outSize);
        return outSize > 0;
    } catch (...) {
        return false;
    }
}

} // namespace zip
