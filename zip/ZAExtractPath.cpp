#include "zip/ZAExtractPath.h"

#include "vcl/PathUtils.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace zip {

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// A Windows drive ("c:"): on Windows the name would be a full path, so it is one here too.
bool HasDrive(std::string_view name) {
    return name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]));
}

std::string RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

bool Inside(const std::string& path, const std::string& folder) {
    if (folder == "/")
        return true;
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

} // namespace

namespace {

std::string Confine(const std::string& baseFolder, std::string_view name, TZAConfinedFolders* known,
                    bool lastIsNew) {
    if (baseFolder.empty())
        return {};
    // Two leading separators name a network share, a drive letter a full path: neither lies
    // below the base folder. One leading separator is only a root the entry is taken from.
    if ((name.size() >= 2 && IsSeparator(name[0]) && IsSeparator(name[1])) || HasDrive(name))
        return {};
    if (!name.empty() && IsSeparator(name.front()))
        name.remove_prefix(1);

    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end]))
            ++end;
        std::string_view part = name.substr(start, end - start);
        if (part == "..") {
            if (parts.empty())
                return {};
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.emplace_back(part);
        }
        start = end + 1;
    }

    // A relative base folder stands below the current folder, as the file functions would
    // take it.
    std::string base = baseFolder.front() == '/' ? baseFolder : vcl::ExpandFileName(baseFolder);
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    std::string path = base;

    // An existing part that is a link must stay inside the base folder, or writing through
    // it would land elsewhere. Parts that do not exist yet become real folders.
    std::string realBase;
    bool checking = true;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        path += (path == "/" ? "" : "/") + parts[i];
        if (!checking || (lastIsNew && i + 1 == parts.size()))
            continue;
        if (known && known->Contains(path))
            continue;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            checking = false;
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            if (realBase.empty())
                realBase = RealPath(base);
            std::string real = RealPath(path);
            if (realBase.empty() || real.empty() || !Inside(real, realBase))
                return {};
            if (known && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                known->Add(path);
        } else if (known && S_ISDIR(st.st_mode)) {
            known->Add(path);
        }
    }
    return path;
}

} // namespace

std::string ConfinedPath(const std::string& baseFolder, std::string_view name) {
    return Confine(baseFolder, name, nullptr, false);
}

std::string ConfinedPath(const std::string& baseFolder, std::string_view name,
                         TZAConfinedFolders& known, bool lastIsNew) {
    return Confine(baseFolder, name, &known, lastIsNew);
}

bool RelativeToBase(const std::string& baseFolder, std::string_view path, std::string& relative) {
    if (path.empty() || path.front() != '/') {
        relative = path;
        return true;
    }
    std::string base = baseFolder.empty() || baseFolder.front() == '/'
                           ? baseFolder
                           : vcl::ExpandFileName(baseFolder);
    if (base.empty() || base.back() != '/')
        base += '/';
    if (path.substr(0, base.size()) != base)
        return false;
    path.remove_prefix(base.size());
    // What is left is relative: a further leading separator would make it a share name.
    while (!path.empty() && IsSeparator(path.front()))
        path.remove_prefix(1);
    relative = path;
    return true;
}

std::string ConfinedFullPath(const std::string& baseFolder, std::string_view path) {
    std::string relative;
    if (!RelativeToBase(baseFolder, path, relative))
        return {};
    return ConfinedPath(baseFolder, relative);
}

} // namespace zip
