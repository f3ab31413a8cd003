// Writing an extracted file from a thread of its own: while the decoder makes the next block,
// the kernel copies the last one into the file, on another core. Blocks go out in order, a
// few at most held at once.
#pragma once

#include "vcl/Streams.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace zip {

class TZAWriteBehind : public vcl::TStream {
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
    std::int64_t Read(void* buffer, std::int64_t count) override;
    // Only tells the position: the bytes taken so far.
    std::int64_t Seek(std::int64_t offset, vcl::TSeekOrigin origin) override;
    std::int64_t Size() override { return taken_; }
    // Not possible here: raises EWriteError.
    void SetSize(std::int64_t size) override;

    // Waits until everything taken is in the target. False when a write failed.
    bool Finish();

private:
    void Submit();
    void Run();

    vcl::TStream& target_;
    std::vector<std::uint8_t> filling_;
    std::int64_t taken_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<std::uint8_t>> queue_;
    std::vector<std::vector<std::uint8_t>> spare_;
    bool stopping_ = false;
    bool failed_ = false;
    std::thread thread_;
};

} // namespace zip
