// What one extraction run learns about its destination and keeps until the run ends: the
// folders found confined or made, which folders lie on removable medium, the umask. The processing
// loop drops it when the run ends, so the next run looks at the disk afresh.
#pragma once

#include "platform/FileAttributes.h"
#include "zip/ZAExtractPath.h"

#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <utility>

namespace zip {

struct TZAExtractRun {
    explicit TZAExtractRun(std::string baseFolder) : BaseFolder(std::move(baseFolder)) {}

    std::string BaseFolder;
    TZAConfinedFolders Folders;
    std::unordered_map<std::string, bool> Removable; // by folder
    mode_t Umask = platform::ProcessUmask();
};

} // namespace zip
