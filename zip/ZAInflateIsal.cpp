// The inflate codec over ISA-L's igzip, which decodes the same data in about half of zlib's
// time.
#include "zip/ZAInflateCodec.h"
#include "zip/ZAZlib.h"

#include <algorithm>
#include <cstdint>
#include <isa-l/igzip_lib.h>
#include <memory>

namespace zip {

namespace {

class TIsalInflateCodec : public TZInflateCodec {
public:
    explicit TIsalInflateCodec(TZInflateFormat format)
        : state_(std::make_unique<inflate_state>()),
          flag_(format == TZInflateFormat::Raw ? ISAL_DEFLATE : ISAL_ZLIB) {
        Reset();
    }

    void Reset() override {
        isal_inflate_init(state_.get());
        state_->crc_flag = flag_;
    }

    TZInflateStep Inflate(std::span<const std::uint8_t>& in,
                          std::span<std::uint8_t>& out) override {
        inflate_state& s = *state_;
        if (s.block_state == ISAL_BLOCK_FINISH)
            return TZInflateStep::End;
        const auto inGiven =
            static_cast<std::uint32_t>(std::min<std::size_t>(in.size(), UINT32_MAX));
        const auto outGiven =
            static_cast<std::uint32_t>(std::min<std::size_t>(out.size(), UINT32_MAX));
        // ISA-L's input pointer is not const, but it never writes through it.
        s.next_in = const_cast<std::uint8_t*>(in.data());
        s.avail_in = inGiven;
        s.next_out = out.data();
        s.avail_out = outGiven;
        const int r = isal_inflate(&s);
        const std::uint32_t used = inGiven - s.avail_in;
        const std::uint32_t made = outGiven - s.avail_out;
        in = in.subspan(used);
        out = out.subspan(made);
        if (r < 0 || r == ISAL_NEED_DICT)
            throw EDecompressionError();
        if (s.block_state == ISAL_BLOCK_FINISH)
            return TZInflateStep::End;
        return used == 0 && made == 0 ? TZInflateStep::Stalled : TZInflateStep::Progress;
    }

private:
    std::unique_ptr<inflate_state> state_;
    std::uint32_t flag_;
};

} // namespace

std::unique_ptr<TZInflateCodec> MakeInflateCodec(TZInflateFormat format) {
    return std::make_unique<TIsalInflateCodec>(format);
}

const char* InflateCodecName() {
    return "isa-l";
}

} // namespace zip
