// Full-path expansion and relative paths, worked out on the text alone: "." and ".." are
// folded lexically, never by following links, and a name is joined to a folder as text.
#pragma once

#include <string>
#include <string_view>

namespace vcl {

// The process's current folder, without a trailing "/" (except for the root).
std::string GetCurrentDir();

// Folds "." and ".." parts and runs of "/" in an absolute path. ".." never climbs above the
// root. Exactly two leading slashes stay, as they name a network path ("//server/share");
// a trailing "/" stays.
std::string FoldPath(std::string_view path);

// The full path of fileName: taken from baseFolder when it is relative (baseFolder itself
// taken from the current folder when it is relative), then folded.
std::string ExpandFileName(std::string_view fileName);
std::string ExpandFileNameFrom(std::string_view baseFolder, std::string_view fileName);

// The drive part of a path: "//server/share" for a network path, otherwise empty, as there
// are no drive letters.
std::string ExtractFileDrive(std::string_view path);

// destName relative to the folder of baseName (the part up to its last "/"): the common
// leading folders are dropped and every remaining folder of the base becomes "../". When the
// two lie on different drives destName comes back unchanged.
std::string ExtractRelativePath(std::string_view baseName, std::string_view destName);

} // namespace vcl
