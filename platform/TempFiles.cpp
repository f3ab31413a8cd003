#include "platform/TempFiles.h"

#include "platform/UniqueFd.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace platform {

std::string TempPath() {
    const char* env = std::getenv("TMPDIR");
    std::string folder = "/tmp";
    struct stat st {};
    if (env && *env && ::stat(env, &st) == 0 && S_ISDIR(st.st_mode))
        folder = env;
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

std::string CreateTempFile(const std::string& folder, const std::string& prefix) {
    std::string base = folder;
    if (!base.empty() && base.back() != '/')
        base += '/';
    const std::string head = base + prefix.substr(0, 3);
    // As on Windows the search starts from the clock, so that two processes rarely collide.
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    unsigned start = static_cast<unsigned>(ticks ^ ::getpid()) & 0xFFFFu;
    for (unsigned step = 0; step < 0x10000u; ++step) {
        unsigned number = (start + step) & 0xFFFFu;
        if (number == 0)
            continue; // 0 asks the system to choose, so it is never a file's number
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", number);
        std::string name = head + digits + ".TMP";
        if (UniqueFd(::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600)))
            return name;
        if (errno != EEXIST)
            throw std::system_error(errno, std::generic_category(), name);
    }
    throw std::system_error(EEXIST, std::generic_category(), head);
}

} // namespace platform
