// Which volume of a multi-volume archive the archive stream has open: its file name and its
// number and kind. The volume writer, the directory writer and the data reader switch
// volumes through it.
#pragma once

#include "zip/ZAOptions.h"

#include <string>

namespace zip {

class TZAVolumeState {
public:
    // The file the archive stream currently has open.
    std::string CurrentVolumeName;
    TZAVolumeNumberInfo Info;
};

} // namespace zip
