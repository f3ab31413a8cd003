// Files' dates in the entries' form: the DOS date in the high 16 bits and the DOS time in the
// low 16 bits, in local time, compared as signed 32-bit numbers.
#pragma once

#include "zip/ZADirArray.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace zip {

// A time as a DOS date-time; times before 1980 give the first one, times after 2107 the last.
std::int32_t DosDateTimeFrom(std::time_t when);
// The modification time of the file at path, or -1 when there is none.
std::int32_t DosFileAge(const std::string& path);
std::int32_t DosDateTimeNow();
// Sets the modification (and access) time of an open file; false, and nothing changed, when
// the value holds an impossible date or time.
bool SetDosFileTime(int handle, std::int32_t dosDateTime);

// The entry's date-time as a DOS date-time in local time: the extended timestamp's time when
// the entry has one, else the DOS date and time of its header.
std::int32_t EntryDosDateTime(const TDirItem& entry);
// Gives an extracted file its entry's modification (and access) time: the extended timestamp's
// UTC seconds when the entry has one, so that the time does not depend on the zone the
// archive was made or is read in; otherwise the DOS date-time, taken as local time.
bool SetEntryFileTime(int handle, const TDirItem& entry);

} // namespace zip
