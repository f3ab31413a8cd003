// Entry names as the directory reader makes them from the stored bytes: UTF-8 from Unix tools,
// flag bit 11, Info-ZIP's Unicode path record, CP850 from DOS and Windows, and names longer
// than the engine holds. Archives made by Info-ZIP zip, Python's zipfile, 7-Zip and bsdtar,
// and by hand where a tool cannot make the case.
#include "ArchiverAccess.h"
#include "LoopSupport.h"
#include "ZipTestSupport.h"

#include "zip/ZACrc32.h"
#include "zip/ZAExcept.h"
#include "zip/ZANames.h"
#include "zip/ZARecords.h"
#include "zip/ZAUtf8.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

using namespace zip;
using ziptest::ReadFile;
using ziptest::TempDir;
using ziptest::WriteFile;
namespace fs = std::filesystem;

namespace {

const std::string Naive = "na\xC3\xAFve r\xC3\xA9sum\xC3\xA9.txt"; // "naïve résumé.txt"

std::uint32_t Crc(std::string_view bytes) {
    return ~UpdateCrc32(Crc32Start, bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

// An Info-ZIP Unicode path record for the name field `field`, with the CRC given or the
// field's own.
std::string UnicodePathRecord(std::string_view field, std::string_view unicode,
                              std::optional<std::uint32_t> crc = {}, std::uint8_t version = 1) {
    RecordWriter w;
    w.u16(UnicodePathExtraId).u16(static_cast<std::uint16_t>(5 + unicode.size()));
    w.u8(version).u32(crc.value_or(Crc(field))).bytes(unicode);
    return w.data();
}

struct HandEntry {
    HandEntry(std::string nameField, std::uint16_t host = 0x0014, std::uint16_t flagBits = 0,
              std::string extraField = {})
        : field(std::move(nameField)), madeBy(host), flags(flagBits), extra(std::move(extraField)) {
    }

    std::string field; // the stored name bytes
    std::uint16_t madeBy;
    std::uint16_t flags;
    std::string extra; // in both headers
    std::string data = "x";
};

// Stored entries with true sizes and CRCs, so that they extract.
std::string HandMade(const std::vector<HandEntry>& entries) {
    RecordWriter w;
    std::vector<std::uint32_t> offsets;
    for (const HandEntry& e : entries) {
        offsets.push_back(static_cast<std::uint32_t>(w.size()));
        TLocalFileHeader l;
        l.VersionNeeded = 10;
        l.Flags = e.flags;
        l.Date = 0x5A21;
        l.Crc32 = Crc(e.data);
        l.CompressedSize = l.UncompressedSize = static_cast<std::uint32_t>(e.data.size());
        l.NameLength = static_cast<std::uint16_t>(e.field.size());
        l.ExtraLength = static_cast<std::uint16_t>(e.extra.size());
        l.Write(w);
        w.bytes(e.field).bytes(e.extra).bytes(e.data);
    }
    const auto dirStart = static_cast<std::uint32_t>(w.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const HandEntry& e = entries[i];
        TZACentralHeader h;
        h.Signature = StandardSignatures.CentralHeader;
        h.VersionMadeBy = e.madeBy;
        h.VersionNeeded = 10;
        h.Flags = e.flags;
        h.Date = 0x5A21;
        h.Crc32 = Crc(e.data);
        h.CompressedSize = h.UncompressedSize = static_cast<std::uint32_t>(e.data.size());
        h.NameLength = static_cast<std::uint16_t>(e.field.size());
        h.ExtraLength = static_cast<std::uint16_t>(e.extra.size());
        h.ExternalAttributes = faArchive;
        h.LocalHeaderOffset = offsets[i];
        WriteCentralHeader(w, h);
        w.bytes(e.field).bytes(e.extra);
    }
    TEndOfCentralDir end;
    end.EntriesOnDisk = end.TotalEntries = static_cast<std::uint16_t>(entries.size());
    end.CentralDirSize = static_cast<std::uint32_t>(w.size()) - dirStart;
    end.CentralDirOffset = dirStart;
    end.Write(w);
    return w.data();
}

struct Names : ::testing::Test {
    vcl::TComponent owner{nullptr};
    zip::TZipArchiver* a = vcl::Create<zip::TZipArchiver>(&owner);
    TempDir dir;
    std::string src = dir / "src";
    std::string out = dir / "out";
    std::vector<std::pair<std::string, std::int32_t>> failures;

    Names() {
        a->SetName("ZipArchiver1");
        fs::create_directories(src);
        a->BaseDir = out;
        a->OnProcessFileFailure = [this](vcl::TObject*, const std::string& name,
                                         TZAProcessOperation, std::int32_t native, std::int32_t,
                                         const std::string&, TZAAction& action) {
            failures.emplace_back(name, native);
            action = fxaIgnore;
        };
    }

    void Open(const std::string& archive) {
        a->CloseArchive();
        a->SetFileName(archive);
        a->OpenArchive(32);
        ASSERT_TRUE(a->Active());
    }
    std::vector<std::string> StoredNames() {
        std::vector<std::string> names;
        const TZADirArray& d = ziptest::Dir(*a).Directory;
        for (std::int32_t i = 0; i < d.Count(); ++i)
            names.push_back(const_cast<TZADirArray&>(d).ItemPtr(i).StoredName.str());
        return names;
    }
};

} // namespace

// Each peer tool stores the UTF-8 name its own way; all read back as the same name.
TEST_F(Names, PeerToolsNamesFromLinuxReadAsUtf8) {
    WriteFile(src + "/" + Naive, "hi\n");
    struct Case {
        const char* tool;
        std::string command; // run in src, writes ../a.zip
    } cases[] = {
        // Host 3, no flag, no Unicode path record: the bytes as they stand.
        {"Info-ZIP zip", "LC_ALL=C.UTF-8 zip -q ../a.zip '" + Naive + "'"},
        {"7-Zip", "7zz a -tzip -bd ../a.zip '" + Naive + "'"},
        {"bsdtar", "bsdtar --format zip -cf ../a.zip '" + Naive + "'"},
        {"Python zipfile (flag bit 11)",
         "/usr/bin/python3 -c \"import zipfile\nwith zipfile.ZipFile('../a.zip','w') as z:\n"
         "    z.write('" +
             Naive + "')\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tool);
        fs::remove(dir / "a.zip");
        fs::remove_all(out);
        ASSERT_TRUE(ziptest::Run("cd '" + src + "' && " + c.command));
        Open(dir / "a.zip");
        EXPECT_EQ(StoredNames(), std::vector<std::string>{Naive});
        a->ExtractFiles("*.*", zip::faAllEntries, "");
        EXPECT_TRUE(failures.empty());
        EXPECT_EQ(ReadFile(out + "/" + Naive), "hi\n");
    }
}

TEST_F(Names, HandMadeNamesByHostFlagAndUnicodePathRecord) {
    const std::string cp850 = "na\x8Bve r\x82sum\x82.txt"; // the same name in CP850
    struct Case {
        const char* what;
        HandEntry entry;
        std::string expected;
    } cases[] = {
        {"DOS host: CP850", {cp850, 0x0014}, Naive},
        {"NTFS host: CP850", {cp850, 0x0A14}, Naive},
        {"Unix host, not UTF-8: CP850", {cp850, 0x0314}, Naive},
        {"Unix host, UTF-8", {Naive, 0x0314}, Naive},
        {"DOS host, UTF-8 bytes: still CP850",
         {"na\xC3\xAFve", 0x0014},
         "na\xE2\x94\x9C\xC2\xBBve"},
        {"flag bit 11 on any host", {Naive, 0x0014, FlagUtf8Names}, Naive},
        {"Unicode path record with the name field's CRC",
         {"naive.txt", 0x0014, 0, UnicodePathRecord("naive.txt", Naive)},
         Naive},
        {"Unicode path record over a CP850 field",
         {cp850, 0x0014, 0, UnicodePathRecord(cp850, "other.txt")},
         "other.txt"},
        {"Unicode path record with another CRC",
         {"naive.txt", 0x0014, 0, UnicodePathRecord("naive.txt", Naive, Crc("naive.tx"))},
         "naive.txt"},
        {"Unicode path record with another CRC over CP850",
         {cp850, 0x0314, 0, UnicodePathRecord(cp850, "other.txt", 0)},
         Naive},
        {"Unicode path record of an unknown version",
         {"naive.txt", 0x0014, 0, UnicodePathRecord("naive.txt", Naive, {}, 2)},
         "naive.txt"},
        {"Unicode path record cut short",
         {"naive.txt", 0x0014, 0, std::string("\x75\x70\x03\x00\x01\x00\x00", 7)},
         "naive.txt"},
        {"Unicode path record holding no UTF-8",
         {"naive.txt", 0x0014, 0, UnicodePathRecord("naive.txt", "na\xEFve")},
         "naive.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir / "h.zip", HandMade({c.entry}));
        Open(dir / "h.zip");
        EXPECT_EQ(StoredNames(), std::vector<std::string>{c.expected});
    }
}

// The UTF-8 flag and the Unicode path record are honoured whatever OEMFileNames says; only
// the CP850 conversion follows it.
TEST_F(Names, OemFileNamesOffKeepsOtherBytesAsTheyStand) {
    a->Options().OEMFileNames = false;
    WriteFile(dir / "h.zip",
              HandMade({{"caf\x82", 0x0014},
                        {"naive.txt", 0x0014, 0, UnicodePathRecord("naive.txt", Naive)},
                        {Naive, 0x0314}}));
    Open(dir / "h.zip");
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{"caf\x82", Naive, Naive}));
}

// A rebuilt directory has no made-by host; the local Unicode path record still names the
// entry.
TEST_F(Names, RebuiltDirectoryHonoursTheLocalUnicodePathRecord) {
    std::string bytes = HandMade(
        {{"naive.txt", 0x0014, 0, UnicodePathRecord("naive.txt", Naive)}, {"caf\x82", 0x0014}});
    bytes.resize(bytes.find("PK\x01\x02"));
    WriteFile(dir / "cut.zip", bytes);
    Open(dir / "cut.zip");
    EXPECT_EQ(StoredNames(), (std::vector<std::string>{Naive, "caf\xC3\xA9"}));
}

// Names over 999 stored bytes: kept whole in the directory, never cut, and their entries
// fail on their own; two such names equal up to the limit no longer become one file.
TEST_F(Names, LongerThanTheEngineHoldsFailEachEntryInsteadOfBeingCut) {
    std::string common;
    for (int i = 0; i < 4; ++i)
        common += std::string(200, static_cast<char>('a' + i)) + "/";
    const std::string limit = common + std::string(195 - 4, 'e') + ".txt"; // 999 bytes
    common += std::string(195, 'e');                                       // 999 bytes
    ASSERT_EQ(limit.size(), MaxStoredNameBytes);
    const std::string first = common + "1.txt", second = common + "2.txt";
    ziptest::PythonZip(dir, dir / "long.zip",
                       "z.writestr('" + first + "', 'first')\nz.writestr('" + second +
                           "', 'second')\nz.writestr('" + limit +
                           "', 'at the limit')\nz.writestr('ok.txt', 'ok')");
    std::string damaged = ReadFile(dir / "long.zip");
    damaged.resize(damaged.find("PK\x01\x02"));
    WriteFile(dir / "damaged.zip", damaged);

    for (const char* archive : {"long.zip", "damaged.zip"}) {
        SCOPED_TRACE(archive);
        failures.clear();
        fs::remove_all(out);
        Open(dir / archive);
        const std::vector<std::string> names = StoredNames();
        ASSERT_EQ(names.size(), 4u);
        EXPECT_EQ(names[2], limit);
        EXPECT_EQ(names[3], "ok.txt");
        // The central directory holds them whole; the rebuild reads no further than it needs
        // to know they are too long.
        EXPECT_NE(names[0], names[1]);
        EXPECT_EQ(names[0].substr(0, 999), common);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(ziptest::Dir(*a).Directory.ItemPtr(i).NameTooLong, i < 2) << i;

        // A test must not pass what extraction then refuses.
        a->TestFiles("*.*", zip::faAllEntries, "");
        ASSERT_EQ(failures.size(), 2u);
        EXPECT_EQ(failures[0].second, 19);
        EXPECT_EQ(failures[1].second, 19);

        failures.clear();
        a->ExtractFiles("*.*", zip::faAllEntries, "");
        ASSERT_EQ(failures.size(), 2u);
        EXPECT_EQ(failures[0].second, 19);
        EXPECT_EQ(failures[1].second, 19);
        EXPECT_FALSE(fs::exists(out + "/" + common));
        EXPECT_FALSE(fs::exists(out + "/" + first));
        EXPECT_FALSE(fs::exists(out + "/" + second));
        EXPECT_EQ(ReadFile(out + "/" + limit), "at the limit");
        EXPECT_EQ(ReadFile(out + "/ok.txt"), "ok");
    }
}

TEST(StoredNameDecoding, NulEndsTheNameAndBackslashesSeparateFolders) {
    struct Case {
        std::string field;
        std::uint16_t madeBy;
        std::string name;
        bool tooLong;
    } cases[] = {
        {std::string("ab\0cd", 5), 0x0314, "ab", false},
        {"a\\b\\c.txt", 0x0014, "a/b/c.txt", false},
        {std::string(999, 'n'), 0x0314, std::string(999, 'n'), false},
        {std::string(1000, 'n'), 0x0314, std::string(1000, 'n'), true},
        {std::string(999, 'n') + std::string("\0tail", 5), 0x0314, std::string(999, 'n'), false},
        {"", 0x0314, "", false},
    };
    for (const Case& c : cases) {
        const TZAStoredName n = DecodeStoredName(c.field, c.madeBy, 0, {}, true);
        EXPECT_EQ(n.Name, c.name);
        EXPECT_EQ(n.TooLong, c.tooLong) << c.field.size();
    }
}

namespace {

// The name fields of the central headers, as stored.
std::vector<std::string> CentralNameFields(const std::string& archive) {
    const std::size_t at = archive.rfind("PK\x05\x06");
    RecordReader er(std::string_view(archive).substr(at));
    const TEndOfCentralDir end = TEndOfCentralDir::Read(er);
    RecordReader r(std::string_view(archive).substr(end.CentralDirOffset));
    std::vector<std::string> names;
    for (int i = 0; i < end.TotalEntries; ++i) {
        const TZACentralHeader h = ReadCentralHeader(r);
        names.push_back(r.bytes(h.NameLength));
        r.skip(std::size_t{h.ExtraLength} + h.CommentLength);
    }
    return names;
}

} // namespace

// Names read as UTF-8 or through a Unicode path record go back as the bytes they were read
// from when the update pass rewrites the directory, so the local and central names still
// agree and other tools read the same names as before.
TEST_F(Names, KeptEntriesKeepTheirStoredNameBytesThroughAnUpdate) {
    WriteFile(src + "/" + Naive, "hi\n");
    ASSERT_TRUE(
        ziptest::Run("cd '" + src + "' && LC_ALL=C.UTF-8 zip -q ../iz.zip '" + Naive + "'"));
    const std::string cp850 = "caf\x82.txt";
    const std::string iz = ReadFile(dir / "iz.zip");
    const std::string hand =
        HandMade({{cp850, 0x0014},
                  {"naive.txt", 0x0014, 0, UnicodePathRecord("naive.txt", Naive)},
                  {Naive, 0x0314},
                  {"\xE6\x97\xA5\xE6\x9C\xAC.txt", 0x0314}});
    struct Case {
        const char* what;
        std::string archive;
        std::vector<std::string> fields; // the local name fields
        // A rebuilt entry carries no extra records into the directory: read again, its name
        // is the name field alone (and unzip warns that the local Unicode path differs).
        bool sameAsRead;
    } cases[] = {
        {"Info-ZIP on Linux", iz, CentralNameFields(iz), true},
        {"hand made", hand, CentralNameFields(hand), true},
        {"rebuilt", hand.substr(0, hand.find("PK\x01\x02")), CentralNameFields(hand), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir / "u.zip", c.archive);
        const std::vector<std::string>& before = c.fields;
        vcl::TComponent o{nullptr};
        auto* w = vcl::Create<TZipArchiver>(&o);
        w->SetName("ZipArchiver1");
        w->TempDir = dir.Path();
        w->SetFileName(dir / "u.zip");
        w->OpenArchive();
        std::vector<std::string> names;
        for (std::int32_t i = 0; i < ziptest::Dir(*w).Directory.Count(); ++i)
            names.push_back(ziptest::Dir(*w).Directory.ItemPtr(i).StoredName.str());
        std::filesystem::create_directories(dir / "add");
        WriteFile(dir / "add/new.txt", "new");
        w->BaseDir = dir / "add";
        w->SetCompressionMode(6);
        w->BeginUpdate();
        w->AddFiles("new.txt", 0x20, "");
        w->EndUpdate();
        w->CloseArchive();

        std::vector<std::string> after = CentralNameFields(ReadFile(dir / "u.zip"));
        ASSERT_EQ(after.size(), before.size() + 1);
        EXPECT_EQ(after.back(), "new.txt");
        after.pop_back();
        EXPECT_EQ(after, before);
        // Every peer reads the archive, names agreeing in both headers.
        EXPECT_TRUE(ziptest::Run("unzip -tq '" + dir / "u.zip" + "'") || !c.sameAsRead);
        EXPECT_TRUE(ziptest::Run("/usr/bin/python3 -c \"import zipfile\nz = zipfile.ZipFile('" +
                                 dir / "u.zip" + "')\nfor i in z.infolist(): z.read(i)\""));
        if (c.sameAsRead) {
            Open(dir / "u.zip");
            names.push_back("new.txt");
            EXPECT_EQ(StoredNames(), names);
        }
    }
}

TEST(Utf8, WellFormedSequencesOnly) {
    struct Case {
        const char* what;
        std::string bytes;
        bool valid;
        char32_t first;     // the first character as DecodeUtf8At gives it
        std::size_t length; // and its length
    } cases[] = {
        {"ASCII", "a", true, U'a', 1},
        {"two bytes", "\xC3\xA9", true, 0xE9, 2},
        {"three bytes", "\xE3\xA9\x80", true, 0x3A40, 3},
        {"four bytes", "\xF0\x9F\x98\x80", true, 0x1F600, 4},
        {"overlong slash", "\xC0\xAF", false, Utf8RawByteBase + 0xC0, 1},
        {"overlong three bytes", "\xE0\x80\xAF", false, Utf8RawByteBase + 0xE0, 1},
        {"surrogate", "\xED\xA0\x80", false, Utf8RawByteBase + 0xED, 1},
        {"past U+10FFFF", "\xF4\x90\x80\x80", false, Utf8RawByteBase + 0xF4, 1},
        {"cut short", "\xE3\xA9", false, Utf8RawByteBase + 0xE3, 1},
        {"continuation alone", "\x80", false, Utf8RawByteBase + 0x80, 1},
        {"CP850 e acute", "caf\x82", false, U'c', 1},
        {"lead byte 0xFF", "\xFF", false, Utf8RawByteBase + 0xFF, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(IsValidUtf8(c.bytes), c.valid);
        const TZAUtf8Char ch = DecodeUtf8At(c.bytes, 0);
        EXPECT_EQ(ch.CodePoint, c.first);
        EXPECT_EQ(ch.Length, c.length);
    }
    EXPECT_TRUE(IsValidUtf8(""));
}
