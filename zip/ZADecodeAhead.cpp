#include "zip/ZADecodeAhead.h"

#include "zip/ZAEngine.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <typeinfo>
#include <unistd.h>

namespace zip {

namespace {

// The window: entries queued ahead of the run, and their bytes. Small files take little time
// each: with fewer queued, both decoders run out of work between two of the run's turns.
constexpr std::size_t MaxJobs = 32;
constexpr std::uint64_t MaxQueuedBytes = std::uint64_t{4} << 20;

// The archive read by position through a handle many decoders share, each with a position of
// its own. Its size is the one taken when the handle was made.
class TArchiveView : public vcl::TStream {
public:
    TArchiveView(int handle, std::int64_t size) : handle_(handle), size_(size) {}

    std::int64_t Read(void* buffer, std::int64_t count) override {
        auto* bytes = static_cast<char*>(buffer);
        std::int64_t done = 0;
        while (done < count && position_ < size_) {
            const ssize_t n =
                ::pread(handle_, bytes + done, static_cast<std::size_t>(count - done), position_);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
            position_ += n;
        }
        return done;
    }
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, vcl::TSeekOrigin origin) override {
        switch (origin) {
        case vcl::TSeekOrigin::soBeginning:
            position_ = offset;
            break;
        case vcl::TSeekOrigin::soCurrent:
            position_ += offset;
            break;
        case vcl::TSeekOrigin::soEnd:
            position_ = size_ + offset;
            break;
        }
        return position_;
    }
    std::int64_t Size() override { return size_; }
    void SetSize(std::int64_t) override { throw vcl::EWriteError(); }

private:
    int handle_;
    std::int64_t size_;
    std::int64_t position_ = 0;
};

// Decoded bytes gathered in memory, in room reserved for the size the entry declares.
class TByteSink : public vcl::TStream {
public:
    explicit TByteSink(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        bytes_.insert(bytes_.end(), bytes, bytes + count);
        return count;
    }
    std::int64_t Seek(std::int64_t, vcl::TSeekOrigin) override {
        return static_cast<std::int64_t>(bytes_.size());
    }
    void SetSize(std::int64_t) override { throw vcl::EWriteError(); }

private:
    std::vector<std::uint8_t>& bytes_;
};

// Worth decoding ahead: a plain entry with bytes to decode, small enough to hold in memory.
bool Worth(const TDirItem& item) {
    const TZACentralHeader& header = item.CentralHeader;
    return item.Selected && !item.NameTooLong && (header.Flags & FlagEncrypted) == 0 &&
           (header.Method == MethodStored || header.Method == MethodDeflated) &&
           item.UncompressedSize > 0 && item.UncompressedSize < LargeEntryBytes &&
           item.CompressedSize < LargeEntryBytes;
}

// The run's entry at an index is still the one that was queued.
bool SameEntry(const TDirItem& queued, const TDirItem& entry) {
    return queued.LocalHeaderOffset == entry.LocalHeaderOffset &&
           queued.CompressedSize == entry.CompressedSize &&
           queued.UncompressedSize == entry.UncompressedSize &&
           queued.CentralHeader.Crc32 == entry.CentralHeader.Crc32 &&
           queued.CentralHeader.Method == entry.CentralHeader.Method &&
           queued.CentralHeader.Flags == entry.CentralHeader.Flags &&
           queued.StoredName == entry.StoredName;
}

} // namespace

struct TZADecodeAhead::TJob {
    enum class TState { Waiting, Decoding, Done };

    TJob(std::int32_t index, const TDirItem& item) : Index(index), Item(item) {}

    std::int32_t Index;
    TDirItem Item; // a copy: the run's directory is never read from another thread
    TState State = TState::Waiting;
    bool Decoded = false;
    TZADecoded Result;
};

TZADecodeAhead::TZADecodeAhead(TZAEngine& engine)
    : engine_(engine), bounds_(TZAEntryBounds::Of(engine)) {
    runWorkspace_.Bounds = bounds_;
}

TZADecodeAhead::~TZADecodeAhead() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
    if (handle_ >= 0)
        ::close(handle_);
}

void TZADecodeAhead::Plan(const TZADirArray& directory, std::int32_t index, vcl::TStream* archive) {
    if (handle_ < 0 && !unreadable_) {
        // Only the engine's own file stream reads what the file holds; any other stream
        // (a caller's, one in memory) is read in the run's turn only.
        struct stat st {};
        if (archive && typeid(*archive) == typeid(vcl::TFileStream))
            handle_ =
                ::fcntl(static_cast<vcl::TFileStream*>(archive)->Handle(), F_DUPFD_CLOEXEC, 0);
        if (handle_ >= 0 && ::fstat(handle_, &st) == 0 && S_ISREG(st.st_mode)) {
            archiveSize_ = st.st_size;
        } else {
            unreadable_ = true;
            if (handle_ >= 0)
                ::close(handle_);
            handle_ = -1;
        }
    }
    if (unreadable_)
        return;

    std::unique_lock lock(mutex_);
    planned_ = std::max(planned_, index + 1);
    bool queued = false;
    while (planned_ < directory.Count() && jobs_.size() < MaxJobs) {
        const TDirItem& item = directory.ItemPtr(planned_);
        if (Worth(item)) {
            if (!jobs_.empty() && queuedBytes_ + item.UncompressedSize > MaxQueuedBytes)
                break;
            jobs_.push_back(std::make_shared<TJob>(planned_, item));
            queuedBytes_ += item.UncompressedSize;
            queued = true;
        }
        ++planned_;
    }
    if (!queued)
        return;
    if (!thread_.joinable() && !threadWorkspace_) {
        threadWorkspace_ = std::make_unique<TZAEntryWorkspace>();
        threadWorkspace_->Bounds = bounds_;
        try {
            thread_ = std::thread([this] { Work(); });
        } catch (const std::system_error&) {
            // No second thread: the run decodes the queued entries itself while it waits.
        }
    }
    lock.unlock();
    changed_.notify_all();
}

std::optional<TZADecoded> TZADecodeAhead::Take(std::int32_t index, const TDirItem& entry) {
    std::unique_lock lock(mutex_);
    // Entries the run passed by (not confirmed, kept, failed before their data) go.
    while (!jobs_.empty() && jobs_.front()->Index < index)
        DropFront();
    if (jobs_.empty() || jobs_.front()->Index != index)
        return std::nullopt;
    const std::shared_ptr<TJob> job = jobs_.front();
    while (job->State != TJob::TState::Done) {
        // Rather than wait, the run decodes the next entry waiting, this one first.
        if (!DecodeNext(lock, runWorkspace_))
            changed_.wait(lock, [&] { return job->State == TJob::TState::Done; });
    }
    DropFront();
    if (!job->Decoded || !SameEntry(job->Item, entry))
        return std::nullopt;
    return std::move(job->Result);
}

void TZADecodeAhead::DropFront() {
    queuedBytes_ -= jobs_.front()->Item.UncompressedSize;
    jobs_.pop_front();
}

void TZADecodeAhead::Work() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!DecodeNext(lock, *threadWorkspace_))
            changed_.wait(lock);
    }
}

bool TZADecodeAhead::DecodeNext(std::unique_lock<std::mutex>& lock, TZAEntryWorkspace& workspace) {
    const auto waiting = std::find_if(jobs_.begin(), jobs_.end(), [](const auto& job) {
        return job->State == TJob::TState::Waiting;
    });
    if (waiting == jobs_.end())
        return false;
    const std::shared_ptr<TJob> job = *waiting;
    job->State = TJob::TState::Decoding;
    lock.unlock();

    TZADecoded out;
    bool decoded = false;
    try {
        const TDirItem& item = job->Item;
        out.Bytes.reserve(static_cast<std::size_t>(item.UncompressedSize));
        TArchiveView archive(handle_, archiveSize_);
        TByteSink sink(out.Bytes);
        if (item.LocalHeaderOffset <= static_cast<std::uint64_t>(archiveSize_)) {
            archive.SetPosition(static_cast<std::int64_t>(item.LocalHeaderOffset));
            TZAEntryReader reader(engine_, &archive, sink, item, &workspace);
            decoded = reader.Run();
            out.Crc = reader.Crc();
        }
    } catch (...) {
        // Whatever went wrong, the run meets it again when it decodes the entry itself.
        decoded = false;
    }

    lock.lock();
    job->Decoded = decoded;
    job->Result = std::move(out);
    job->State = TJob::TState::Done;
    changed_.notify_all();
    return true;
}

} // namespace zip
