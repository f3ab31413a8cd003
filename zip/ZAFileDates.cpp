#include "zip/ZAFileDates.h"

#include "platform/FileAttributes.h"
#include "zip/ZARecords.h"

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace zip {

std::int32_t DosDateTimeFrom(std::time_t when) {
    std::tm tm{};
    if (!::localtime_r(&when, &tm))
        return CombineDosDateTime(PackDosDate(TDosDateTime{}), 0);
    TDosDateTime t;
    t.Year = tm.tm_year + 1900;
    t.Month = tm.tm_mon + 1;
    t.Day = tm.tm_mday;
    t.Hour = tm.tm_hour;
    t.Minute = tm.tm_min;
    t.Second = tm.tm_sec > 59 ? 58 : tm.tm_sec; // a leap second
    if (t.Year < 1980)
        t = TDosDateTime{};
    else if (t.Year > 2107)
        t = TDosDateTime{2107, 12, 31, 23, 59, 58};
    return CombineDosDateTime(PackDosDate(t), PackDosTime(t));
}

std::int32_t DosFileAge(const std::string& path) {
    std::time_t when = 0;
    if (!platform::FileModificationTime(path, when))
        return -1;
    return DosDateTimeFrom(when);
}

std::int32_t DosDateTimeNow() {
    return DosDateTimeFrom(std::time(nullptr));
}

namespace {

// The local time fields as a time, as mktime with tm_isdst -1 gives it (a time in a gap of the
// zone moves on by the gap), on the zone read once for the process: mktime reads the zone
// file again on every call, one file after another. Normalizes tm as mktime does.
std::time_t LocalToTime(std::tm& tm) {
    static const bool zoneRead = [] {
        ::tzset();
        return true;
    }();
    (void)zoneRead;
    const std::time_t asUtc = ::timegm(&tm);
    auto offset = [](std::time_t t) {
        std::tm local{};
        return ::localtime_r(&t, &local) ? local.tm_gmtoff : 0L;
    };
    // Within a day of the time the zone has at most two offsets: the one before a change and
    // the one after it. The one whose instant shows that offset is the answer; in the hour a
    // change skips, neither does, and the offset before the change applies.
    const long before = offset(asUtc - 86400), after = offset(asUtc + 86400);
    if (offset(asUtc - before) == before)
        return asUtc - before;
    if (offset(asUtc - after) == after)
        return asUtc - after;
    return asUtc - before;
}

} // namespace

bool SetDosFileTime(int handle, std::int32_t dosDateTime) {
    const TDosDateTime t = UnpackDosDateTime(DosDateOf(dosDateTime), DosTimeOf(dosDateTime));
    std::tm tm{};
    tm.tm_year = t.Year - 1900;
    tm.tm_mon = t.Month - 1;
    tm.tm_mday = t.Day;
    tm.tm_hour = t.Hour;
    tm.tm_min = t.Minute;
    tm.tm_sec = t.Second;
    tm.tm_isdst = -1;
    std::tm given = tm;
    const std::time_t when = LocalToTime(tm);
    // Normalizing moves impossible fields on (31 February becomes March): such a date is
    // refused.
    if (when == static_cast<std::time_t>(-1) || tm.tm_mday != given.tm_mday ||
        tm.tm_mon != given.tm_mon || tm.tm_year != given.tm_year || t.Hour > 23 || t.Minute > 59 ||
        t.Second > 59)
        return false;
    timespec times[2] = {{when, 0}, {when, 0}};
    return ::futimens(handle, times) == 0;
}

std::int32_t EntryDosDateTime(const TDirItem& entry) {
    if (const auto when = ExtendedModificationTime(entry.Detail().ExtraFields))
        return DosDateTimeFrom(*when);
    return CombineDosDateTime(entry.CentralHeader.Date, entry.CentralHeader.Time);
}

bool SetEntryFileTime(int handle, const TDirItem& entry) {
    if (const auto when = ExtendedModificationTime(entry.Detail().ExtraFields)) {
        const timespec times[2] = {{*when, 0}, {*when, 0}};
        return ::futimens(handle, times) == 0;
    }
    return SetDosFileTime(handle,
                          CombineDosDateTime(entry.CentralHeader.Date, entry.CentralHeader.Time));
}

} // namespace zip
