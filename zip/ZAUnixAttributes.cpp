#include "zip/ZAUnixAttributes.h"

#include <limits>

namespace zip {

bool ExtendedTimestamp(std::time_t modified, TZAExtraField& record) {
    if (modified < std::numeric_limits<std::int32_t>::min() ||
        modified > std::numeric_limits<std::int32_t>::max())
        return false;
    const auto seconds = static_cast<std::uint32_t>(static_cast<std::int32_t>(modified));
    record.ID = ExtendedTimestampExtraId;
    record.Data = {
        0x01, static_cast<std::uint8_t>(seconds), static_cast<std::uint8_t>(seconds >> 8),
        static_cast<std::uint8_t>(seconds >> 16), static_cast<std::uint8_t>(seconds >> 24)};
    return true;
}

} // namespace zip
