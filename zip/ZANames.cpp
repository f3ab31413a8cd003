#include "zip/ZANames.h"

#include "platform/CodePages.h"
#include "zip/ZACrc32.h"
#include "zip/ZARecords.h"
#include "zip/ZAUtf8.h"

#include <algorithm>

namespace zip {

namespace {

std::string_view UpToNul(std::string_view s) {
    return s.substr(0, std::min(s.find('\0'), s.size()));
}

// The name a Unicode path record gives for this name field, when it is one for it.
bool UnicodePath(const std::vector<TZAExtraField>& extra, std::string_view field,
                 std::string& name) {
    const TZAExtraField* record = FindExtraField(extra, UnicodePathExtraId);
    if (!record || record->Data.size() < 5 || record->Data[0] != 1)
        return false;
    RecordReader r(record->Data.data(), record->Data.size());
    r.skip(1);
    const std::uint32_t crc = r.u32();
    if (crc != ~UpdateCrc32(Crc32Start, field.data(), static_cast<std::int64_t>(field.size())))
        return false;
    std::string text = r.bytes(r.remaining());
    // A record that holds no UTF-8 is no better than the name field.
    if (!IsValidUtf8(UpToNul(text)))
        return false;
    name = std::move(text);
    return true;
}

} // namespace

bool IsPlainName(std::string_view field) {
    return std::all_of(field.begin(), field.end(),
                       [](char c) { return c >= 0x20 && c < 0x7F && c != '\\'; });
}

TZAStoredName DecodeStoredName(std::string_view field, std::uint16_t versionMadeBy,
                               std::uint16_t flags, const std::vector<TZAExtraField>& extra,
                               bool oemFileNames) {
    TZAStoredName out;
    const std::string_view stored = UpToNul(field);
    out.TooLong = stored.size() > MaxStoredNameBytes;
    std::string unicode;
    if ((flags & FlagUtf8Names) != 0)
        out.Name = stored;
    else if (UnicodePath(extra, field, unicode))
        out.Name = UpToNul(unicode);
    else if (MadeByHost(versionMadeBy) == HostUnix && IsValidUtf8(stored))
        out.Name = stored;
    else if (oemFileNames)
        out.Name = platform::OemToAnsi(stored);
    else
        out.Name = stored;
    std::replace(out.Name.begin(), out.Name.end(), '\\', '/');
    return out;
}

std::string EntryNameBytes(const TDirItem& entry, bool oemFileNames) {
    // A name still as it was read goes back as the bytes it was read from: UTF-8 from a Unix
    // host, or a name from a Unicode path record, would not come back from the conversion
    // below, and the local header keeps the bytes it has.
    const TDirItemDetail& d = entry.Detail();
    if (!d.NameField.empty() && entry.StoredName == d.NameFieldText)
        return d.NameField.str();
    if (!oemFileNames || (entry.CentralHeader.Flags & FlagUtf8Names) != 0)
        return entry.StoredName.str();
    std::string oem;
    platform::AnsiToOem(entry.StoredName, oem);
    return oem;
}

void ChooseNameEncoding(TDirItem& entry, bool oemFileNames) {
    // Names on this system are UTF-8: a name that is not plain ASCII is written as it is,
    // flagged, even where the OEM code page could hold it, so that every reader shows the
    // characters it has. ASCII names are the same bytes in every code page.
    (void)oemFileNames;
    const std::string_view name = entry.StoredName;
    if (!std::all_of(name.begin(), name.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        entry.CentralHeader.Flags |= FlagUtf8Names;
}

} // namespace zip
