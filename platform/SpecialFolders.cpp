#include "platform/SpecialFolders.h"

#include <cstdlib>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string Home() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return {};
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// Makes the folder and its missing parents, private as the XDG rules want them.
void MakeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos)
            return;
    }
}

std::string ApplicationData() {
    // The XDG rule: a relative $XDG_CONFIG_HOME is invalid and ignored.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return WithoutTrailingSlash(config);
    if (std::string home = Home(); !home.empty())
        return WithoutTrailingSlash(home) + "/.config";
    return {};
}

} // namespace

std::string SpecialFolderPath(int csidl) {
    switch (csidl) {
    case CSIDL_APPDATA: {
        // Every account has this folder where the programs come from; a new Linux account may
        // not, and the programs create only their own folder inside it.
        std::string folder = ApplicationData();
        struct stat st {};
        if (!folder.empty() && ::stat(folder.c_str(), &st) != 0)
            MakeFolders(folder);
        return folder;
    }
    case CSIDL_PERSONAL:
        return WithoutTrailingSlash(Home());
    default:
        return {};
    }
}

std::string ProgramPath() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string ProgramFolder() {
    std::string path = ProgramPath();
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

} // namespace platform
