#include "platform/FileAttributes.h"

#include <fstream>
#include <sys/stat.h>

namespace platform {

namespace {

constexpr mode_t WriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

mode_t WithAttr(mode_t mode, std::uint32_t attr) {
    mode &= 07777;
    return (attr & faReadOnly) != 0 ? (mode & ~WriteBits) : (mode | S_IWUSR);
}

} // namespace

std::int32_t FileGetAttr(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    return static_cast<std::int32_t>(FileAttributesOf(st));
}

std::uint32_t FileAttributesOf(const struct stat& st) {
    std::uint32_t attr = 0;
    if (S_ISDIR(st.st_mode))
        attr |= faDirectory;
    else
        attr |= faArchive;
    if ((st.st_mode & WriteBits) == 0)
        attr |= faReadOnly;
    return attr;
}

bool FileSetAttr(const std::string& path, std::uint32_t attr) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    return ::chmod(path.c_str(), WithAttr(st.st_mode, attr)) == 0;
}

bool FileSetAttrHandle(int handle, std::uint32_t attr) {
    struct stat st {};
    if (::fstat(handle, &st) != 0)
        return false;
    return ::fchmod(handle, WithAttr(st.st_mode, attr)) == 0;
}

mode_t ProcessUmask() {
    // Read, not set and set back: changing it, even for a moment, would change it for every
    // thread that creates a file meanwhile.
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8) & 0777);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

bool FileModificationTime(const std::string& path, std::time_t& when) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    when = st.st_mtim.tv_sec;
    return true;
}

} // namespace platform
