#include "zip/ZAStrFunc.h"

#include "platform/Drives.h"
#include "vcl/PathUtils.h"
#include "vcl/SysUtils.h"

#include <algorithm>

namespace zip {

namespace {

// Archive names may come with either separator; both count when a stored name is cut.
bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// Whether a path steps out of its folder: a part that is "..", not one that merely ends in
// dots ("testfi../txt" is a folder of that name).
bool ClimbsUp(std::string_view path) {
    std::size_t from = 0;
    for (;;) {
        const std::size_t to = path.find_first_of("/\\", from);
        if (path.substr(from, to == std::string_view::npos ? to : to - from) == "..")
            return true;
        if (to == std::string_view::npos)
            return false;
        from = to + 1;
    }
}

} // namespace

std::string BaseFolder(std::string_view baseDir) {
    return vcl::IncludeTrailingPathDelimiter(baseDir.empty() ? vcl::GetCurrentDir()
                                                             : std::string(baseDir));
}

std::string ResolvePath(std::string_view baseDir, std::string_view fileName) {
    std::string base = BaseFolder(baseDir);
    if (!fileName.empty())
        return vcl::ExpandFileNameFrom(base, fileName);
    if (baseDir.empty() || vcl::DirectoryExists(base))
        return vcl::ExcludeTrailingPathDelimiter(vcl::ExpandFileName(base));
    return std::string(baseDir);
}

std::string StoredFileName(std::string_view fileName, std::string_view baseDir,
                           TZAStorePathMode mode) {
    return StoredFileNameIn(ResolvePath(baseDir, {}), fileName, mode);
}

std::string StoredFileNameIn(std::string_view baseAbs, std::string_view fileName,
                             TZAStorePathMode mode) {
    std::string full = ResolvePath(baseAbs, fileName);
    // A folder is stored without its trailing separator. A trailing "." is a name of its
    // own here (no file system drops it), and "." parts are already folded.
    if (!full.empty() && IsSeparator(full.back()))
        full.pop_back();

    switch (mode) {
    case spNoPath: {
        auto cut = full.find_last_of("/\\");
        if (cut != std::string::npos)
            full.erase(0, cut + 1);
        break;
    }
    case spRelativePath: {
        std::string relative = vcl::ExtractRelativePath(BaseFolder(baseAbs), full);
        if (!ClimbsUp(relative))
            full = relative;
        break;
    }
    case spFullPath:
        break;
    case spFullPathWithDrive:
        full = vcl::ExpandFileName(full);
        break;
    }

    std::size_t start = 0;
    if (mode != spFullPathWithDrive && full.size() >= 2) {
        // A network path: drop "//server/" and keep the share name.
        for (std::size_t i = 0; i + 1 < full.size(); ++i) {
            if (IsSeparator(full[i]) && IsSeparator(full[i + 1])) {
                start = i + 2;
                auto next = std::find_if(full.begin() + static_cast<std::ptrdiff_t>(start),
                                         full.end(), IsSeparator);
                if (next != full.end())
                    start = static_cast<std::size_t>(next - full.begin()) + 1;
                break;
            }
        }
    }
    if (mode != spFullPathWithDrive && start < full.size() && IsSeparator(full[start]))
        ++start;

    std::string stored = full.substr(std::min(start, full.size()));
    std::replace(stored.begin(), stored.end(), '\\', '/');
    return stored;
}

bool IsFloppyDrive(std::string_view path) {
    std::string drive = vcl::UpperCase(vcl::ExtractFileDrive(path));
    return drive == "A:" || drive == "B:";
}

bool IsRemovableDrive(std::string_view path) {
    return IsFloppyDrive(path) || platform::IsRemovablePath(vcl::ExpandFileName(path));
}

} // namespace zip
