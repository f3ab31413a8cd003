#include "platform/Drives.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

std::mutex hooks_mutex;
std::vector<std::string> removable_folders;
std::map<std::string, std::string> folder_labels;
TFreeSpaceQuery free_space_query;

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The path itself when it exists, else its nearest existing parent folder.
std::string NearestExisting(const std::string& path) {
    std::string p = path.empty() ? std::string(".") : WithoutTrailingSlash(path);
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

bool Inside(const std::string& path, const std::string& folder) {
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

// The declared folder that holds path, or "".
std::string DeclaredFolderOf(const std::string& path) {
    std::string p = WithoutTrailingSlash(path);
    for (const auto& folder : removable_folders)
        if (Inside(p, folder))
            return folder;
    return {};
}

bool ReadsOne(const std::string& file) {
    std::ifstream in(file);
    int value = 0;
    return (in >> value) && value == 1;
}

} // namespace

bool IsRemovableMedium(const std::string& path) {
    {
        std::lock_guard lock(hooks_mutex);
        if (!DeclaredFolderOf(path).empty())
            return true;
    }
    struct stat st {};
    if (::stat(NearestExisting(path).c_str(), &st) != 0)
        return false;
    std::string dev = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                      std::to_string(minor(st.st_dev));
    // A partition reports nothing itself; its disk, one folder up, does.
    return ReadsOne(dev + "/removable") || ReadsOne(dev + "/../removable");
}

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
    std::lock_guard lock(hooks_mutex);
    std::string folder = DeclaredFolderOf(path);
    if (folder.empty())
        return false;
    folder_labels[folder] = label;
    return true;
}

std::string VolumeLabel(const std::string& path) {
    std::lock_guard lock(hooks_mutex);
    auto it = folder_labels.find(DeclaredFolderOf(path));
    return it == folder_labels.end() ? std::string() : it->second;
}

bool FlushFileBuffers(int handle) {
    return ::fsync(handle) == 0;
}

TRemovableFolderScope::TRemovableFolderScope(std::string folder)
    : folder_(WithoutTrailingSlash(std::move(folder))) {
    std::lock_guard lock(hooks_mutex);
    removable_folders.push_back(folder_);
}

TRemovableFolderScope::~TRemovableFolderScope() {
    std::lock_guard lock(hooks_mutex);
    auto it = std::find(removable_folders.begin(), removable_folders.end(), folder_);
    if (it != removable_folders.end())
        removable_folders.erase(it);
    if (std::find(removable_folders.begin(), removable_folders.end(), folder_) ==
        removable_folders.end())
        folder_labels.erase(folder_);
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
