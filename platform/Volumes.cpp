#include "platform/Volumes.h"

#include "platform/Drives.h"

#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

namespace {

std::mutex hooks_mutex;
std::map<std::string, std::string> folder_labels;
TFreeSpaceQuery free_space_query;

// The path itself when it exists, else its nearest existing parent folder.
std::string NearestExisting(const std::string& path) {
    std::string p = path.empty() ? std::string(".") : path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    struct stat st {};
    while (::stat(p.c_str(), &st) != 0) {
        auto slash = p.rfind('/');
        if (slash == std::string::npos)
            return ".";
        if (slash == 0)
            return "/";
        p.erase(slash);
    }
    return p;
}

// The folder a volume file stands in: the part before its last "/".
std::string FolderOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

} // namespace

std::int64_t DiskFreeBytes(const std::string& path) {
    TFreeSpaceQuery query;
    {
        std::lock_guard lock(hooks_mutex);
        query = free_space_query;
    }
    if (query)
        return query(path);
    struct statvfs vfs {};
    if (::statvfs(NearestExisting(path).c_str(), &vfs) != 0)
        return -1;
    return static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
}

bool SetVolumeLabel(const std::string& path, const std::string& label) {
    std::string folder = FolderOf(path);
    // Only folders standing in for disks can be labelled; a real medium's name is not ours.
    struct stat st {};
    if (!IsRemovablePath(path) || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    std::lock_guard lock(hooks_mutex);
    folder_labels[folder] = label;
    return true;
}

std::string VolumeLabel(const std::string& path) {
    std::lock_guard lock(hooks_mutex);
    auto it = folder_labels.find(FolderOf(path));
    return it == folder_labels.end() ? std::string() : it->second;
}

bool FlushFileBuffers(int handle) {
    return ::fsync(handle) == 0;
}

TFreeSpaceScope::TFreeSpaceScope(TFreeSpaceQuery query) {
    std::lock_guard lock(hooks_mutex);
    previous_ = std::move(free_space_query);
    free_space_query = std::move(query);
}

TFreeSpaceScope::~TFreeSpaceScope() {
    std::lock_guard lock(hooks_mutex);
    free_space_query = std::move(previous_);
}

} // namespace platform
