// The modification time extracted files get: the extended timestamp record's UTC seconds
// where the entry has one (Info-ZIP and bsdtar write it), so that the zone the archive is
// read in does not move the file; the DOS date-time, as local time, otherwise.
#include "ArchiverAccess.h"
#include "LoopSupport.h"
#include "ZipTestSupport.h"

#include "zip/ZAFileDates.h"
#include "zip/ZARecords.h"

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

using namespace zip;
using ziptest::TempDir;
using ziptest::WriteFile;
namespace fs = std::filesystem;

namespace {

// 2021-03-04 05:06:08 UTC: an even second, so the DOS time can hold it too.
constexpr std::time_t Made = 1614834368;

// Sets TZ for the process while it lives, and puts the old value back.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone() {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

private:
    std::optional<std::string> old_;
};

std::time_t ModificationTime(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    return st.st_mtime;
}

// The time a DOS date-time stands for in the process's zone.
std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

struct EntryTimes : ::testing::Test {
    vcl::TComponent owner{nullptr};
    zip::TZipArchiver* a = vcl::Create<zip::TZipArchiver>(&owner);
    TempDir dir;
    std::string src = dir / "src";
    std::string out = dir / "out";

    EntryTimes() {
        a->SetName("ZipArchiver1");
        fs::create_directories(src);
        a->BaseDir = out;
    }

    // The file's time after extracting the archive in the given zone.
    std::time_t Extracted(const std::string& archive, const char* zone, const std::string& name) {
        TimeZone tz(zone);
        fs::remove_all(out);
        a->CloseArchive();
        a->SetFileName(archive);
        a->OpenArchive(32);
        a->ExtractFiles("*.*", zip::faAllEntries, "");
        return ModificationTime(out + "/" + name);
    }
};

} // namespace

// Made by the peer tools in one zone and extracted in others: the same instant every time.
TEST_F(EntryTimes, ExtendedTimestampKeepsTheInstantAcrossZones) {
    WriteFile(src + "/f.txt", "timed\n");
    const timeval times[2] = {{Made, 0}, {Made, 0}};
    ASSERT_EQ(::utimes((src + "/f.txt").c_str(), times), 0);
    struct Case {
        const char* tool;
        const char* command; // run in src, writes ../a.zip
    } cases[] = {
        {"Info-ZIP zip", "TZ=UTC0 zip -q ../a.zip f.txt"},
        {"Info-ZIP zip in another zone", "TZ=JST-9 zip -q ../a.zip f.txt"},
        {"bsdtar", "TZ=EST5 bsdtar --format zip -cf ../a.zip f.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tool);
        fs::remove(dir / "a.zip");
        ASSERT_TRUE(ziptest::Run(std::string("cd '") + src + "' && " + c.command));
        for (const char* zone : {"UTC0", "JST-9", "EST5"}) {
            SCOPED_TRACE(zone);
            EXPECT_EQ(Extracted(dir / "a.zip", zone, "f.txt"), Made);
        }
    }
}

// The date rules compare the file on disk with the time extraction gives it: a file
// extracted before, untouched since, is the same age as its entry in any zone.
TEST_F(EntryTimes, DateRulesCompareWithTheExtendedTimestamp) {
    WriteFile(src + "/f.txt", "timed\n");
    const timeval times[2] = {{Made, 0}, {Made, 0}};
    ASSERT_EQ(::utimes((src + "/f.txt").c_str(), times), 0);
    ASSERT_TRUE(ziptest::Run("cd '" + src + "' && TZ=UTC0 zip -q ../a.zip f.txt"));
    for (TZAOverwriteMode mode : {omIfNewer, omIfOlder}) {
        for (const char* zone : {"JST-9", "EST5"}) {
            SCOPED_TRACE(zone);
            fs::remove_all(out);
            a->Options().OverwriteMode = omAlways;
            ASSERT_EQ(Extracted(dir / "a.zip", zone, "f.txt"), Made);
            // Changed on disk, with its time kept.
            WriteFile(out + "/f.txt", "changed\n");
            ASSERT_EQ(::utimes((out + "/f.txt").c_str(), times), 0);
            a->Options().OverwriteMode = mode;
            TimeZone tz(zone);
            a->ExtractFiles("*.*", zip::faAllEntries, "");
            EXPECT_EQ(ziptest::ReadFile(out + "/f.txt"), "changed\n") << mode;
        }
    }
}

// Without the record (Python writes none), or with one that does not hold the modification
// time, the DOS date-time is taken as local time in the zone of the extraction.
TEST_F(EntryTimes, WithoutAModificationTimeTheDosTimeIsLocal) {
    auto withExtra = [](const std::string& extraHex) {
        return "i = zipfile.ZipInfo('f.txt', (2020, 6, 15, 12, 0, 0)); i.extra = bytes.fromhex('" +
               extraHex + "'); z.writestr(i, 'dos')";
    };
    struct Case {
        const char* what;
        std::string body;
    } cases[] = {
        {"no record", withExtra("")},
        {"record without the modification flag", withExtra("5554"
                                                           "0500"
                                                           "02"
                                                           "00000000")},
        {"record too short for its flag", withExtra("5554"
                                                    "0300"
                                                    "01"
                                                    "0000")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ziptest::PythonZip(dir, dir / "p.zip", c.body);
        for (const char* zone : {"UTC0", "JST-9"}) {
            SCOPED_TRACE(zone);
            const std::time_t got = Extracted(dir / "p.zip", zone, "f.txt");
            TimeZone tz(zone);
            EXPECT_EQ(got, LocalTime(2020, 6, 15, 12, 0, 0));
        }
    }
}

// A DOS date-time becomes the instant mktime gives for it in the zone of the moment, also in
// the hour a change to summer time skips and the one the change back repeats, and in a zone
// set after the first file was dated; impossible dates are refused.
TEST(DosFileTime, TheInstantOfTheLocalTimeInEveryZone) {
    struct Case {
        const char* zone;
        int year, month, day, hour, minute, second;
    };
    const Case cases[] = {
        {"UTC0", 2021, 3, 4, 5, 6, 8},
        {"CET-1CEST,M3.5.0,M10.5.0/3", 2021, 7, 1, 12, 0, 0},
        {"CET-1CEST,M3.5.0,M10.5.0/3", 2021, 3, 28, 2, 30, 0},  // skipped
        {"CET-1CEST,M3.5.0,M10.5.0/3", 2021, 10, 31, 1, 30, 0}, // before the change back
        {"EST5EDT,M3.2.0,M11.1.0", 2021, 3, 14, 2, 30, 0},      // skipped
        {"JST-9", 1980, 1, 1, 0, 0, 0},
        {"UTC0", 2107, 12, 31, 23, 59, 58},
    };
    ziptest::TempDir dir;
    const std::string file = dir / "f";
    WriteFile(file, "x");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.month) + "-" +
                     std::to_string(c.day) + " " + std::to_string(c.hour));
        TimeZone tz(c.zone);
        TDosDateTime t{c.year, c.month, c.day, c.hour, c.minute, c.second};
        const int fd = ::open(file.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(SetDosFileTime(fd, CombineDosDateTime(PackDosDate(t), PackDosTime(t))));
        ::close(fd);
        EXPECT_EQ(ModificationTime(file),
                  LocalTime(c.year, c.month, c.day, c.hour, c.minute, c.second));
    }
    TDosDateTime february{2021, 2, 31, 0, 0, 0};
    const int fd = ::open(file.c_str(), O_RDWR);
    EXPECT_FALSE(SetDosFileTime(fd, CombineDosDateTime(PackDosDate(february), 0)));
    ::close(fd);
}

TEST(ExtendedTimestamp, ModificationTimeOfTheRecord) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> data;
        std::optional<std::time_t> expected;
    } cases[] = {
        {"modification time", {0x01, 0xC0, 0x6A, 0x40, 0x60}, Made},
        {"with access and creation flags", {0x07, 0xC0, 0x6A, 0x40, 0x60, 1, 2, 3, 4}, Made},
        {"before 1970", {0x01, 0xFF, 0xFF, 0xFF, 0xFF}, -1},
        {"no modification flag", {0x06, 0xC0, 0x6A, 0x40, 0x60}, std::nullopt},
        {"cut short", {0x01, 0xC0, 0x6A, 0x40}, std::nullopt},
        {"empty", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string data(c.data.begin(), c.data.end());
        std::vector<TZAExtraField> extra{{0x7875, TZACompactString("\x01\x02")},
                                         {ExtendedTimestampExtraId, TZACompactString(data)}};
        EXPECT_EQ(ExtendedModificationTime(extra), c.expected);
    }
    EXPECT_EQ(ExtendedModificationTime({{0x7875, TZACompactString("\x01\xC0\x6A\x40\x60")}}),
              std::nullopt);
}
