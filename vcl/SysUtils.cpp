#include "vcl/SysUtils.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vcl {

namespace {

struct Spec {
    bool left = false;
    int width = -1;
    int precision = -1;
    char type = 0;
};

std::string Pad(std::string text, const Spec& spec) {
    if (spec.width > 0 && static_cast<int>(text.size()) < spec.width) {
        std::string fill(static_cast<std::size_t>(spec.width) - text.size(), ' ');
        text = spec.left ? text + fill : fill + text;
    }
    return text;
}

// Integer conversions: the precision is a minimum digit count, as in the framework.
std::string FormatInteger(std::int64_t value, const Spec& spec) {
    bool negative = false;
    std::string digits;
    switch (spec.type) {
    case 'd':
        negative = value < 0;
        digits = std::to_string(negative ? -static_cast<std::uint64_t>(value)
                                         : static_cast<std::uint64_t>(value));
        break;
    case 'u':
        digits = std::to_string(static_cast<std::uint32_t>(value));
        break;
    default: { // x, X
        std::uint64_t v = static_cast<std::uint64_t>(value);
        if (value < 0 && value >= INT32_MIN)
            v &= 0xFFFFFFFFu;
        char buffer[24];
        auto end = std::to_chars(buffer, buffer + sizeof buffer, v, 16).ptr;
        digits.assign(buffer, end);
        if (spec.type == 'X')
            digits = UpperCase(digits);
    }
    }
    if (spec.precision > static_cast<int>(digits.size()))
        digits.insert(0, static_cast<std::size_t>(spec.precision) - digits.size(), '0');
    return Pad(negative ? "-" + digits : digits, spec);
}

} // namespace

std::string Format(std::string_view format, const std::vector<FormatArg>& args) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (++i >= format.size())
            throw EConvertError("Format '" + std::string(format) + "' incorrect ou incompatible");
        if (format[i] == '%') {
            out += '%';
            continue;
        }
        Spec spec;
        if (format[i] == '-') {
            spec.left = true;
            ++i;
        }
        auto number = [&](int& target) {
            int n = 0;
            bool any = false;
            while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
                n = n * 10 + (format[i++] - '0');
                any = true;
            }
            if (any)
                target = n;
        };
        number(spec.width);
        if (i < format.size() && format[i] == '.') {
            ++i;
            spec.precision = 0;
            number(spec.precision);
        }
        if (i >= format.size())
            throw EConvertError("Format '" + std::string(format) + "' incorrect ou incompatible");
        spec.type = format[i];
        if (next >= args.size())
            throw EConvertError("Format '" + std::string(format) + "' incorrect ou incompatible");
        const FormatArg& arg = args[next++];
        switch (spec.type) {
        case 's':
            if (auto* s = std::get_if<std::string>(&arg)) {
                std::string text = *s;
                if (spec.precision >= 0 && static_cast<int>(text.size()) > spec.precision)
                    text.resize(static_cast<std::size_t>(spec.precision));
                out += Pad(std::move(text), spec);
                continue;
            }
            break;
        case 'd':
        case 'u':
        case 'x':
        case 'X':
            if (auto* n = std::get_if<std::int64_t>(&arg)) {
                out += FormatInteger(*n, spec);
                continue;
            }
            break;
        default:
            break;
        }
        throw EConvertError("Format '" + std::string(format) + "' incorrect ou incompatible");
    }
    return out;
}

std::string IntToStr(std::int64_t value) {
    return std::to_string(value);
}

std::string IntToHex(std::uint64_t value, int digits) {
    return Format("%." + std::to_string(digits) + "X", {static_cast<std::int64_t>(value)});
}

bool TryStrToInt(std::string_view text, int& value) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    }
    if (i >= text.size())
        return false;
    std::uint64_t magnitude = 0;
    auto [end, error] =
        std::from_chars(text.data() + i, text.data() + text.size(), magnitude, base);
    if (error != std::errc() || end != text.data() + text.size())
        return false;
    if (base == 16) {
        // Hexadecimal covers the full 32 bits, as the framework reads "$FFFFFFFF" as -1.
        if (magnitude > 0xFFFFFFFFull)
            return false;
        auto bits = static_cast<std::uint32_t>(magnitude);
        value = static_cast<int>(negative ? 0u - bits : bits);
        return true;
    }
    if (magnitude > (negative ? 2147483648ull : 2147483647ull))
        return false;
    value = negative ? static_cast<int>(-static_cast<std::int64_t>(magnitude))
                     : static_cast<int>(magnitude);
    return true;
}

int StrToIntDef(std::string_view text, int fallback) {
    int value;
    return TryStrToInt(text, value) ? value : fallback;
}

int StrToInt(std::string_view text) {
    int value;
    if (!TryStrToInt(text, value))
        throw EConvertError("'" + std::string(text) + "' n'est pas une valeur entière correcte");
    return value;
}

std::string Trim(std::string_view text) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    std::size_t b = 0, e = text.size();
    while (b < e && blank(text[b]))
        ++b;
    while (e > b && blank(text[e - 1]))
        --e;
    return std::string(text.substr(b, e - b));
}

std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

int CompareText(std::string_view a, std::string_view b) {
    auto lower = [](char c) {
        return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    };
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        int d = lower(a[i]) - lower(b[i]);
        if (d != 0)
            return d;
    }
    return static_cast<int>(a.size()) - static_cast<int>(b.size());
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareText(a, b) == 0;
}

bool StartsText(std::string_view prefix, std::string_view text) {
    return text.size() >= prefix.size() && SameText(prefix, text.substr(0, prefix.size()));
}

std::string ExtractFilePath(std::string_view path) {
    auto slash = path.rfind(PathDelim);
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string ExtractFileName(std::string_view path) {
    auto slash = path.rfind(PathDelim);
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExtractFileExt(std::string_view path) {
    auto slash = path.rfind(PathDelim);
    auto dot = path.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return std::string(path.substr(dot));
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
    std::string current = ExtractFileExt(path);
    return std::string(path.substr(0, path.size() - current.size())) + std::string(ext);
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
    std::string out(path);
    if (out.empty() || out.back() != PathDelim)
        out += PathDelim;
    return out;
}

std::string ExcludeTrailingPathDelimiter(std::string_view path) {
    std::string out(path);
    if (out.size() > 1 && out.back() == PathDelim)
        out.pop_back();
    return out;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string& path, unsigned mode) {
    return ::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

bool ForceDirectories(const std::string& path, unsigned mode) {
    std::string dir = ExcludeTrailingPathDelimiter(path);
    if (dir.empty())
        return false;
    if (DirectoryExists(dir))
        return true;
    std::string parent = ExtractFilePath(dir);
    if (!parent.empty() && parent != dir + "/" && !ForceDirectories(parent, mode))
        return false;
    return CreateDir(dir, mode) || (errno == EEXIST && DirectoryExists(dir));
}

bool DeleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

std::string SysErrorMessage(int error) {
    char buffer[256];
    // GNU strerror_r returns the text, which may not be the buffer.
    return ::strerror_r(error, buffer, sizeof buffer);
}

void Sleep(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace vcl
