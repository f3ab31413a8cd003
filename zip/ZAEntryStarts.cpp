#include "zip/ZAEntryStarts.h"

#include "zip/ZARecords.h"

#include <algorithm>
#include <limits>

namespace zip {

std::int32_t EntryVolume(const TDirItem& entry) {
    return entry.CentralHeader.DiskNumberStart == Zip64Marker16
               ? entry.Zip64DiskNumberStart
               : std::int32_t{entry.CentralHeader.DiskNumberStart};
}

std::uint64_t EntryOffset(const TDirItem& entry) {
    return entry.CentralHeader.LocalHeaderOffset == Zip64Marker32
               ? entry.Zip64LocalHeaderOffset
               : entry.CentralHeader.LocalHeaderOffset;
}

std::uint64_t EntryCompressedSize(const TDirItem& entry) {
    return entry.CentralHeader.CompressedSize == Zip64Marker32 ? entry.Zip64CompressedSize
                                                               : entry.CentralHeader.CompressedSize;
}

TZAEntryStarts::TZAEntryStarts(TZADirArray& directory) {
    starts_.reserve(static_cast<std::size_t>(directory.Count()));
    for (std::int32_t i = 0; i < directory.Count(); ++i) {
        const TDirItem& entry = directory.ItemPtr(i);
        if (EntryCompressedSize(entry) != 0)
            starts_.emplace_back(EntryVolume(entry), EntryOffset(entry));
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
