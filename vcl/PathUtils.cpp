#include "vcl/PathUtils.h"

#include "vcl/SysUtils.h"

#include <cerrno>
#include <climits>
#include <unistd.h>
#include <vector>

namespace vcl {

namespace {

std::vector<std::string_view> SplitFolders(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string_view::npos)
            slash = path.size();
        if (slash > start)
            parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

} // namespace

std::string GetCurrentDir() {
    std::string buffer(PATH_MAX, '\0');
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return "/";
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(buffer.find('\0'));
    return buffer;
}

std::string FoldPath(std::string_view path) {
    const bool network = path.size() > 2 && path[0] == '/' && path[1] == '/' && path[2] != '/';
    std::vector<std::string_view> kept;
    for (std::string_view part : SplitFolders(path)) {
        if (part == ".")
            continue;
        if (part == "..") {
            // On a network path the server name is part of the root.
            if (kept.size() > (network ? 1u : 0u))
                kept.pop_back();
            continue;
        }
        kept.push_back(part);
    }
    std::string out = network ? "/" : "";
    for (std::string_view part : kept) {
        out += '/';
        out += part;
    }
    if (out.empty())
        return "/";
    if (path.size() > 1 && path.back() == '/')
        out += '/';
    return out;
}

std::string ExpandFileNameFrom(std::string_view baseFolder, std::string_view fileName) {
    if (!fileName.empty() && fileName.front() == '/')
        return FoldPath(fileName);
    std::string base(baseFolder);
    if (base.empty() || base.front() != '/')
        base = GetCurrentDir() + "/" + base;
    return FoldPath(IncludeTrailingPathDelimiter(base) + std::string(fileName));
}

std::string ExpandFileName(std::string_view fileName) {
    if (!fileName.empty() && fileName.front() == '/')
        return FoldPath(fileName); // the current folder is not asked for what it cannot change
    return ExpandFileNameFrom(GetCurrentDir(), fileName);
}

std::string ExtractFileDrive(std::string_view path) {
    if (path.size() < 3 || path[0] != '/' || path[1] != '/' || path[2] == '/')
        return {};
    std::size_t server = path.find('/', 2);
    if (server == std::string_view::npos || server + 1 >= path.size())
        return {};
    std::size_t share = path.find('/', server + 1);
    return std::string(path.substr(0, share));
}

std::string ExtractRelativePath(std::string_view baseName, std::string_view destName) {
    if (ExtractFileDrive(baseName) != ExtractFileDrive(destName))
        return std::string(destName);
    std::string baseFolder = ExtractFilePath(baseName);
    std::vector<std::string_view> base = SplitFolders(baseFolder);
    std::string destFolder = ExtractFilePath(destName);
    std::vector<std::string_view> dest = SplitFolders(destFolder);
    std::size_t common = 0;
    while (common < base.size() && common < dest.size() && base[common] == dest[common])
        ++common;
    std::string out;
    for (std::size_t i = common; i < base.size(); ++i)
        out += "../";
    for (std::size_t i = common; i < dest.size(); ++i)
        out += std::string(dest[i]) + "/";
    return out + ExtractFileName(destName);
}

} // namespace vcl
