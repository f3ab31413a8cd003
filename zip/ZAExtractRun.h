// What one extraction run learns about its destination and keeps until the run ends: the
// folders found confined or made, and which folders lie on removable medium. The processing
// loop drops it when the run ends, so the next run looks at the disk afresh.
#pragma once

#include "zip/ZAExtractPath.h"

#include <string>
#include <unordered_map>
#include <utility>

namespace zip {

struct TZAExtractRun {
    explicit TZAExtractRun(std::string baseFolder) : BaseFolder(std::move(baseFolder)) {}

    std::string BaseFolder;
    TZAConfinedFolders Folders;
    std::unordered_map<std::string, bool> Removable; // by folder
};

} // namespace zip
