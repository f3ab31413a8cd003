#include "platform/SpecialFolders.h"

#include <cstdlib>
#include <limits.h>
#include <pwd.h>
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

} // namespace

std::string SpecialFolderPath(int csidl) {
    switch (csidl) {
    case CSIDL_APPDATA:
        // The XDG rule: a relative $XDG_CONFIG_HOME is invalid and ignored.
        if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
            return WithoutTrailingSlash(config);
        if (std::string home = Home(); !home.empty())
            return WithoutTrailingSlash(home) + "/.config";
        return {};
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
