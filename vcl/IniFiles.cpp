#include "vcl/IniFiles.h"

#include "platform/Profile.h"

#include <cerrno>

namespace vcl {

namespace {
constexpr std::size_t kValueBuffer = 2048;
constexpr std::size_t kSectionBuffer = 16384;
} // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {
}

TIniFile::TIniFile(std::string fileName, std::unique_ptr<platform::ProfileFile> memory)
    : fileName_(std::move(fileName)), memory_(std::move(memory)) {
}

TIniFile::~TIniFile() = default;

void TIniFile::Commit() {
    if (memory_ && !memory_->Save())
        WriteFailed();
}

TMemIniFile::TMemIniFile(std::string fileName)
    : TIniFile(fileName, std::make_unique<platform::ProfileFile>(fileName)) {
}

void TIniFile::WriteFailed() const {
    throw EIniFileException(Format("Impossible d'écrire dans %s", {fileName_}), errno);
}

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& fallback) const {
    return memory_ ? memory_->GetString(section, ident, fallback, kValueBuffer)
                   : platform::GetPrivateProfileString(section, ident, fallback, kValueBuffer,
                                                       fileName_);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& ident,
                          int fallback) const {
    std::string text = ReadString(section, ident, "");
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.replace(0, 2, "$");
    return StrToIntDef(text, fallback);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& ident, bool fallback) const {
    return ReadInteger(section, ident, fallback ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& ident,
                           const std::string& value) {
    bool written = memory_ ? memory_->WriteString(section, ident, value)
                           : platform::WritePrivateProfileString(section, ident, value, fileName_);
    if (!written)
        WriteFailed();
}

void TIniFile::WriteInteger(const std::string& section, const std::string& ident, int value) {
    WriteString(section, ident, IntToStr(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& ident, bool value) {
    WriteString(section, ident, value ? "1" : "0");
}

void TIniFile::ReadSection(const std::string& section, TStrings& names) const {
    names.Assign(memory_ ? memory_->KeyNames(section, kSectionBuffer)
                         : platform::GetPrivateProfileKeyNames(section, kSectionBuffer, fileName_));
}

void TIniFile::ReadSections(TStrings& names) const {
    names.Assign(memory_ ? memory_->SectionNames()
                         : platform::GetPrivateProfileSectionNames(fileName_));
}

bool TIniFile::SectionExists(const std::string& section) const {
    TStringList names;
    ReadSection(section, names);
    return names.Count() > 0;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& ident) const {
    TStringList names;
    ReadSection(section, names);
    return names.IndexOf(ident) >= 0;
}

void TIniFile::EraseSection(const std::string& section) {
    auto key = std::optional<std::string_view>();
    bool erased = memory_
                      ? memory_->WriteString(section, key, std::nullopt)
                      : platform::WritePrivateProfileString(section, key, std::nullopt, fileName_);
    if (!erased)
        WriteFailed();
}

// A key that cannot be removed is no error.
void TIniFile::DeleteKey(const std::string& section, const std::string& ident) {
    if (memory_)
        memory_->WriteString(section, ident, std::nullopt);
    else
        platform::WritePrivateProfileString(section, ident, std::nullopt, fileName_);
}

} // namespace vcl
