// Drive tests. There are no drive letters: a path counts as removable when the block device
// that holds it says so, or when a test has declared a folder above it removable.
#pragma once

#include <string>

namespace platform {

// True when the nearest existing folder of path lies on a device whose sysfs entry (or that
// of the disk holding the partition) reports removable=1, or inside a declared folder.
bool IsRemovablePath(const std::string& path);

// Lets tests treat everything below folder (an absolute path) as removable medium.
void DeclareRemovableFolder(const std::string& folder);
void ClearRemovableFolders();

} // namespace platform
