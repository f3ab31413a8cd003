// Where the bytes of a stored name become the name the engine holds: UTF-8 with '/' between
// folders. Archives from DOS and Windows hold their names in the OEM code page, those from
// Unix usually in UTF-8 without saying so, and Info-ZIP adds the UTF-8 form in an extra
// record when it stores another.
#pragma once

#include "zip/ZADirArray.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zip {

// Info-ZIP's Unicode path record: version 1, the CRC-32 of the name field it stands for,
// then that name in UTF-8.
inline constexpr std::uint16_t UnicodePathExtraId = 0x7075;
// The longest name the engine holds, in stored bytes; a longer one is kept whole but its
// entry cannot be extracted.
inline constexpr std::size_t MaxStoredNameBytes = 999;

struct TZAStoredName {
    std::string Name;
    bool TooLong = false; // more than MaxStoredNameBytes before its first NUL
};

// A name field of printable ASCII without '\': each rule of DecodeStoredName reads it as its
// own bytes, unless a Unicode path record names the entry otherwise.
bool IsPlainName(std::string_view field);

// The name from its stored bytes (the whole name field) and the header and extra records
// that say how to read them, in this order:
// 1. flag bit 11: the bytes are UTF-8;
// 2. a Unicode path record whose CRC-32 matches the name field: the name it holds;
// 3. made on Unix and valid UTF-8: the bytes are UTF-8;
// 4. oemFileNames: the bytes are CP850;
// 5. otherwise the bytes as they stand.
// The name ends at its first NUL, and every '\' becomes '/'.
TZAStoredName DecodeStoredName(std::string_view field, std::uint16_t versionMadeBy,
                               std::uint16_t flags, const std::vector<TZAExtraField>& extra,
                               bool oemFileNames);

// The name as it goes on disk: in the OEM code page when the archive keeps its names that way,
// except for a name flagged as UTF-8 (general-purpose bit 11), which stands as it is.
std::string EntryNameBytes(const TDirItem& entry, bool oemFileNames);
// Before a new entry is written: a name that is not plain ASCII is flagged as UTF-8, so that
// readers see the characters it has.
void ChooseNameEncoding(TDirItem& entry, bool oemFileNames);

} // namespace zip
