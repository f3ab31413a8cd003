// Byte streams with 64-bit positions: memory, file-descriptor and named-file streams.
#pragma once

#include "vcl/Classes.h"
#include "vcl/SysUtils.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vcl {

class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EReadError : public EStreamError {
public:
    EReadError() : EStreamError("Erreur de lecture du flux") {}
};
class EWriteError : public EStreamError {
public:
    EWriteError() : EStreamError("Erreur d'écriture du flux") {}
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// Open modes and share flags, with the framework's values. Sharing has no meaning here.
constexpr unsigned fmCreate = 0xFFFF;
constexpr unsigned fmOpenRead = 0x0000;
constexpr unsigned fmOpenWrite = 0x0001;
constexpr unsigned fmOpenReadWrite = 0x0002;
constexpr unsigned fmShareCompat = 0x0000;
constexpr unsigned fmShareExclusive = 0x0010;
constexpr unsigned fmShareDenyWrite = 0x0020;
constexpr unsigned fmShareDenyRead = 0x0030;
constexpr unsigned fmShareDenyNone = 0x0040;

class TStream : public TObject {
public:
    // Read and Write move up to count bytes and return how many moved.
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

    virtual std::int64_t Size();
    virtual void SetSize(std::int64_t size) = 0;
    std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

    // All or nothing: a short transfer raises EReadError or EWriteError.
    void ReadBuffer(void* buffer, std::int64_t count);
    void WriteBuffer(const void* buffer, std::int64_t count);
    // Copies count bytes from source's position; count 0 copies the whole source from its
    // start. Returns the bytes copied.
    std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

class TMemoryStream : public TStream {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return size_; }
    void SetSize(std::int64_t size) override;

    std::uint8_t* Memory() { return data_.get(); }
    const std::uint8_t* Memory() const { return data_.get(); }
    void Clear();
    void LoadFromStream(TStream& source);
    void LoadFromFile(const std::string& fileName);
    void SaveToStream(TStream& target) const;
    void SaveToFile(const std::string& fileName) const;

private:
    void Reserve(std::int64_t capacity);

    std::unique_ptr<std::uint8_t[]> data_;
    std::int64_t size_ = 0;
    std::int64_t capacity_ = 0;
    std::int64_t position_ = 0;
};

// A stream over an open file descriptor, which it closes when it goes. The stream remembers
// its position once it has learnt it, so asking for it or seeking to it costs no system call:
// nothing else may move the descriptor's position while the stream uses it. Size() of a
// regular file is one fstat.
class THandleStream : public TStream {
public:
    explicit THandleStream(int handle) : handle_(handle) {}
    ~THandleStream() override;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override;
    void SetSize(std::int64_t size) override;
    int Handle() const { return handle_; }
    // Pushes written data to the disk.
    bool Flush();

protected:
    int handle_;

private:
    void Moved(std::int64_t count) {
        if (position_ >= 0 && count > 0)
            position_ += count;
    }
    std::int64_t position_ = -1; // not known yet
};

class TFileStream : public THandleStream {
public:
    // mode is fmCreate, or an open mode with share flags. Failures raise EFCreateError or
    // EFOpenError with the file name and the system's reason.
    TFileStream(const std::string& fileName, unsigned mode);
    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
};

} // namespace vcl
