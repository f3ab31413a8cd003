// Removable media, free space, volume labels and flushing: the drive services of a system
// without drive letters. Tests can declare folders removable and stand in for the free-space
// query, so that folders play the part of the disks of a spanned set.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// True when the file or folder at path (or, when it does not exist, its nearest existing
// parent) lies on a block device that reports itself removable, or inside a folder that a
// test declared removable.
bool IsRemovableMedium(const std::string& path);

// The bytes available to the calling user on the file system that holds path, from statvfs
// of the nearest existing folder; -1 when even that cannot be queried.
std::int64_t DiskFreeBytes(const std::string& path);

// Best effort: labels the medium that holds path. Real media are left alone (labelling needs
// rights and tools the program does not have); folders declared removable keep the label,
// so tests can read it back. Returns whether a label was recorded.
bool SetVolumeLabel(const std::string& path, const std::string& label);
// The label recorded for the declared folder that holds path, or "".
std::string VolumeLabel(const std::string& path);

// Pushes a file's written data to its medium (fsync); false on failure.
bool FlushFileBuffers(int handle);

// Test hooks. Declared folders count as removable media until the scope ends; a free-space
// function answers the free-space query for as long as it is installed.
class TRemovableFolderScope {
public:
    explicit TRemovableFolderScope(std::string folder);
    ~TRemovableFolderScope();
    TRemovableFolderScope(const TRemovableFolderScope&) = delete;
    TRemovableFolderScope& operator=(const TRemovableFolderScope&) = delete;

private:
    std::string folder_;
};

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
