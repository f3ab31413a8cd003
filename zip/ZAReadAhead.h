// Reading a run of records forward from a stream through a block of its own: the central
// directory costs a read per block instead of a seek and a few reads per entry.
#pragma once

#include "vcl/Streams.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace zip {

class TZAReadAhead {
public:
    static constexpr std::int64_t BlockSize = 256 << 10;

    // Reads from start on; the stream's size is taken once.
    TZAReadAhead(vcl::TStream& stream, std::int64_t start)
        : stream_(stream), size_(stream.Size()), position_(start) {}

    std::int64_t Position() const { return position_; }
    std::int64_t Remaining() const { return size_ - position_; }

    // The next count bytes, valid until the next call; a range the stream does not hold
    // fails as a read past its end would, before anything is allocated.
    std::string_view Take(std::int64_t count) {
        if (count < 0 || position_ < 0 || count > size_ - position_)
            throw vcl::EReadError();
        if (count == 0)
            return {};
        if (position_ < blockStart_ ||
            position_ + count > blockStart_ + static_cast<std::int64_t>(block_.size())) {
            // At least a block, and never more than the stream holds.
            const std::int64_t n = std::min(std::max(count, BlockSize), size_ - position_);
            block_.resize(static_cast<std::size_t>(n));
            stream_.SetPosition(position_);
            stream_.ReadBuffer(block_.data(), n);
            blockStart_ = position_;
        }
        const std::string_view bytes(block_.data() + (position_ - blockStart_),
                                     static_cast<std::size_t>(count));
        position_ += count;
        return bytes;
    }

    // Leaves the stream where reading record by record would have left it.
    void Settle() { stream_.SetPosition(position_); }

private:
    vcl::TStream& stream_;
    std::int64_t size_;
    std::int64_t position_;
    std::string block_;
    std::int64_t blockStart_ = 0;
};

} // namespace zip
