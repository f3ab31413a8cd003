// Writing an extracted file from a thread of its own: while the decoder makes the next block,
// the kernel copies the last one into the file, on another core. Blocks go out in order, a
// few at most held at once.
#pragma once

#include "vcl/Streams.h"
#include "zip/ZADirectSink.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace zip {

class TZAWriteBehind : public vcl::TStream, public TZADirectSink {
public:
    // Writes into target from its position on; target is not touched from this thread until
    // Finish has returned.
    explicit TZAWriteBehind(vcl::TStream& target);
    // Finishes, whatever happened.
    ~TZAWriteBehind() override;
    TZAWriteBehind(const TZAWriteBehind&) = delete;
    TZAWriteBehind& operator=(const TZAWriteBehind&) = delete;

    // Takes all of count, or nothing once a write to the target has failed.
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    // The free end of the block being filled: bytes decoded there are never copied.
    std::span<std::uint8_t> Room(std::size_t count) override;
    bool Commit(std::size_t count) override;
    std::int64_t Read(void* buffer, std::int64_t count) override;
    // Only tells the position: the bytes taken so far.
    std::int64_t Seek(std::int64_t offset, vcl::TSeekOrigin origin) override;
    std::int64_t Size() override { return taken_; }
    // Not possible here: raises EWriteError.
    void SetSize(std::int64_t size) override;

    // Waits until everything taken is in the target. False when a write failed.
    bool Finish();

private:
    // A block of the full size, filled from its start.
    struct TBlock {
        std::vector<std::uint8_t> Bytes;
        std::size_t Filled = 0;
    };

    void Submit();
    void Run();

    vcl::TStream& target_;
    TBlock filling_;
    std::int64_t taken_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<TBlock> queue_;
    std::vector<TBlock> spare_;
    bool stopping_ = false;
    bool failed_ = false;
    std::thread thread_;
};

} // namespace zip
