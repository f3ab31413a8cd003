// The archive-side search behind FindFirst and FindNext: the name and attribute tests and
// the filling of the item found.
#include "zip/ZASearch.h"
#include "vcl/SysUtils.h"
#include "zip/ZADirManager.h"
#include "zip/ZAMasks.h"
#include "zip/ZARecords.h"
#include "zip/ZipArchiver.h"

#include <algorithm>
#include <cctype>

namespace zip {

namespace {

// The folder part of a name: '/' turned into '\', everything up to the last '\', lower case.
std::string FolderPart(std::string name) {
    std::replace(name.begin(), name.end(), '/', '\\');
    std::size_t slash = name.rfind('\\');
    return vcl::LowerCase(slash == std::string::npos ? std::string() : name.substr(0, slash));
}

// A "\" in a stored name counts as a folder separator too.
std::string WithSlashes(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// The drive part of a search mask: a drive letter with its colon (masks may still be
// written the Windows way), or the "//server/share" head of a network path.
std::size_t DrivePartLength(const std::string& mask) {
    if (mask.size() >= 2 && mask[1] == ':' && std::isalpha(static_cast<unsigned char>(mask[0])))
        return 2;
    if (mask.size() >= 2 && mask[0] == '/' && mask[1] == '/') {
        std::size_t server = mask.find('/', 2);
        if (server == std::string::npos)
            return mask.size();
        std::size_t share = mask.find('/', server + 1);
        return share == std::string::npos ? mask.size() : share;
    }
    return 0;
}

} // namespace

void FillArchiveItem(const TDirItem& entry, TZAArchiveItem& item) {
    const TZACentralHeader& h = entry.CentralHeader;
    std::string_view name = entry.StoredName;
    if (!name.empty() && (name.back() == '/' || name.back() == '\\'))
        name.remove_suffix(1);
    const auto slash = name.find_last_of("/\\");
    const std::size_t cut = slash == std::string_view::npos ? 0 : slash + 1;
    // Assigned into the item's own strings, which a search reuses from entry to entry.
    item.FileName.assign(name.substr(cut));
    item.Folder.assign(name.substr(0, cut));
    std::replace(item.Folder.begin(), item.Folder.end(), '\\', '/');
    item.PackedSize = static_cast<std::int64_t>(entry.CompressedSize);
    item.UnpackedSize = static_cast<std::int64_t>(entry.UncompressedSize);
    if (item.UnpackedSize > 0) {
        item.SavingRatio =
            (1.0 - static_cast<double>(item.PackedSize) / static_cast<double>(item.UnpackedSize)) *
            100.0;
        item.SavingRatio = std::max(item.SavingRatio, 0.0);
    } else {
        item.SavingRatio = 100;
    }
    item.Encrypted = (h.Flags & FlagEncrypted) != 0;
    item.DosDate = h.Date;
    item.DosTime = h.Time;
    item.CRC = h.Crc32;
    item.Attributes = h.ExternalAttributes;
    item.Comment = entry.Detail().Comment.View();
}

bool TZABaseArchiver::FindFirst(const std::string& FileMask, TZAArchiveItem& Item,
                                std::int32_t SearchAttr, const std::string& ExclusionMask) {
    std::string mask = WithSlashes(FileMask);
    if (FOptions->StorePath != spFullPathWithDrive)
        mask.erase(0, DrivePartLength(mask));
    // A longer mask could only be cut, and a cut mask would match other entries.
    if (mask.size() > TInternalSearchRec::MaxMaskLength)
        return false;
    Item.Search.Mask = mask;
    Item.Search.ExclusionMask = ExclusionMask;
    Item.Search.MaskList = false;
    Item.Search.AttributeFilter = SearchAttr;
    Item.Search.EntryIndex = 0;
    return FindNextMatch(Item);
}

bool TZABaseArchiver::FindNext(TZAArchiveItem& Item) {
    ++Item.Search.EntryIndex;
    return FindNextMatch(Item);
}

bool TZABaseArchiver::AttributesMatch(std::uint32_t Attr, std::int32_t SearchAttr) {
    return (~static_cast<std::uint32_t>(SearchAttr) & faSearchedAttributes & Attr) == 0;
}

bool TZABaseArchiver::MatchEntryName(std::int32_t Index, const TZAArchiveItem& Item) {
    std::string_view name = FDirManager->Directory.ItemPtr(Index).StoredName;
    if (!name.empty() && (name.back() == '\\' || name.back() == '/'))
        name.remove_suffix(1);
    if (MatchesFileMask(name, Item.Search.Mask))
        return true;
    const std::size_t slash = name.find_last_of("/\\");
    return slash != std::string_view::npos &&
           MatchesFileMask(name.substr(slash + 1), Item.Search.Mask);
}

bool TZABaseArchiver::FindNextMatch(TZAArchiveItem& Item) {
    if (!FDirManager)
        return false;
    const TZADirArray& dir = FDirManager->Directory;
    const std::string maskFolder = FolderPart(Item.Search.Mask);
    for (std::int32_t i = std::max(Item.Search.EntryIndex, 0); i < dir.Count(); ++i) {
        TDirItem& entry = FDirManager->Directory.ItemPtr(i);
        if (!FOptions->Recurse) {
            std::string name = entry.StoredName.str();
            if (!name.empty() && name.back() == '/')
                name.pop_back();
            if (FolderPart(name) != maskFolder)
                continue;
        }
        if (!MatchEntryName(i, Item))
            continue;
        if (!AttributesMatch(entry.CentralHeader.ExternalAttributes, Item.Search.AttributeFilter))
            continue;
        Item.Search.EntryIndex = i;
        FillArchiveItem(entry, Item);
        return true;
    }
    return false;
}

} // namespace zip
