// The framework's run-time basics: the exception base, Format, and the string and file
// helpers every layer above uses. Strings are UTF-8 byte strings throughout.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vcl {

// Base of every exception the framework and the programs raise: it carries the message
// text the user sees.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    void SetMessage(std::string message) { message_ = std::move(message); }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// A text that does not convert to the requested number or date.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A list or grid index outside its bounds.
class EListError : public Exception {
public:
    using Exception::Exception;
};

// One argument of Format: an integer or a text.
using FormatArg = std::variant<std::int64_t, std::string>;

// Formats like the framework's Format: %s, %d, %u, %x/%X, %% with optional "-", width and
// precision ("%5d", "%.3u", "%-10s"). The format is data, never handed to printf. Arguments
// past the last placeholder are ignored; a missing or mistyped argument raises EConvertError.
std::string Format(std::string_view format, const std::vector<FormatArg>& args);

std::string IntToStr(std::int64_t value);
std::string IntToHex(std::uint64_t value, int digits);
// Decimal with an optional sign, or hexadecimal after "$"; leading blanks allowed, nothing
// after the digits, within the 32-bit range.
bool TryStrToInt(std::string_view text, int& value);
int StrToIntDef(std::string_view text, int fallback);
int StrToInt(std::string_view text); // EConvertError when it does not convert

std::string Trim(std::string_view text);      // drops characters up to and including blank
std::string UpperCase(std::string_view text); // ASCII letters only
std::string LowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b); // ASCII case-insensitive
int CompareText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view text);

// Paths: "/" is the folder separator; these work on the text only.
constexpr char PathDelim = '/';
std::string ExtractFilePath(std::string_view path); // up to and including the last "/"
std::string ExtractFileName(std::string_view path);
std::string ExtractFileExt(std::string_view path); // from the last "." of the name part
std::string ChangeFileExt(std::string_view path, std::string_view ext);
std::string IncludeTrailingPathDelimiter(std::string_view path);
std::string ExcludeTrailingPathDelimiter(std::string_view path);

// File system.
bool FileExists(const std::string& path);      // a file that is not a folder
bool DirectoryExists(const std::string& path); // follows links
bool CreateDir(const std::string& path, unsigned mode = 0777);
bool ForceDirectories(const std::string& path, unsigned mode = 0777);
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
std::string SysErrorMessage(int error);

// Suspends the calling thread; window messages wait meanwhile.
void Sleep(unsigned milliseconds);

} // namespace vcl
