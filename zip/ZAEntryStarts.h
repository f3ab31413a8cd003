// Where the entries' local headers stand, volume by volume and in file order, so that an
// entry's data can be checked against the entry that follows it: no two entries share
// bytes, and an archive cannot give out more data than it holds.
#pragma once

#include "zip/ZADirArray.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace zip {

// The volume an entry starts on, as a number the volume events can show.
std::int32_t EntryVolume(const TDirItem& entry);

class TZAEntryStarts {
public:
    // Only entries that hold data count: folders and empty files name no bytes of their own
    // (and the prefix correction leaves folder offsets as they were written).
    explicit TZAEntryStarts(TZADirArray& directory);

    // More than one entry holding data starts at that place.
    bool Shared(std::int32_t volume, std::uint64_t offset) const;
    // The first start after offset on the same volume; UINT64_MAX when none follows.
    std::uint64_t Next(std::int32_t volume, std::uint64_t offset) const;

private:
    std::vector<std::pair<std::int32_t, std::uint64_t>> starts_; // sorted
};

} // namespace zip
