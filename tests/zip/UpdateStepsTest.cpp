// Preparing the live directory for the update pass: removing and re-marking entries, the
// header a disk file gives, and the overwrite rules of the update step.
#include "LoopSupport.h"
#include "zip/ZAExcept.h"
#include "zip/ZAFileDates.h"
#include "zip/ZAOverwrite.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

using namespace zip;
using ziptest::NativeErrorOf;
using ziptest::TempDir;
using ziptest::WriteFile;
namespace fs = std::filesystem;

namespace {

struct Steps : ::testing::Test {
    vcl::TComponent owner{nullptr};
    ziptest::TLoopArchiver* a = vcl::Create<ziptest::TLoopArchiver>(&owner);
    TempDir dir;

    Steps() {
        a->SetName("ZipArchiver1");
        a->BaseDir = dir.Path();
        ziptest::PythonZip(dir, dir / "a.zip",
                           "i = zipfile.ZipInfo('f.txt', (2020, 6, 15, 12, 0, 0))\n"
                           "i.external_attr = 0x20; z.writestr(i, 'old')\n"
                           "z.writestr('g.txt', 'g')");
        a->Load(dir, dir / "a.zip");
    }

    void SetAge(const std::string& path, int year) {
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = 5;
        tm.tm_mday = 15;
        tm.tm_hour = 12;
        tm.tm_isdst = -1;
        const std::time_t when = std::mktime(&tm);
        const timeval times[2] = {{when, 0}, {when, 0}};
        ::utimes(path.c_str(), times);
    }
};

// Extraction and the update step both ask this rule, with source and target swapped.
TEST(OverwriteRule, ByModeAndAges) {
    struct Case {
        const char* what;
        TZAOverwriteMode mode;
        std::int32_t source, target;
        TZAOverwriteAnswer answer;
    } cases[] = {
        {"prompt asks", omPrompt, 1, 2, TZAOverwriteAnswer::Ask},
        {"always replaces an older source", omAlways, 1, 2, TZAOverwriteAnswer::Replace},
        {"never keeps a newer target", omNever, 2, 1, TZAOverwriteAnswer::Keep},
        {"if newer: a newer source", omIfNewer, 2, 1, TZAOverwriteAnswer::Replace},
        {"if newer: equal ages keep", omIfNewer, 2, 2, TZAOverwriteAnswer::Keep},
        {"if newer: an older source keeps", omIfNewer, 1, 2, TZAOverwriteAnswer::Keep},
        {"if older: an older source", omIfOlder, 1, 2, TZAOverwriteAnswer::Replace},
        {"if older: equal ages keep", omIfOlder, 2, 2, TZAOverwriteAnswer::Keep},
        // DOS date-times compare as signed numbers: a date after 2043 is negative.
        {"signed comparison", omIfNewer, 1, -5, TZAOverwriteAnswer::Replace},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OverwriteRule(c.mode, c.source, c.target), c.answer) << c.what;
}

TEST_F(Steps, IndexAndPendingChecks) {
    EXPECT_EQ(NativeErrorOf([&] { a->RemoveItem(2); }), zeRemoveIndex);
    EXPECT_EQ(NativeErrorOf([&] { a->RemoveItem(0); }), zeUpdateNotStarted);
    EXPECT_EQ(NativeErrorOf([&] { a->MarkItemForUpdate(-1, dir / "f.txt"); }), zeMarkIndex);
    EXPECT_EQ(NativeErrorOf([&] { a->MarkItemForUpdate(0, dir / "f.txt"); }), zeMarkNotStarted);
    a->SetUpdateCounter(1);
    a->RemoveItem(0);
    ASSERT_EQ(a->Directory().Count(), 1);
    EXPECT_EQ(a->Entry(0).StoredName, "g.txt");
}

TEST_F(Steps, MarkingAFileTakesItsDateAttributesAndTheArchiverSettings) {
    fs::create_directories(dir / "sub");
    WriteFile(dir / "sub/new.txt", "fresh");
    SetAge(dir / "sub/new.txt", 2022);
    a->SetUpdateCounter(1);
    a->Password = "pw";
    a->SetCompressionMode(6);
    TDirItem& e = a->MarkItemForUpdate(0, dir / "sub/new.txt", dir.Path());
    EXPECT_EQ(e.StoredName, "sub/new.txt");
    EXPECT_TRUE(e.NewData);
    EXPECT_EQ(e.Operation, poUpdate);
    EXPECT_EQ(e.Source().SourceFileName, dir / "sub/new.txt");
    EXPECT_EQ(e.Source().Password, "pw");
    EXPECT_EQ(e.CompressionMode, 6);
    const TZACentralHeader& h = e.CentralHeader;
    EXPECT_EQ(h.Signature, 0x02014B50u);
    // Made on Unix (host 3); the version needed keeps its rule.
    EXPECT_EQ(h.VersionMadeBy, 0x0314);
    EXPECT_EQ(h.VersionNeeded, 0x0014);
    EXPECT_EQ(h.Flags, FlagEncrypted);
    EXPECT_EQ(h.Method, MethodDeflated);
    EXPECT_EQ(CombineDosDateTime(h.Date, h.Time), DosFileAge(dir / "sub/new.txt"));
    EXPECT_EQ(h.Crc32, 0xFFFFFFFFu);
    EXPECT_EQ(h.NameLength, 11);
    // The file's mode in the high half, the DOS attributes in the low byte.
    ::chmod((dir / "sub/new.txt").c_str(), 0640);
    a->MarkItemForUpdate(0, dir / "sub/new.txt", dir.Path());
    EXPECT_EQ(h.ExternalAttributes, (0100640u << 16) | 0x20u);
    EXPECT_EQ(h.CompressedSize, 0u);
    EXPECT_EQ(h.LocalHeaderOffset, 0u);
    // The modification time in UTC, in an extended-timestamp record.
    ASSERT_EQ(e.Detail().ExtraFields.size(), 1u);
    EXPECT_EQ(e.Detail().ExtraFields[0].ID, 0x5455);
    struct stat st {};
    ::stat((dir / "sub/new.txt").c_str(), &st);
    const auto t = static_cast<std::uint32_t>(st.st_mtime);
    EXPECT_EQ(e.Detail().ExtraFields[0].Data,
              (std::string{'\x01', static_cast<char>(t), static_cast<char>(t >> 8),
                           static_cast<char>(t >> 16), static_cast<char>(t >> 24)}));

    a->Options().OEMFileNames = false;
    a->MarkItemForUpdate(1, dir / "sub/new.txt", dir.Path());
    EXPECT_EQ(a->Entry(1).CentralHeader.VersionMadeBy, 0x0314);
    EXPECT_EQ(a->Entry(1).CentralHeader.VersionNeeded, 0x0B14);
}

TEST_F(Steps, MarkingAFolderOrAMissingFile) {
    fs::create_directories(dir / "folder");
    a->SetUpdateCounter(1);
    a->Password = "pw";
    TDirItem& f = a->MarkItemForUpdate(0, dir / "folder", dir.Path());
    EXPECT_EQ(f.StoredName, "folder/");
    EXPECT_EQ(f.CentralHeader.Method, 0);
    EXPECT_EQ(f.CentralHeader.Crc32, 0u);
    EXPECT_EQ(f.CentralHeader.Flags, 2);
    EXPECT_EQ(f.CompressionMode, 0);
    EXPECT_EQ(f.CentralHeader.ExternalAttributes & 0x10u, 0x10u);

    const std::int32_t before = DosDateTimeNow();
    TDirItem& m = a->MarkItemForUpdate(1, dir / "missing.txt", dir.Path());
    EXPECT_EQ(m.CentralHeader.ExternalAttributes, 0x20u);
    EXPECT_GE(CombineDosDateTime(m.CentralHeader.Date, m.CentralHeader.Time), before);
}

struct UpdateCase {
    const char* label;
    TZAOverwriteMode mode;
    int diskYear; // the entry is of 2020
    bool marked;
};

const UpdateCase updateCases[] = {
    {"AlwaysMarks", omAlways, 2020, true},
    {"NeverLeaves", omNever, 2022, false},
    {"IfNewerMarksANewerDiskFile", omIfNewer, 2022, true},
    {"IfNewerLeavesADiskFileOfTheSameAge", omIfNewer, 2020, false},
    {"IfNewerLeavesAnOlderDiskFile", omIfNewer, 2018, false},
    {"IfOlderMarksAnOlderDiskFile", omIfOlder, 2018, true},
    {"IfOlderLeavesANewerDiskFile", omIfOlder, 2022, false},
};

struct Update : Steps, ::testing::WithParamInterface<UpdateCase> {};

TEST_P(Update, ModeDecides) {
    const UpdateCase& c = GetParam();
    WriteFile(dir / "f.txt", "new");
    SetAge(dir / "f.txt", c.diskYear);
    a->SetUpdateCounter(1);
    a->Options().OverwriteMode = c.mode;
    a->UpdateItem(0, "f.txt", dir.Path() + "/");
    EXPECT_EQ(a->Entry(0).NewData, c.marked);
    if (c.marked) {
        EXPECT_EQ(a->Entry(0).StoredName, "f.txt");
        EXPECT_EQ(a->Entry(0).Source().SourceFileName, dir / "f.txt");
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, Update, ::testing::ValuesIn(updateCases),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_F(Steps, UpdateLeavesMissingFilesAlone) {
    a->SetUpdateCounter(1);
    a->UpdateItem(0, "f.txt", dir.Path() + "/"); // no such disk file
    EXPECT_FALSE(a->Entry(0).NewData);
}

// Reading a file into the archive writes nothing outside the base folder: a name with ".."
// parts or a full path is read from where it leads, as an archive made that way needs.
TEST_F(Steps, UpdateReadsANameThatLeadsOutOfTheBaseFromWhereItLeads) {
    fs::create_directories(dir / "base");
    WriteFile(dir / "outside.txt", "x");
    a->SetUpdateCounter(1);
    a->UpdateItem(0, "../outside.txt", dir / "base/");
    EXPECT_TRUE(a->Entry(0).NewData);
    EXPECT_EQ(a->Entry(0).Source().SourceFileName, dir / "outside.txt");
}

TEST_F(Steps, TwoTemporaryFilesDiffer) {
    a->TempDir = dir.Path();
    const std::string first = ziptest::Engine(*a).MakeTempFileName();
    const std::string second = ziptest::Engine(*a).MakeTempFileName();
    EXPECT_NE(first, second);
    EXPECT_EQ(fs::path(first).filename().string().substr(0, 2), "FC");
}

} // namespace
