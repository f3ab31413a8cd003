#include "zip/ZAWriteBehind.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace zip {

namespace {

constexpr std::size_t BlockSize = std::size_t{1} << 20;
constexpr std::size_t MaxQueued = 2;

} // namespace

TZAWriteBehind::TZAWriteBehind(vcl::TStream& target) : target_(target) {
    filling_.Bytes.resize(BlockSize);
    thread_ = std::thread([this] { Run(); });
}

TZAWriteBehind::~TZAWriteBehind() {
    (void)Finish();
}

std::int64_t TZAWriteBehind::Write(const void* buffer, std::int64_t count) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    bool taken = true;
    for (std::int64_t done = 0; done < count;) {
        const std::span<std::uint8_t> room = Room(static_cast<std::size_t>(count - done));
        std::memcpy(room.data(), bytes + done, room.size());
        taken = Commit(room.size()) && taken;
        done += static_cast<std::int64_t>(room.size());
    }
    return taken ? count : 0;
}

std::span<std::uint8_t> TZAWriteBehind::Room(std::size_t count) {
    if (filling_.Filled == BlockSize)
        Submit();
    return std::span(filling_.Bytes)
        .subspan(filling_.Filled, std::min(count, BlockSize - filling_.Filled));
}

bool TZAWriteBehind::Commit(std::size_t count) {
    filling_.Filled += count;
    std::lock_guard lock(mutex_);
    taken_ += static_cast<std::int64_t>(count);
    return !failed_;
}

void TZAWriteBehind::Submit() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.size() < MaxQueued || failed_; });
    if (failed_) {
        filling_.Filled = 0; // nothing more reaches the target
        return;
    }
    queue_.push_back(std::move(filling_));
    if (spare_.empty()) {
        filling_ = TBlock();
        filling_.Bytes.resize(BlockSize);
    } else {
        filling_ = std::move(spare_.back());
        spare_.pop_back();
    }
    changed_.notify_all();
}

void TZAWriteBehind::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queue_.empty() || stopping_; });
        if (queue_.empty())
            return;
        TBlock block = std::move(queue_.front());
        queue_.pop_front();
        const bool skip = failed_;
        lock.unlock();
        const auto size = static_cast<std::int64_t>(block.Filled);
        bool ok = skip;
        try {
            ok = ok || target_.Write(block.Bytes.data(), size) == size;
        } catch (...) {
            // A stream that raises has failed the write: it must not end the process here.
        }
        block.Filled = 0;
        lock.lock();
        failed_ = failed_ || !ok;
        spare_.push_back(std::move(block));
        changed_.notify_all();
    }
}

bool TZAWriteBehind::Finish() {
    if (!thread_.joinable()) {
        std::lock_guard lock(mutex_);
        return !failed_;
    }
    if (filling_.Filled > 0)
        Submit();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
    std::lock_guard lock(mutex_);
    return !failed_;
}

std::int64_t TZAWriteBehind::Read(void*, std::int64_t) {
    return 0;
}

std::int64_t TZAWriteBehind::Seek(std::int64_t, vcl::TSeekOrigin) {
    return taken_;
}

void TZAWriteBehind::SetSize(std::int64_t) {
    throw vcl::EWriteError();
}

} // namespace zip
