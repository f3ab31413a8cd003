#include "zip/ZASiblingFile.h"

#include "platform/Random.h"
#include "vcl/SysUtils.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace zip {

namespace {

// How much is written between two starts of writing to the disk.
constexpr std::int64_t WriteBackStep = std::int64_t{64} << 20;
constexpr loff_t PageBytes = 4096;
constexpr std::size_t BufferBytes = std::size_t{1} << 20;

[[noreturn]] void Fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

std::string RandomName(const std::string& prefix, const std::string& suffix) {
    std::uint32_t number = 0;
    platform::RandomBytes(&number, sizeof number);
    return prefix + vcl::IntToHex(number, 8) + suffix;
}

// A hidden sibling of target is named after it.
std::string HiddenPrefix(const std::string& folder, const std::string& target) {
    return folder + "." + vcl::ExtractFileName(target) + ".";
}

int CreateFile(const std::string& folder, const std::string& target, std::string& named) {
    // Unnamed: nothing of it can be left behind, whenever the process ends.
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return -1;
    return CreateRandomlyNamedFile(HiddenPrefix(folder, target), "", 0600, named);
}

} // namespace

int CreateRandomlyNamedFile(const std::string& prefix, const std::string& suffix, mode_t mode,
                            std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = RandomName(prefix, suffix);
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

TZASiblingFile::TZASiblingFile(const std::string& target, int like)
    : vcl::THandleStream(-1), target_(target) {
    // An archive reached through a symbolic link is replaced where it lies; the link stays.
    if (char* real = ::realpath(target.c_str(), nullptr)) {
        target_ = real;
        std::free(real);
    }
    folder_ = vcl::ExtractFilePath(target_);
    handle_ = CreateFile(folder_.empty() ? std::string("./") : folder_, target_, named_);
    if (handle_ < 0)
        Fail(errno, folder_.empty() ? "." : folder_);
    struct stat st {};
    if (::fstat(like, &st) == 0) {
        (void)::fchmod(handle_, st.st_mode & 07777);
        struct stat own {};
        if (::fstat(handle_, &own) == 0 && (own.st_uid != st.st_uid || own.st_gid != st.st_gid))
            (void)::fchown(handle_, st.st_uid, st.st_gid);
    }
}

TZASiblingFile::~TZASiblingFile() {
    if (!published_ && !named_.empty())
        ::unlink(named_.c_str());
}

std::int64_t TZASiblingFile::Write(const void* buffer, std::int64_t count) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const std::int64_t n = vcl::THandleStream::Write(bytes + done, count - done);
        if (n <= 0) {
            error_ = n < 0 ? errno : ENOSPC;
            return done > 0 ? done : -1;
        }
        done += n;
    }
    WriteBack(Position());
    return done;
}

void TZASiblingFile::SetSize(std::int64_t size) {
    vcl::THandleStream::SetSize(size);
    submitted_ = std::min(submitted_, size);
    waited_ = std::min(waited_, size);
}

void TZASiblingFile::WriteBack(std::int64_t end) {
    if (end - submitted_ < WriteBackStep)
        return;
    // Hints only: an error here comes back from the flush in Publish.
    (void)::sync_file_range(handle_, submitted_, end - submitted_, SYNC_FILE_RANGE_WRITE);
    if (submitted_ > waited_) // a length of 0 would mean up to the file's end
        (void)::sync_file_range(handle_, waited_, submitted_ - waited_,
                                SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                    SYNC_FILE_RANGE_WAIT_AFTER);
    waited_ = submitted_;
    submitted_ = end;
}

bool TZASiblingFile::CopyHead(int from, std::int64_t count) {
    SetPosition(0);
    if (Copy(from, 0, count))
        return true;
    if (error_ == 0)
        error_ = EIO; // the old archive ended before its own entries
    return false;
}

bool TZASiblingFile::Copy(int from, std::int64_t offset, std::int64_t count) {
    (void)::posix_fadvise(from, offset, count, POSIX_FADV_SEQUENTIAL);
    loff_t in = offset;
    loff_t out = Position();
    const loff_t end = offset + count;
    // The kernel copies, or shares, whole pages: where the two sides stand at different places
    // in a page, a copy through a buffer of this process is the faster one.
    bool clone = (in - out) % PageBytes == 0;
    while (in < end) {
        // A step at a time, so that its writing to the disk starts while the next is copied.
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(end - in, WriteBackStep));
        ssize_t n = -1;
        if (clone) {
            n = ::copy_file_range(from, &in, handle_, &out, want, 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                          errno == EOPNOTSUPP || errno == EBADF)) {
                clone = false;
                continue;
            }
        } else {
            if (!buffer_)
                buffer_.reset(new std::uint8_t[BufferBytes]); // no need to clear it first
            n = ::pread(from, buffer_.get(), std::min(want, BufferBytes), in);
            if (n > 0) {
                const ssize_t w =
                    ::pwrite(handle_, buffer_.get(), static_cast<std::size_t>(n), out);
                if (w != n) {
                    error_ = w < 0 ? errno : ENOSPC;
                    return false;
                }
                in += n;
                out += n;
            }
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error_ = errno;
            return false;
        }
        if (n == 0)
            return false;
        WriteBack(out);
    }
    SetPosition(out);
    return true;
}

void TZASiblingFile::Publish() {
    if (::fsync(handle_) != 0)
        Fail(errno, target_);
    if (named_.empty()) {
        // An unnamed file gets a hidden name first; only the rename replaces the archive.
        const std::string self = "/proc/self/fd/" + std::to_string(handle_);
        for (int attempt = 0;; ++attempt) {
            const std::string name = RandomName(HiddenPrefix(folder_, target_), "");
            // Through /proc as any user may; without /proc by the descriptor itself.
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
                (errno == ENOENT &&
                 ::linkat(handle_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)) {
                named_ = name;
                break;
            }
            if (errno != EEXIST || attempt == 100)
                Fail(errno, target_);
        }
    }
    if (::rename(named_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        ::unlink(named_.c_str());
        named_.clear();
        Fail(error, target_);
    }
    published_ = true;
    named_.clear();
    // The rename itself reaches the disk with the folder.
    const int folder =
        ::open(folder_.empty() ? "." : folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
}

} // namespace zip
