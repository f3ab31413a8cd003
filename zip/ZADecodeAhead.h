// Decoding an extraction's next small entries on a second core while the run writes the one
// before. An entry is decoded silently into memory, by a thread of its own or by the run
// while it would otherwise wait, and only one that decoded whole with its CRC is kept. The
// run replays a kept entry's events and writes its bytes; it decodes every other entry
// itself, as without this, so its events, answers and failures stay those of a plain run.
#pragma once

#include "vcl/Streams.h"
#include "zip/ZADirArray.h"
#include "zip/ZAEntryReader.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace zip {

class TZAEngine;

// From this size on, an entry is decoded in its turn and written from a thread of its own
// as it is decoded; below it, it may be decoded ahead into memory.
constexpr std::uint64_t LargeEntryBytes = std::uint64_t{4} << 20;

class TZADecodeAhead {
public:
    // For an extraction run on the engine's single-file archive as it stands now (its bounds,
    // its entry starts); the engine itself is not touched from another thread.
    explicit TZADecodeAhead(TZAEngine& engine);
    // Stops the thread; an entry it is decoding is finished first.
    ~TZADecodeAhead();
    TZADecodeAhead(const TZADecodeAhead&) = delete;
    TZADecodeAhead& operator=(const TZADecodeAhead&) = delete;

    // The run is at entry index of directory, whose archive is now read through archive:
    // the selected entries after it are queued while the window has room. Only an archive
    // that is one file of the engine's own is read ahead, through a handle of its own.
    void Plan(const TZADirArray& directory, std::int32_t index, vcl::TStream* archive);
    // The bytes of entry, at index, once decoded (helping with the entries after it while it
    // waits); nothing when the run must decode the entry itself.
    std::optional<TZADecoded> Take(std::int32_t index, const TDirItem& entry);

private:
    struct TJob;

    void Work();
    // Decodes the oldest waiting job with workspace; the lock is held on entry and on return.
    // False when no job waits.
    bool DecodeNext(std::unique_lock<std::mutex>& lock, TZAEntryWorkspace& workspace);
    // Drops the oldest job; the lock is held.
    void DropFront();

    TZAEngine& engine_;
    const TZAEntryBounds bounds_;
    int handle_ = -1; // the archive's file, read by position from any thread
    std::int64_t archiveSize_ = 0;
    bool unreadable_ = false;  // the archive cannot be read ahead
    std::int32_t planned_ = 0; // entries before it were considered

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<TJob>> jobs_; // in directory order
    std::uint64_t queuedBytes_ = 0;
    bool stopping_ = false;
    TZAEntryWorkspace runWorkspace_; // the run's, for the entries it decodes while waiting
    std::unique_ptr<TZAEntryWorkspace> threadWorkspace_;
    std::thread thread_;
};

} // namespace zip
