// The archive-side search behind FindFirst and FindNext: the name and attribute tests and
// the filling of the item found.
#include "vcl/SysUtils.h"
#include "zip/ZADirManager.h"
#include "zip/ZAEngine.h"
#include "zip/ZAMasks.h"
#include "zip/ZipArchiver.h"

#include <algorithm>

namespace zip {

namespace {

// The folder part of a name: '/' turned into '\', everything up to the last '\', lower case.
std::string FolderPart(std::string name) {
    std::replace(name.begin(), name.end(), '/', '\\');
    std::size_t slash = name.rfind('\\');
    return vcl::LowerCase(slash == std::string::npos ? std::string() : name.substr(0, slash));
}

} // namespace

bool TZABaseArchiver::AttributesMatch(std::uint32_t Attr, std::int32_t SearchAttr) {
    return (~static_cast<std::uint32_t>(SearchAttr) & faSearchedAttributes & Attr) == 0;
}

bool TZABaseArchiver::MatchEntryName(std::int32_t Index, const TZAArchiveItem& Item) {
    std::string name = FDirManager->Directory.ItemPtr(Index).StoredName;
    if (!name.empty() && (name.back() == '\\' || name.back() == '/'))
        name.pop_back();
    if (MatchesFileMask(name, Item.Search.Mask))
        return true;
    std::replace(name.begin(), name.end(), '/', '\\');
    std::size_t slash = name.rfind('\\');
    const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    return MatchesFileMask(last, Item.Search.Mask);
}

bool TZABaseArchiver::FindNextMatch(TZAArchiveItem& Item) {
    if (!FDirManager)
        return false;
    const TZADirArray& dir = FDirManager->Directory;
    const std::string maskFolder = FolderPart(Item.Search.Mask);
    for (std::int32_t i = std::max(Item.Search.EntryIndex, 0); i < dir.Count(); ++i) {
        TDirItem& entry = FDirManager->Directory.ItemPtr(i);
        if (!FOptions->Recurse) {
            std::string name = entry.StoredName;
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
