#include "vcl/IniFiles.h"

#include "platform/Profile.h"

namespace vcl {

namespace {
constexpr std::size_t kValueBuffer = 2048;
constexpr std::size_t kSectionBuffer = 16384;
} // namespace

void TIniFile::WriteFailed() const {
    throw EIniFileException(Format("Impossible d'écrire dans %s", {fileName_}));
}

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& fallback) const {
    return platform::GetPrivateProfileString(section, ident, fallback, kValueBuffer, fileName_);
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
    if (!platform::WritePrivateProfileString(section, ident, value, fileName_))
        WriteFailed();
}

void TIniFile::WriteInteger(const std::string& section, const std::string& ident, int value) {
    WriteString(section, ident, IntToStr(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& ident, bool value) {
    WriteString(section, ident, value ? "1" : "0");
}

void TIniFile::ReadSection(const std::string& section, TStrings& names) const {
    names.Assign(platform::GetPrivateProfileKeyNames(section, kSectionBuffer, fileName_));
}

void TIniFile::ReadSections(TStrings& names) const {
    names.Assign(platform::GetPrivateProfileSectionNames(fileName_));
}

bool TIniFile::SectionExists(const std::string& section) const {
    return !platform::GetPrivateProfileKeyNames(section, kSectionBuffer, fileName_).empty();
}

bool TIniFile::ValueExists(const std::string& section, const std::string& ident) const {
    TStringList names;
    ReadSection(section, names);
    return names.IndexOf(ident) >= 0;
}

void TIniFile::EraseSection(const std::string& section) {
    if (!platform::WritePrivateProfileString(section, std::nullopt, std::nullopt, fileName_))
        WriteFailed();
}

void TIniFile::DeleteKey(const std::string& section, const std::string& ident) {
    platform::WritePrivateProfileString(section, ident, std::nullopt, fileName_);
}

} // namespace vcl
