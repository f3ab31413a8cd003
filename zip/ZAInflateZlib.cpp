// The inflate codec over zlib.
#include "zip/ZAInflateCodec.h"
#include "zip/ZAZlib.h"

#include <algorithm>
#include <climits>
#include <zlib.h>

namespace zip {

namespace {

class TZlibInflateCodec : public TZInflateCodec {
public:
    explicit TZlibInflateCodec(TZInflateFormat format) {
        // The version text the engine has always handed to zlib; only its major digit counts.
        const int bits = format == TZInflateFormat::Raw ? -MAX_WBITS : MAX_WBITS;
        if (inflateInit2_(&stream_, bits, "1.1.4", static_cast<int>(sizeof(z_stream))) != Z_OK)
            throw EDecompressionError();
    }
    ~TZlibInflateCodec() override { inflateEnd(&stream_); }
    TZlibInflateCodec(const TZlibInflateCodec&) = delete;
    TZlibInflateCodec& operator=(const TZlibInflateCodec&) = delete;

    void Reset() override { inflateReset(&stream_); }

    TZInflateStep Inflate(std::span<const std::uint8_t>& in,
                          std::span<std::uint8_t>& out) override {
        // zlib takes 32-bit lengths; its input pointer is not const, but zlib never writes
        // through it.
        const auto inGiven = static_cast<uInt>(std::min<std::size_t>(in.size(), UINT_MAX));
        const auto outGiven = static_cast<uInt>(std::min<std::size_t>(out.size(), UINT_MAX));
        stream_.next_in = const_cast<Bytef*>(in.data());
        stream_.avail_in = inGiven;
        // zlib refuses a null output pointer even with no room; an empty span may have one.
        stream_.next_out = out.data() ? out.data() : &spare_;
        stream_.avail_out = outGiven;
        const int r = inflate(&stream_, Z_NO_FLUSH);
        in = in.subspan(inGiven - stream_.avail_in);
        out = out.subspan(outGiven - stream_.avail_out);
        switch (r) {
        case Z_OK:
            return TZInflateStep::Progress;
        case Z_STREAM_END:
            return TZInflateStep::End;
        case Z_BUF_ERROR:
            return TZInflateStep::Stalled;
        default: // a preset dictionary is never given, so Z_NEED_DICT is bad data too
            throw EDecompressionError();
        }
    }

private:
    z_stream stream_{};
    Bytef spare_ = 0;
};

} // namespace

std::unique_ptr<TZInflateCodec> MakeInflateCodec(TZInflateFormat format) {
    return std::make_unique<TZlibInflateCodec>(format);
}

const char* InflateCodecName() {
    return "zlib";
}

} // namespace zip
