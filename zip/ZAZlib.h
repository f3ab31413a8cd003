// The engine's binding to zlib: the settings tables that tie compression levels and modes to
// zlib, the result checks and their exceptions, RAII inflate (over the built-in codec) and
// deflate streams that count in 64 bits, and the one-shot buffer inflate.
#pragma once

#include "vcl/SysUtils.h"
#include "zip/ZAInflateCodec.h"
#include "zip/ZATypes.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <zlib.h>

namespace zip {

// zlib failures carry only "error": zlib's code and text are not passed on.
class EZlibError : public vcl::Exception {
public:
    using vcl::Exception::Exception;
};
class ECompressionError : public EZlibError {
public:
    ECompressionError() : EZlibError("error") {}
};
class EDecompressionError : public EZlibError {
public:
    EDecompressionError() : EZlibError("error") {}
};

// clNone 0, clFastest 1, clNormal 6, clMax 9.
std::uint8_t ModeFromLevel(TZACompressionLevel level);
// 0 clNone, 1-3 clFastest, 4-6 clNormal, 7-9 clMax, above 9 clNone.
TZACompressionLevel LevelFromMode(std::uint8_t mode);
// The writer's block size for a mode.
std::int32_t BufferSizeForMode(std::uint8_t mode);
// The two zlib header bytes for a level code, first byte (0x78) in the low half; 0 above 9.
std::uint16_t ZlibHeaderForLevel(std::uint32_t code);

// Return r when it is 0 or more; otherwise raise ECompressionError / EDecompressionError.
std::int32_t CheckCompressResult(std::int32_t r);
std::int32_t CheckDecompressResult(std::int32_t r);

// Inflate of zlib-wrapped or raw deflate data (15-bit window) through the built-in codec.
// Each call moves `in` and `out` past what it used; the totals are counted here in 64 bits
// whatever the codec's own counters hold.
class TZInflater {
public:
    // EDecompressionError when the codec cannot start.
    explicit TZInflater(TZInflateFormat format = TZInflateFormat::Zlib);
    ~TZInflater();
    TZInflater(const TZInflater&) = delete;
    TZInflater& operator=(const TZInflater&) = delete;

    // A new stream of the same format, on the memory of the last one.
    void Reset();

    // One call of inflate without flushing. Returns Z_OK (progress), Z_STREAM_END, or
    // Z_BUF_ERROR when nothing was possible (no input left, or no room for output): that is
    // no fault of the data, the caller gives what was missing or stops. Bad data raises
    // EDecompressionError; a preset dictionary is never given, so asking for one raises too.
    int Inflate(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out);

    std::int64_t TotalIn() const { return totalIn_; }
    std::int64_t TotalOut() const { return totalOut_; }

private:
    std::unique_ptr<TZInflateCodec> codec_;
    std::int64_t totalIn_ = 0;
    std::int64_t totalOut_ = 0;
};

// Deflate to zlib-wrapped data at a level (15-bit window, default memory level and strategy).
class TZDeflater {
public:
    explicit TZDeflater(int level); // ECompressionError when zlib cannot start
    ~TZDeflater();
    TZDeflater(const TZDeflater&) = delete;
    TZDeflater& operator=(const TZDeflater&) = delete;

    int Level() const { return level_; }
    // Ready for a new stream at the same level, its memory kept.
    void Reset();

    // One call of deflate with flush (Z_NO_FLUSH, Z_SYNC_FLUSH or Z_FINISH). Returns Z_OK or
    // Z_STREAM_END; a negative result raises ECompressionError.
    int Deflate(std::span<const std::uint8_t>& in, std::span<std::uint8_t>& out, int flush);

    std::int64_t TotalIn() const { return totalIn_; }
    std::int64_t TotalOut() const { return totalOut_; }

private:
    z_stream stream_{};
    int level_;
    std::int64_t totalIn_ = 0;
    std::int64_t totalOut_ = 0;
};

// Bounds of the one-shot inflate: the estimate comes from archive data, so it may size the
// first block only within reason, and the output stops at a maximum whatever the input says.
constexpr std::int32_t InflateBufferMaxEstimate = 64 * 1024 * 1024;
constexpr std::int64_t InflateBufferMaxOutput = 256 * 1024 * 1024;

// A block of bytes from the C heap, so that growing it can move pages instead of copying
// them (glibc's realloc remaps large blocks).
struct TZAFreeDeleter {
    void operator()(std::uint8_t* p) const noexcept { std::free(p); }
};
using TZABlock = std::unique_ptr<std::uint8_t[], TZAFreeDeleter>;

// One-shot inflate of a complete zlib-wrapped stream into a new block. The block starts at
// estimate bytes (with 0, at the input size rounded up to 256) and grows by at least that step
// until the stream ends, then is cut to the output. Every failure (bad or cut-off data, a
// negative estimate or one above InflateBufferMaxEstimate, output past maxOutput, memory) leaves
// outBuf empty and outSize 0; it never raises.
void InflateBuffer(const void* inBuf, std::int32_t inSize, std::int32_t estimate, TZABlock& outBuf,
                   std::int32_t& outSize, std::int64_t maxOutput = InflateBufferMaxOutput);

// The block unpacker: identifier 0 is the zlib inflate, with outSize as the estimate. False
// for no input, another identifier (outBuf untouched), a failed or empty inflate, or any
// exception on the way.
bool TryInflateBuffer(std::uint8_t identifier, const void* inBuf, std::int32_t inSize,
                      TZABlock& outBuf, std::int32_t& outSize);

} // namespace zip
