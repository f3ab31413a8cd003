// Free space, volume labels and flushing: the volume services a multi-volume archive needs.
// Tests can stand in for the free-space query, so that folders play the part of the disks
// of a spanned set.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// The bytes available to the calling user on the file system that holds path, from statvfs
// of the nearest existing folder; -1 when even that cannot be queried.
std::int64_t DiskFreeBytes(const std::string& path);

// Best effort: labels the medium that holds path. Real media are left alone (labelling needs
// rights and tools a program does not have); on a folder declared removable the label is kept
// for that folder, so tests can read it back. Returns whether a label was recorded.
bool SetVolumeLabel(const std::string& path, const std::string& label);
// The label recorded for the folder that holds path, or "".
std::string VolumeLabel(const std::string& path);

// Pushes a file's written data to its medium (fsync); false on failure.
bool FlushFileBuffers(int handle);

// Test hook: the query answers the free-space question for as long as the scope lives.
using TFreeSpaceQuery = std::function<std::int64_t(const std::string& path)>;
class TFreeSpaceScope {
public:
    explicit TFreeSpaceScope(TFreeSpaceQuery query);
    ~TFreeSpaceScope();
    TFreeSpaceScope(const TFreeSpaceScope&) = delete;
    TFreeSpaceScope& operator=(const TFreeSpaceScope&) = delete;

private:
    TFreeSpaceQuery previous_;
};

} // namespace platform
