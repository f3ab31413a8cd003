#include "vcl/Streams.h"

#include "platform/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vcl {

std::int64_t TStream::Size() {
    std::int64_t position = Seek(0, TSeekOrigin::soCurrent);
    std::int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(position, TSeekOrigin::soBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    while (count > 0) {
        std::int64_t n = Read(bytes, count);
        if (n <= 0)
            throw EReadError();
        bytes += n;
        count -= n;
    }
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
    auto* bytes = static_cast<const std::uint8_t*>(buffer);
    while (count > 0) {
        std::int64_t n = Write(bytes, count);
        if (n <= 0)
            throw EWriteError();
        bytes += n;
        count -= n;
    }
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    constexpr std::int64_t chunk = 1 << 16;
    auto buffer =
        std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(std::min(count, chunk)) + 1);
    std::int64_t copied = 0;
    while (copied < count) {
        std::int64_t n = std::min(chunk, count - copied);
        source.ReadBuffer(buffer.get(), n);
        WriteBuffer(buffer.get(), n);
        copied += n;
    }
    return copied;
}

// Memory stream.

void TMemoryStream::Reserve(std::int64_t capacity) {
    if (capacity <= capacity_)
        return;
    // Grow geometrically so a stream written piece by piece costs linear time.
    std::int64_t grown = std::max<std::int64_t>({capacity, capacity_ + capacity_ / 2, 8192});
    std::unique_ptr<std::uint8_t[]> data(new (std::nothrow)
                                             std::uint8_t[static_cast<std::size_t>(grown)]);
    if (!data)
        throw EStreamError("Mémoire insuffisante lors du développement du flux mémoire");
    if (size_ > 0)
        std::memcpy(data.get(), data_.get(), static_cast<std::size_t>(size_));
    data_ = std::move(data);
    capacity_ = grown;
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
    if (count <= 0 || position_ >= size_)
        return 0;
    std::int64_t n = std::min(count, size_ - position_);
    std::memcpy(buffer, data_.get() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0 || position_ < 0 || count > INT64_MAX - position_)
        return 0;
    std::int64_t end = position_ + count;
    if (end > size_) {
        Reserve(end);
        if (position_ > size_)
            std::memset(data_.get() + size_, 0, static_cast<std::size_t>(position_ - size_));
        size_ = end;
    }
    std::memcpy(data_.get() + position_, buffer, static_cast<std::size_t>(count));
    position_ = end;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const std::int64_t from = origin == TSeekOrigin::soBeginning ? 0
                              : origin == TSeekOrigin::soCurrent ? position_
                                                                 : size_;
    // As a file would: no position before the start, and none that cannot be represented.
    std::int64_t to = 0;
    if (__builtin_add_overflow(from, offset, &to) || to < 0)
        throw EStreamError("Position de flux invalide");
    position_ = to;
    return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
    if (size < 0)
        size = 0;
    Reserve(size);
    if (size > size_)
        std::memset(data_.get() + size_, 0, static_cast<std::size_t>(size - size_));
    size_ = size;
    if (position_ > size_)
        position_ = size_;
}

void TMemoryStream::Clear() {
    data_.reset();
    size_ = capacity_ = position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
    source.SetPosition(0);
    std::int64_t count = source.Size();
    SetSize(count);
    if (count > 0)
        source.ReadBuffer(data_.get(), count);
    position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& target) const {
    if (size_ > 0)
        target.WriteBuffer(data_.get(), size_);
}

void TMemoryStream::SaveToFile(const std::string& fileName) const {
    TFileStream file(fileName, fmCreate);
    SaveToStream(file);
}

// Handle and file streams.

THandleStream::~THandleStream() {
    if (handle_ >= 0)
        ::close(handle_);
}

std::int64_t THandleStream::Read(void* buffer, std::int64_t count) {
    for (;;) {
        ssize_t n =
            ::read(handle_, buffer, static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
        if (n >= 0) {
            Moved(n);
            return n;
        }
        if (errno != EINTR)
            return -1;
    }
}

std::int64_t THandleStream::Write(const void* buffer, std::int64_t count) {
    for (;;) {
        ssize_t n =
            ::write(handle_, buffer, static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
        if (n >= 0) {
            Moved(n);
            return n;
        }
        if (errno != EINTR)
            return -1;
    }
}

std::int64_t THandleStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    // Asking where the stream stands, or going where it already stands, moves nothing.
    if (position_ >= 0 && ((origin == TSeekOrigin::soCurrent && offset == 0) ||
                           (origin == TSeekOrigin::soBeginning && offset == position_)))
        return position_;
    int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                 : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                    : SEEK_END;
    // A failed seek leaves the file where it was: reading on would read the wrong bytes.
    const off_t position = ::lseek(handle_, offset, whence);
    if (position < 0)
        throw EStreamError(SysErrorMessage(errno));
    position_ = position;
    return position;
}

std::int64_t THandleStream::Size() {
    struct stat st {};
    if (::fstat(handle_, &st) == 0 && S_ISREG(st.st_mode))
        return st.st_size;
    return TStream::Size(); // a device or a pipe: what seeking to its end says
}

void THandleStream::SetSize(std::int64_t size) {
    std::int64_t position = Position();
    if (::ftruncate(handle_, size) != 0)
        throw EStreamError(SysErrorMessage(errno));
    if (position > size)
        SetPosition(size);
}

bool THandleStream::Flush() {
    return ::fsync(handle_) == 0;
}

namespace {

int OpenFile(const std::string& fileName, unsigned mode) {
    if (mode == fmCreate) {
        int fd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0)
            throw EFCreateError(Format("Impossible de créer le fichier \"%s\". %s",
                                       {fileName, SysErrorMessage(errno)}));
        return fd;
    }
    int access = (mode & 3) == fmOpenWrite       ? O_WRONLY
                 : (mode & 3) == fmOpenReadWrite ? O_RDWR
                                                 : O_RDONLY;
    platform::UniqueFd fd(::open(fileName.c_str(), access | O_CLOEXEC));
    struct stat st {};
    if (fd && ::fstat(fd.Get(), &st) == 0 && S_ISDIR(st.st_mode)) {
        fd.Reset(); // a folder is no file to stream
        errno = EISDIR;
    }
    if (!fd)
        throw EFOpenError(Format("Impossible d'ouvrir le fichier \"%s\". %s",
                                 {fileName, SysErrorMessage(errno)}));
    return fd.Release();
}

} // namespace

TFileStream::TFileStream(const std::string& fileName, unsigned mode)
    : THandleStream(OpenFile(fileName, mode)), fileName_(fileName) {
}

} // namespace vcl
