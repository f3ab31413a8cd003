#include "platform/Drives.h"

#include <fstream>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <vector>

namespace platform {

namespace {

std::mutex declaredMutex;
std::vector<std::string> declared;

bool Inside(std::string_view path, std::string_view folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.remove_suffix(1);
    if (path.substr(0, folder.size()) != folder)
        return false;
    return path.size() == folder.size() || path[folder.size()] == '/' || folder == "/";
}

bool Declared(const std::string& path) {
    std::lock_guard lock(declaredMutex);
    for (const std::string& folder : declared)
        if (Inside(path, folder))
            return true;
    return false;
}

bool ReadsOne(const std::string& file) {
    std::ifstream in(file);
    int value = 0;
    return static_cast<bool>(in >> value) && value == 1;
}

} // namespace

bool IsRemovablePath(const std::string& path) {
    if (Declared(path))
        return true;
    // The medium may not hold the file yet: ask about the nearest folder that exists.
    std::string probe = path.empty() ? "." : path;
    struct stat st {};
    while (::stat(probe.c_str(), &st) != 0) {
        if (probe == "/" || probe == ".")
            return false;
        auto slash = probe.find_last_of('/');
        probe = slash == std::string::npos ? "." : slash == 0 ? "/" : probe.substr(0, slash);
    }
    std::string device = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                         std::to_string(minor(st.st_dev));
    // A partition has no flag of its own; the disk above it carries it.
    return ReadsOne(device + "/removable") || ReadsOne(device + "/../removable");
}

void DeclareRemovableFolder(const std::string& folder) {
    std::lock_guard lock(declaredMutex);
    declared.push_back(folder);
}

void ClearRemovableFolders() {
    std::lock_guard lock(declaredMutex);
    declared.clear();
}

} // namespace platform
