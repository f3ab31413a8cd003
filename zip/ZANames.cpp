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
    else if ((versionMadeBy >> 8) == HostUnix && IsValidUtf8(stored))
        out.Name = stored;
    else if (oemFileNames)
        out.Name = platform::OemToAnsi(stored);
    else
        out.Name = stored;
    std::replace(out.Name.begin(), out.Name.end(), '\\', '/');
    return out;
}

} // namespace zip
