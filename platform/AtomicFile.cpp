#include "platform/AtomicFile.h"

#include "platform/UniqueFd.h"

#include "platform/Random.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A copy is named "<file>.XXXXXX" with the characters mkstemp uses, so copies left by earlier
// versions of this code (which used mkstemp) are recognised too. A suffix of lowercase
// letters only may be a word the user chose ("serie.ini.backup"): such a file is never
// taken for a copy, and new copies always hold a digit.
constexpr std::string_view kNameChars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::string_view kLowercase = "abcdefghijklmnopqrstuvwxyz";
constexpr std::size_t kSuffixLength = 6;

bool IsCopyName(std::string_view name, std::string_view base) {
    if (name.size() != base.size() + 1 + kSuffixLength || name.substr(0, base.size()) != base ||
        name[base.size()] != '.')
        return false;
    const std::string_view suffix = name.substr(base.size() + 1);
    return suffix.find_first_not_of(kNameChars) == std::string_view::npos &&
           suffix.find_first_not_of(kLowercase) != std::string_view::npos;
}

// A crash between naming a new copy and renaming it leaves the copy, which holds the whole
// new contents (the settings' passwords among them): it goes before the next one is made.
void RemoveLeftCopies(const std::string& folder, std::string_view base) {
    UniqueDir dir = OpenDir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!IsCopyName(entry->d_name, base))
            continue;
        struct stat st {};
        const std::string path = folder + "/" + entry->d_name;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            ::unlink(path.c_str());
    }
}

std::string CopyName(const std::string& fileName) {
    unsigned char random[kSuffixLength];
    RandomBytes(random, sizeof random);
    std::string suffix;
    for (unsigned char r : random)
        suffix += kNameChars[r % kNameChars.size()];
    suffix[random[0] % kSuffixLength] = static_cast<char>('0' + random[0] % 10);
    return fileName + "." + suffix;
}

bool WriteAll(int fd, std::string_view contents) {
    const char* p = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

bool Fill(int fd, std::string_view contents, unsigned mode) {
    // The creation mode passed through the umask; the file gets exactly the mode asked for.
    return WriteAll(fd, contents) && ::fchmod(fd, static_cast<mode_t>(mode)) == 0 &&
           ::fsync(fd) == 0;
}

// Closes fd, keeping errno of the failure that led here.
void Abandon(UniqueFd& fd) {
    int saved = errno;
    fd.Reset();
    errno = saved;
}

enum class Outcome { Written, Failed, Unsupported };

// The new contents in a file without a name, then linked under a copy name: until the link
// nothing of it can outlive the process. Sets name. Unsupported when the file system makes
// no unnamed files or /proc cannot name one for the link.
Outcome WriteUnnamed(const std::string& folder, const std::string& fileName,
                     std::string_view contents, unsigned mode, std::string& name) {
    UniqueFd fd(
        ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, static_cast<mode_t>(mode & 0600)));
    if (!fd)
        return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? Outcome::Unsupported
                                                                         : Outcome::Failed;
    if (!Fill(fd.Get(), contents, mode)) {
        Abandon(fd);
        return Outcome::Failed;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd.Get());
    for (;;) {
        name = CopyName(fileName);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
            break;
        if (errno != EEXIST) {
            const bool noProc = errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0;
            Abandon(fd);
            return noProc ? Outcome::Unsupported : Outcome::Failed;
        }
    }
    if (!fd.Close()) {
        int saved = errno;
        ::unlink(name.c_str());
        errno = saved;
        return Outcome::Failed;
    }
    return Outcome::Written;
}

// The same through a named copy from the start, for file systems without unnamed files.
bool WriteNamed(const std::string& fileName, std::string_view contents, unsigned mode,
                std::string& name) {
    UniqueFd fd;
    do {
        name = CopyName(fileName);
        fd.Reset(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        static_cast<mode_t>(mode & 0600)));
    } while (!fd && errno == EEXIST);
    if (!fd)
        return false;
    const bool filled = Fill(fd.Get(), contents, mode);
    int saved = errno;
    const bool closed = fd.Close();
    if (filled && closed)
        return true;
    if (filled)
        saved = errno;
    ::unlink(name.c_str());
    errno = saved;
    return false;
}

} // namespace

bool ReplaceFileContents(const std::string& fileName, std::string_view contents, unsigned mode) {
    std::string folder = ".";
    std::string base = fileName;
    if (auto slash = fileName.rfind('/'); slash != std::string::npos) {
        folder = slash == 0 ? "/" : fileName.substr(0, slash);
        base = fileName.substr(slash + 1);
    }
    RemoveLeftCopies(folder, base);
    std::string copy;
    switch (WriteUnnamed(folder, fileName, contents, mode, copy)) {
    case Outcome::Written:
        break;
    case Outcome::Failed:
        return false;
    case Outcome::Unsupported:
        if (!WriteNamed(fileName, contents, mode, copy))
            return false;
        break;
    }
    if (::rename(copy.c_str(), fileName.c_str()) != 0) {
        int saved = errno;
        ::unlink(copy.c_str());
        errno = saved;
        return false;
    }
    // Make the rename itself durable.
    if (UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir)
        ::fsync(dir.Get());
    return true;
}

} // namespace platform
