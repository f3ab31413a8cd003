// Owns a file descriptor or a directory stream and closes it when it goes, whatever road the
// code leaves by: an early return or an exception leaks no descriptor.
#pragma once

#include <dirent.h>
#include <memory>
#include <unistd.h>
#include <utility>

namespace platform {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int Release() noexcept { return std::exchange(fd_, -1); }
    // Closes the one held (its close error is lost) and takes fd.
    void Reset(int fd = -1) noexcept {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    // Closes now, for callers that must know: a written file's last error can show only here.
    bool Close() noexcept {
        const int fd = Release();
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_ = -1;
};

struct DirCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
// A directory stream of opendir; empty when it failed.
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

inline UniqueDir OpenDir(const char* path) {
    return UniqueDir(::opendir(path));
}

} // namespace platform
