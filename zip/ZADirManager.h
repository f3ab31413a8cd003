// The open archive's directory: the live entries, the copy the update pass rolls back to, and
// the size of a self-extractor prefix in front of the first local header.
#pragma once

#include "vcl/Classes.h"
#include "zip/ZADirArray.h"
#include "zip/ZARecords.h"

#include <cstdint>
#include <string>

namespace zip {

class TZADirManager : public vcl::TObject {
public:
    TZADirArray Directory;
    TZADirArray SavedDirectory;
    // The end record held in memory; its signature chooses the record set the writer uses.
    TEndOfCentralDir EndRecord;
    std::int64_t PrefixSize = 0;
    // Where the first central header stands; outside multi-volume mode entry data ends there.
    std::int64_t DirStart = 0;
    bool IsZip64 = false;
    TZip64EndLocator Zip64Locator;
    TZip64EndOfCentralDir Zip64EndRecord;
    std::string ArcComment;
};

} // namespace zip
