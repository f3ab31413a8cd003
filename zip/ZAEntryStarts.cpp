#include "zip/ZAEntryStarts.h"

#include "zip/ZADirManager.h"

#include <algorithm>
#include <limits>

namespace zip {

std::int32_t EntryVolume(const TDirItem& entry) {
    return static_cast<std::int32_t>(
        std::min<std::uint64_t>(entry.DiskNumberStart(), MaxVolumeNumber));
}

TZAEntryStarts::TZAEntryStarts(TZADirArray& directory) {
    starts_.reserve(static_cast<std::size_t>(directory.Count()));
    for (std::int32_t i = 0; i < directory.Count(); ++i) {
        const TDirItem& entry = directory.ItemPtr(i);
        if (entry.CompressedSize != 0)
            starts_.emplace_back(EntryVolume(entry), entry.LocalHeaderOffset);
    }
    std::sort(starts_.begin(), starts_.end());
}

bool TZAEntryStarts::Shared(std::int32_t volume, std::uint64_t offset) const {
    const auto range = std::equal_range(starts_.begin(), starts_.end(), std::pair{volume, offset});
    return range.second - range.first > 1;
}

std::uint64_t TZAEntryStarts::Next(std::int32_t volume, std::uint64_t offset) const {
    const auto it = std::upper_bound(starts_.begin(), starts_.end(), std::pair{volume, offset});
    return it != starts_.end() && it->first == volume ? it->second
                                                      : std::numeric_limits<std::uint64_t>::max();
}

} // namespace zip
