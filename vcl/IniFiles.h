// The INI-file object: named values in sections of a profile file, one file access per
// call. Creating it only records the path. TMemIniFile reads the file once and keeps every
// change in memory until UpdateFile writes them all in one replacement of the file.
#pragma once

#include "vcl/Classes.h"
#include "vcl/SysUtils.h"

#include <memory>
#include <string>

namespace platform {
class ProfileFile;
} // namespace platform

namespace vcl {

class EIniFileException : public Exception {
public:
    // error: the system's error number of the failed write, 0 when there is none.
    explicit EIniFileException(std::string message, int error = 0)
        : Exception(std::move(message)), error_(error) {}
    int ErrorCode() const { return error_; }

private:
    int error_;
};

class TIniFile : public TObject {
public:
    explicit TIniFile(std::string fileName);
    ~TIniFile() override;
    const std::string& FileName() const { return fileName_; }

    // Values come back through a buffer of 2048 characters: at most 2047 of them.
    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& fallback) const;
    // Decimal, or hexadecimal after "0x"; the default when the text does not convert.
    int ReadInteger(const std::string& section, const std::string& ident, int fallback) const;
    bool ReadBool(const std::string& section, const std::string& ident, bool fallback) const;

    // A refused write raises EIniFileException "Impossible d'écrire dans <file>".
    void WriteString(const std::string& section, const std::string& ident,
                     const std::string& value);
    void WriteInteger(const std::string& section, const std::string& ident, int value);
    void WriteBool(const std::string& section, const std::string& ident, bool value);

    // The key names of a section, as they fit in 16384 bytes.
    void ReadSection(const std::string& section, TStrings& names) const;
    void ReadSections(TStrings& names) const;
    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& ident) const;
    void EraseSection(const std::string& section);
    void DeleteKey(const std::string& section, const std::string& ident);

protected:
    // Every read and write goes to memory; nothing reaches the file until Commit.
    TIniFile(std::string fileName, std::unique_ptr<platform::ProfileFile> memory);
    // Writes the changes held in memory; a refused write raises as a direct one does.
    void Commit();

private:
    [[noreturn]] void WriteFailed() const;
    std::string fileName_;
    std::unique_ptr<platform::ProfileFile> memory_;
};

class TMemIniFile : public TIniFile {
public:
    explicit TMemIniFile(std::string fileName);
    // Replaces the file by the values in memory, in one atomic step: a crash leaves the
    // whole old file or the whole new one. Raises "Impossible d'écrire dans <file>" when
    // the file cannot be written (or could not be read, so as not to lose what it holds).
    void UpdateFile() { Commit(); }
};

} // namespace vcl
