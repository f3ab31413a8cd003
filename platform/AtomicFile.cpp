#include "platform/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool ReplaceFileContents(const std::string& fileName, std::string_view contents, unsigned mode) {
    std::string folder = ".";
    if (auto slash = fileName.rfind('/'); slash != std::string::npos)
        folder = slash == 0 ? "/" : fileName.substr(0, slash);
    std::string temp = fileName + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC); // created with mode 0600
    if (fd < 0)
        return false;
    auto fail = [&] {
        int saved = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        errno = saved;
        return false;
    };
    const char* p = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail();
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fchmod(fd, static_cast<mode_t>(mode)) != 0 || ::fsync(fd) != 0)
        return fail();
    if (::close(fd) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), fileName.c_str()) != 0) {
        int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return false;
    }
    // Make the rename itself durable.
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

} // namespace platform
