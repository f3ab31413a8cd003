// The INI-file object: named values in sections of a profile file, one file access per
// call. Creating it only records the path.
#pragma once

#include "vcl/Classes.h"
#include "vcl/SysUtils.h"

#include <string>

namespace vcl {

class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

class TIniFile : public TObject {
public:
    explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}
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

private:
    [[noreturn]] void WriteFailed() const;
    std::string fileName_;
};

} // namespace vcl
