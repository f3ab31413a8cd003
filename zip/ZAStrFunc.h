// How disk paths relate to archive names: the base folder, resolving a name against it, the
// name a disk file is stored under, and the drive tests. Everything is worked out as text
// (the process's current folder is read, never changed), so these are safe to call from any
// thread.
#pragma once

#include "zip/ZATypes.h"

#include <string>
#include <string_view>

namespace zip {

// baseDir with a trailing "/", or the current folder with one when baseDir is empty.
std::string BaseFolder(std::string_view baseDir);

// fileName as a full path taken from BaseFolder(baseDir), "." and ".." folded. With no
// fileName: the full path of the base folder, without a trailing "/", when it exists or
// baseDir is empty; otherwise baseDir as given.
std::string ResolvePath(std::string_view baseDir, std::string_view fileName);

// The name a disk file is stored under: "/" between folders and, except in
// spFullPathWithDrive, no leading separator and no server part of a network path.
//   spNoPath            the file name alone
//   spRelativePath      the path below the base folder; a file outside it keeps its full path
//   spFullPath          the full path
//   spFullPathWithDrive the full path with its root
std::string StoredFileName(std::string_view fileName, std::string_view baseDir,
                           TZAStorePathMode mode);
// The same, baseDir being what ResolvePath(baseDir, {}) gave: many names of one folder cost no
// look at the disk each.
std::string StoredFileNameIn(std::string_view resolvedBase, std::string_view fileName,
                             TZAStorePathMode mode);

// There are no drive letters, so there is no floppy drive: kept for the callers' rules.
bool IsFloppyDrive(std::string_view path);
// True when path lies on a removable medium.
bool IsRemovableDrive(std::string_view path);

} // namespace zip
