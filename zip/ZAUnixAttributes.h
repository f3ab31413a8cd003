// What an entry written on this system records of its file, so that peers and the engine
// give it back exactly: the host "Unix" in version made by, the file's mode in the high half
// of the external attributes (the DOS attributes stay in the low byte), and the modification
// time in UTC in an extended-timestamp record beside the local DOS time.
#pragma once

#include "zip/ZADirArray.h"
#include "zip/ZAFileDates.h"
#include "zip/ZARecords.h"

#include <cstdint>
#include <ctime>
#include <sys/types.h>

namespace zip {

// version (as the version rule gives it) with the host Unix in its high byte.
constexpr std::uint16_t UnixVersionMadeBy(std::uint16_t version) {
    return static_cast<std::uint16_t>(HostUnix << 8 | (version & 0xFF));
}

constexpr std::uint32_t UnixExternalAttributes(mode_t mode, std::uint32_t dosAttributes) {
    return static_cast<std::uint32_t>(mode & 0xFFFF) << 16 | (dosAttributes & 0xFF);
}

// The record with the modification time alone (flag bit 0); false for a time the record's
// signed 32-bit seconds cannot hold.
bool ExtendedTimestamp(std::time_t modified, TZAExtraField& record);

} // namespace zip
