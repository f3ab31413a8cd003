// Windows file attributes over POSIX modes: folder 0x10; read-only 0x01 when nobody may write;
// regular files also carry archive 0x20. Hidden and system have no equivalent.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace platform {

inline constexpr std::uint32_t faReadOnly = 0x01;
inline constexpr std::uint32_t faHidden = 0x02;
inline constexpr std::uint32_t faSysFile = 0x04;
inline constexpr std::uint32_t faVolumeID = 0x08;
inline constexpr std::uint32_t faDirectory = 0x10;
inline constexpr std::uint32_t faArchive = 0x20;

// The attributes of path (links followed), or -1 when it does not exist.
std::int32_t FileGetAttr(const std::string& path);
// The attributes of a file whose status was read already.
std::uint32_t FileAttributesOf(const struct stat& st);
// Read-only clears every write bit; its absence adds the owner's write bit. Other bits are
// ignored. False when the file cannot be changed.
bool FileSetAttr(const std::string& path, std::uint32_t attr);
// The same on an open file.
bool FileSetAttrHandle(int handle, std::uint32_t attr);

// The permission bits the process leaves out of the files it creates: a mode restored from
// elsewhere (an archive entry) is masked with it as a new file's mode would be.
mode_t ProcessUmask();

// The modification time of path (links followed); false when it does not exist.
bool FileModificationTime(const std::string& path, std::time_t& when);

} // namespace platform
