// Whole archives written by the engine (the update pass and the directory writer) and checked
// by Info-ZIP, 7-Zip and Python's zipfile: every mode, folders, passwords, Zip64, 64 KiB split
// volumes, comments, OEM names; updates of an open archive and their rollback. They go through
// the component's public calls (AddFiles, DeleteFiles, BeginUpdate, EndUpdate, properties and
// events); where a case needs what no call makes, it says so where it reaches into the
// directory.
#include "ArchiverAccess.h"
#include "ZipTestSupport.h"
#include "platform/Volumes.h"
#include "vcl/Dialogs.h"
#include "zip/ZACrc32.h"
#include "zip/ZAExcept.h"
#include "zip/ZipArchiver.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace zip;
using ziptest::Capture;

namespace {

// Python's zipfile view of an archive: "name size crc" per entry after reading each one
// (which checks its CRC), then the archive comment.
const char* const PythonList = R"(/usr/bin/python3 -c '
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
if len(sys.argv) > 2: z.setpassword(sys.argv[2].encode())
for i in z.infolist():
    z.read(i)
    print(i.filename, i.file_size, "%08x" % i.CRC)
print("comment:" + z.comment.decode("latin-1"))
')";

std::string PythonView(const std::string& archive, const std::string& password = {}) {
    return Capture(std::string(PythonList) + " '" + archive + "'" +
                   (password.empty() ? "" : " '" + password + "'"));
}

// The central headers as written: per entry its name, method, CRC, the 32-bit size fields
// (compressed, uncompressed) and the values of its Zip64 extra record.
const char* const PythonCentralFields = R"(/usr/bin/python3 -c '
import struct, sys
d = open(sys.argv[1], "rb").read()
i = d.find(b"PK\x01\x02")
while i >= 0:
    method, crc, c, u, n, m, k = struct.unpack("<10xH4xIIIHHH", d[i:i + 34])
    extra, zip64 = d[i + 46 + n:i + 46 + n + m], []
    while len(extra) >= 4:
        kind, size = struct.unpack("<HH", extra[:4])
        if kind == 1: zip64 = list(struct.unpack("<%dQ" % (size // 8), extra[4:4 + size // 8 * 8]))
        extra = extra[4 + size:]
    print(d[i + 46:i + 46 + n].decode(), "method", method, "crc %08x sizes %08x %08x" % (crc, c, u),
          "zip64", zip64)
    i = d.find(b"PK\x01\x02", i + 46 + n + m + k)
')";

std::string CentralFields(const std::string& archive) {
    return Capture(std::string(PythonCentralFields) + " '" + archive + "'");
}

std::string Hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", v);
    return text;
}

std::uint32_t Crc(const std::string& data) {
    return ~UpdateCrc32(Crc32Start, data.data(), static_cast<std::int64_t>(data.size()));
}

// The stored names as a search lists them, folders ending in "/".
std::vector<std::string> StoredNames(TZipArchiver& archiver) {
    std::vector<std::string> names;
    TZAArchiveItem item;
    for (bool found = archiver.FindFirst("*.*", item, zip::faAllEntries, ""); found;
         found = archiver.FindNext(item)) {
        std::string name = item.Folder + item.FileName;
        if ((item.Attributes & 0x10) != 0 && (name.empty() || name.back() != '/'))
            name += '/';
        names.push_back(name);
    }
    return names;
}

std::vector<std::string> TempFilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().rfind("FC", 0) == 0)
            names.push_back(entry.path().filename().string());
    return names;
}

struct ArchiveWriter : ::testing::Test {
    ziptest::TempDir dir;
    ziptest::TempDir temp;
    vcl::TScriptedDialogs dialogs;
    std::string src = dir / "src";
    std::string path = dir / "out.zip";
    vcl::TComponent owner{nullptr};
    TZipArchiver* a = vcl::Create<TZipArchiver>(&owner);
    ArchiveWriter() {
        a->SetName("ZipArchiver1");
        a->TempDir = temp.Path();
        a->BaseDir = src;
        std::filesystem::create_directories(src);
    }
    // A new archive with a batch begun.
    void OpenNew() {
        a->SetFileName(path);
        a->OpenArchive();
        a->BeginUpdate();
    }
    // The batch written, its errors raised, and the archive closed.
    void Finish() {
        a->EndUpdate();
        a->CloseArchive();
    }
    // A file below the source folder, added at the mode (and with the password when given).
    void Add(const std::string& name, const std::string& data, std::uint8_t mode,
             const std::string& password = {}) {
        std::filesystem::create_directories(vcl::ExtractFilePath(src + "/" + name));
        ziptest::WriteFile(src + "/" + name, data);
        a->SetCompressionMode(mode);
        a->Password = password;
        a->AddFiles(name, zip::faAllEntries, "");
        a->Password.clear();
    }
    // A file added whose source is gone when the pass comes to read it.
    void AddVanishing(const std::string& name) {
        ziptest::WriteFile(src + "/" + name, "soon gone");
        a->AddFiles(name, zip::faAllEntries, "");
        std::filesystem::remove(src + "/" + name);
    }
    void AddFolder(const std::string& name) {
        std::filesystem::create_directories(src + "/" + name);
        a->AddFiles(name, zip::faAllEntries, "");
    }
    // The stored names, in directory order, as a search lists them.
    std::vector<std::string> Names() { return StoredNames(*a); }
    // The live directory entry stored under name (see the callers for why they need it).
    TDirItem& Entry(const std::string& name) {
        TZADirArray& d = ziptest::Dir(*a).Directory;
        for (std::int32_t i = 0; i < d.Count(); ++i)
            if (d.ItemPtr(i).StoredName == name)
                return d.ItemPtr(i);
        throw std::runtime_error("no entry " + name);
    }
    // Every peer accepts the archive.
    void ExpectValid(const std::string& password = {}) {
        const std::string pw = password.empty() ? "" : " -P '" + password + "'";
        EXPECT_TRUE(ziptest::Run("unzip -t" + pw + " '" + path + "'"))
            << Capture("unzip -t" + pw + " '" + path + "'");
        const std::string pw7 = password.empty() ? "" : " -p'" + password + "'";
        EXPECT_TRUE(ziptest::Run("7zz t" + pw7 + " '" + path + "'"))
            << Capture("7zz t" + pw7 + " '" + path + "'");
    }
};

TEST_F(ArchiveWriter, ANewArchiveWithoutEntriesIsAValidEmptyZip) {
    a->SetFileName(path);
    a->OpenArchive();
    a->CloseArchive();
    EXPECT_EQ(ziptest::ReadFile(path), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    EXPECT_EQ(PythonView(path), "comment:\n");
    EXPECT_NE(Capture("unzip -l '" + path + "'").find("zipfile is empty"), std::string::npos);
}

TEST_F(ArchiveWriter, EntriesAtEveryModeWithFoldersAndACommentReadBackEverywhere) {
    OpenNew();
    std::string expected;
    AddFolder("docs");
    expected += "docs/ 0 00000000\n";
    for (std::uint8_t mode = 0; mode <= 9; ++mode) {
        std::string name = "docs/mode" + std::to_string(mode) + ".txt";
        std::string data = ziptest::CompressibleText(20000u + mode * 1000u);
        Add(name, data, mode);
        expected += name + " " + std::to_string(data.size()) + " " + Hex(Crc(data)) + "\n";
    }
    std::string random = ziptest::RandomBytes(600000, 11);
    Add("random.bin", random, 6);
    Add("empty.txt", "", 6);
    expected += "random.bin 600000 " + Hex(Crc(random)) + "\nempty.txt 0 00000000\n";
    ziptest::Dir(*a).ArcComment = "archive comment"; // no public call sets the archive comment
    Finish();

    ExpectValid();
    EXPECT_EQ(PythonView(path), expected + "comment:archive comment\n");
    const std::string listing = Capture("unzip -l '" + path + "'");
    EXPECT_NE(listing.find("docs/mode9.txt"), std::string::npos);
    EXPECT_NE(listing.find("13 files"), std::string::npos) << listing;
    // The empty file is stored, and so is the folder.
    EXPECT_NE(Capture("unzip -v '" + path + "'").find("Stored        0"), std::string::npos);
}

// Extracts every entry of the archive at archivePath with a fresh archiver, as the updater
// would, into out.
void ExtractWithTheEngine(const std::string& archivePath, const std::string& out,
                          const std::string& password = {}) {
    vcl::TComponent owner{nullptr};
    auto* r = vcl::Create<TZipArchiver>(&owner);
    r->SetName("ZipArchiver1");
    r->SetFileName(archivePath);
    r->Password = password;
    std::filesystem::create_directories(out);
    r->BaseDir = out;
    r->OpenArchive();
    r->ExtractFiles("*.*", zip::faAllEntries, "");
    r->CloseArchive();
}

TEST_F(ArchiveWriter, EncryptedEntriesOpenWithTheirPasswordInUnzipSevenZipPythonAndTheEngine) {
    OpenNew();
    std::string text = ziptest::CompressibleText(300000);
    std::string random = ziptest::RandomBytes(70000, 5);
    Add("secret.txt", text, 9, "pa55word");
    Add("stored.bin", random, 0, "pa55word");
    Add("none.txt", "", 6, "pa55word");
    Finish();
    ExpectValid("pa55word");
    EXPECT_FALSE(ziptest::Run("unzip -t -P wrong '" + path + "'"));
    EXPECT_EQ(PythonView(path, "pa55word"), "secret.txt 300000 " + Hex(Crc(text)) +
                                                "\nstored.bin 70000 " + Hex(Crc(random)) +
                                                "\nnone.txt 0 00000000\ncomment:\n");
    // The empty file's entry is its cipher header alone, stored.
    EXPECT_NE(CentralFields(path).find(
                  "none.txt method 0 crc 00000000 sizes 0000000c 00000000 zip64 []\n"),
              std::string::npos)
        << CentralFields(path);
    ExtractWithTheEngine(path, dir / "out", "pa55word");
    EXPECT_EQ(ziptest::ReadFile(dir / "out/secret.txt"), text);
    EXPECT_EQ(ziptest::ReadFile(dir / "out/stored.bin"), random);
    EXPECT_EQ(ziptest::ReadFile(dir / "out/none.txt"), "");
}

TEST_F(ArchiveWriter, EncryptedEntriesAtEveryModeReadBackInEveryPeer) {
    OpenNew();
    std::string expected;
    for (std::uint8_t mode = 0; mode <= 9; ++mode) {
        std::string name = "m" + std::to_string(mode) + ".txt";
        // More than one block at the fast modes, so that sync-flushed pieces are encrypted too.
        std::string data =
            ziptest::CompressibleText(600000u + mode * 1000u) + ziptest::RandomBytes(3000, mode);
        Add(name, data, mode, "s3cret");
        expected += name + " " + std::to_string(data.size()) + " " + Hex(Crc(data)) + "\n";
    }
    Finish();
    ExpectValid("s3cret");
    EXPECT_EQ(PythonView(path, "s3cret"), expected + "comment:\n");
}

// Four gibibytes of earlier data, sparse: the archive's stream and prefix are set by hand,
// as only writing 4 GiB through the calls would make them.
void PutFourGibibytesInFront(TZipArchiver& archiver, std::int64_t prefix) {
    ziptest::Engine(archiver).ArchiveStream()->SetSize(prefix);
    ziptest::Dir(archiver).PrefixSize = prefix;
}

TEST_F(ArchiveWriter, EntriesBeyondFourGibibytesGetZip64OffsetsAndRecords) {
    a->SetZip64Mode(zmAuto);
    OpenNew();
    const std::int64_t prefix = (std::int64_t{1} << 32) + 100;
    PutFourGibibytesInFront(*a, prefix);
    std::string data = ziptest::CompressibleText(50000);
    AddFolder("d");
    Add("d/a.txt", data, 6);
    Add("d/b.txt", "", 6);
    Add("d/c.txt", "x", 0, "pw");
    TDirItem& c = Entry("d/c.txt"); // no public call sets an entry comment
    c.SetComment("entry comment");
    c.CentralHeader.CommentLength = 13;
    ziptest::Dir(*a).ArcComment = "big"; // nor the archive comment
    Finish();

    // 7-Zip does not look for an archive behind four gibibytes of other data at all (it
    // refuses Python's equivalent just the same), so Info-ZIP and Python judge here.
    EXPECT_TRUE(ziptest::Run("unzip -t -P pw '" + path + "'"))
        << Capture("unzip -t -P pw '" + path + "'");
    EXPECT_EQ(PythonView(path, "pw"), "d/ 0 00000000\nd/a.txt 50000 " + Hex(Crc(data)) +
                                          "\nd/b.txt 0 00000000\nd/c.txt 1 " + Hex(Crc("x")) +
                                          "\ncomment:big\n");
    const std::string info = Capture("zipinfo -v '" + path + "'");
    EXPECT_NE(info.find("offset of local header from start of archive:   4294967396"),
              std::string::npos);
    EXPECT_NE(info.find("entry comment"), std::string::npos);
    std::string bytes;
    {
        vcl::TFileStream file(path, vcl::fmOpenRead);
        file.SetPosition(prefix);
        bytes.resize(static_cast<std::size_t>(file.Size() - prefix));
        file.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    }
    EXPECT_NE(bytes.find(std::string("PK\x06\x06", 4)), std::string::npos);
    EXPECT_NE(bytes.find(std::string("PK\x06\x07", 4)), std::string::npos);

    ExtractWithTheEngine(path, dir / "out", "pw");
    EXPECT_EQ(ziptest::ReadFile(dir / "out/d/a.txt"), data);
    EXPECT_EQ(ziptest::ReadFile(dir / "out/d/b.txt"), "");
    EXPECT_EQ(ziptest::ReadFile(dir / "out/d/c.txt"), "x");
}

TEST_F(ArchiveWriter, WithoutZip64AnEntryBeyondFourGibibytesFailsWithFortyThree) {
    OpenNew(); // a TZipArchiver starts with Zip64 disabled
    const std::int64_t prefix = (std::int64_t{1} << 32) + 100;
    PutFourGibibytesInFront(*a, prefix);
    Add("a.txt", "data", 6);
    std::vector<std::int32_t> codes;
    a->OnProcessFileFailure = [&](vcl::TObject*, const std::string&, TZAProcessOperation,
                                  std::int32_t native, std::int32_t, const std::string&,
                                  TZAAction& action) {
        codes.push_back(native);
        action = fxaIgnore;
    };
    a->EndUpdate();
    EXPECT_EQ(codes, std::vector<std::int32_t>{43});
    EXPECT_TRUE(Names().empty());
    a->CloseArchive();
    // The empty directory; its end lies beyond 4 GiB, so the Zip64 end records come with it.
    EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(path)), prefix + 56 + 20 + 22);
}

TEST_F(ArchiveWriter, Zip64AlwaysMarksEveryEntryAndPeersReadIt) {
    a->SetZip64Mode(zmAlways);
    OpenNew();
    std::string data = ziptest::CompressibleText(50000);
    AddFolder("d");
    Add("d/a.txt", data, 6);
    Add("d/b.txt", "", 6);
    Finish();
    ExpectValid();
    EXPECT_EQ(PythonView(path), "d/ 0 00000000\nd/a.txt 50000 " + Hex(Crc(data)) +
                                    "\nd/b.txt 0 00000000\ncomment:\n");
    // Both sizes go to the Zip64 record, the 32-bit fields holding the marker.
    EXPECT_NE(CentralFields(path).find("d/a.txt method 8 crc " + Hex(Crc(data)) +
                                       " sizes ffffffff ffffffff zip64 [50000, "),
              std::string::npos)
        << CentralFields(path);
    // Version 4.5 to extract, as zipinfo reports it.
    EXPECT_NE(Capture("zipinfo -v '" + path + "'")
                  .find("minimum software version required to extract:   4.5"),
              std::string::npos);
}

TEST_F(ArchiveWriter, SixtyFiveThousandFiveHundredThirtyFiveEntriesGetTheZip64EndRecords) {
    for (int i = 0; i < 65535; ++i)
        ziptest::WriteFile(src + "/f" + std::to_string(i), "");
    OpenNew();
    a->SetCompressionMode(0);
    a->AddFiles("*.*", zip::faAllEntries, "");
    Finish();
    const std::string bytes = ziptest::ReadFile(path);
    EXPECT_NE(bytes.find(std::string("PK\x06\x06", 4)), std::string::npos);
    EXPECT_NE(bytes.find(std::string("PK\x06\x07", 4)), std::string::npos);
    const std::string count =
        Capture("/usr/bin/python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
                "print(len(z.infolist()), z.testzip())' '" +
                path + "'");
    EXPECT_EQ(count, "65535 None\n");
    EXPECT_TRUE(ziptest::Run("7zz t '" + path + "'"));
}

// A new split set of 64 KiB volumes at FileName, with a batch begun.
void OpenNewSplitSet(TZipArchiver& archiver, const std::string& fileName, bool advanced) {
    archiver.SetSpanningMode(smSplitting);
    archiver.SpanningOptions().AdvancedNaming = advanced;
    archiver.SpanningOptions().VolumeSize = vsCustom;
    archiver.SpanningOptions().SetCustomVolumeSize(65536);
    archiver.SetFileName(fileName);
    archiver.OpenArchive();
    archiver.BeginUpdate();
}

TEST_F(ArchiveWriter, SplitIntoSixtyFourKibibyteVolumes) {
    platform::TFreeSpaceScope free([](const std::string&) { return std::int64_t{1} << 30; });
    OpenNewSplitSet(*a, path, false);
    std::string random = ziptest::RandomBytes(200000, 9);
    std::string text = ziptest::CompressibleText(100000);
    Add("random.bin", random, 6);
    Add("text.txt", text, 6);
    AddFolder("folder");
    ziptest::Dir(*a).ArcComment = "split"; // no public call sets the archive comment
    Finish();

    EXPECT_EQ(ziptest::ReadFile(dir / "out.Z01").size(), 65536u);
    EXPECT_EQ(ziptest::ReadFile(dir / "out.Z02").size(), 65536u);
    EXPECT_EQ(ziptest::ReadFile(dir / "out.Z03").size(), 65536u);
    EXPECT_TRUE(vcl::FileExists(path));
    EXPECT_FALSE(vcl::FileExists(dir / "out.Z04"));
    // The peers look for the volumes in the letter case of the archive's extension.
    for (const char* n : {"01", "02", "03"})
        std::filesystem::rename(dir / ("out.Z" + std::string(n)), dir / ("out.z" + std::string(n)));
    EXPECT_TRUE(ziptest::Run("7zz t '" + path + "'")) << Capture("7zz t '" + path + "'");
    ASSERT_TRUE(ziptest::Run("cd '" + dir.Path() + "' && 7zz x -oout out.zip"));
    EXPECT_EQ(ziptest::ReadFile(dir / "out/random.bin"), random);
    EXPECT_EQ(ziptest::ReadFile(dir / "out/text.txt"), text);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "out/folder"));
    EXPECT_NE(Capture("7zz l '" + path + "'").find("Comment = split"), std::string::npos);
    // (Info-ZIP's joiner, zip 3.0, cuts an entry that spans more than two volumes, in its own
    // sets too, so 7-Zip alone reads this one.)
}

TEST_F(ArchiveWriter, SplitSetsOfBothNamingsReadBackThroughTheEngine) {
    platform::TFreeSpaceScope free([](const std::string&) { return std::int64_t{1} << 30; });
    const std::string random = ziptest::RandomBytes(200000, 9);
    const std::string text = ziptest::CompressibleText(100000);
    ziptest::WriteFile(src + "/random.bin", random);
    ziptest::WriteFile(src + "/text.txt", text);
    ziptest::WriteFile(src + "/empty.txt", "");
    std::filesystem::create_directories(src + "/folder");
    for (const bool advanced : {false, true}) {
        SCOPED_TRACE(advanced ? "advanced naming" : "plain naming");
        vcl::TComponent o{nullptr};
        auto* w = vcl::Create<TZipArchiver>(&o);
        w->TempDir = temp.Path();
        w->BaseDir = src;
        w->SetCompressionMode(6);
        const std::string set = dir / (advanced ? "adv.zip" : "plain.zip");
        OpenNewSplitSet(*w, set, advanced);
        w->Password = "pw";
        w->AddFiles("random.bin", zip::faAllEntries, "");
        w->Password.clear();
        w->AddFiles("text.txt", zip::faAllEntries, "");
        w->AddFiles("empty.txt", zip::faAllEntries, "");
        w->AddFiles("folder", zip::faAllEntries, "");
        ziptest::Dir(*w).ArcComment = "split"; // no public call sets the archive comment
        w->EndUpdate();
        w->CloseArchive();
        EXPECT_TRUE(vcl::FileExists(dir / (advanced ? "adv_003.zip" : "plain.Z03")));

        const std::string out = dir / (advanced ? "out-adv" : "out-plain");
        ExtractWithTheEngine(set, out, "pw");
        EXPECT_EQ(ziptest::ReadFile(out + "/random.bin"), random);
        EXPECT_EQ(ziptest::ReadFile(out + "/text.txt"), text);
        EXPECT_TRUE(vcl::FileExists(out + "/empty.txt"));
        EXPECT_TRUE(std::filesystem::is_directory(out + "/folder"));
    }
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_TRUE(TempFilesIn(temp.Path()).empty());
}

// Peers on this system show a name right only as flagged UTF-8, even one CP850 could hold.
TEST_F(ArchiveWriter, NonAsciiNamesGoAsFlaggedUtf8AndAsciiNamesAsTheyAre) {
    OpenNew();
    Add("café déjà vu.txt", "one", 6);
    Add("prix €.txt", "two", 6);
    Add("plain.txt", "three", 6);
    Finish();
    const std::string bytes = ziptest::ReadFile(path);
    EXPECT_EQ(bytes.find("caf\x82"), std::string::npos); // no CP850 é
    EXPECT_NE(bytes.find("café déjà vu.txt"), std::string::npos);
    EXPECT_NE(bytes.find("prix €.txt"), std::string::npos);
    const std::string flags = Capture("/usr/bin/python3 -c '\n"
                                      "import sys, zipfile\n"
                                      "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                                      "    print(i.flag_bits & 0x800)\n' '" +
                                      path + "'");
    EXPECT_EQ(flags, "2048\n2048\n0\n");
    EXPECT_NE(Capture("7zz l '" + path + "'").find("café déjà vu.txt"), std::string::npos);
    EXPECT_NE(Capture("LC_ALL=C.UTF-8 bsdtar -tf '" + path + "'").find("café déjà vu.txt"),
              std::string::npos);
    EXPECT_NE(Capture("LC_ALL=C.UTF-8 unzip -l '" + path + "'").find("café déjà vu.txt"),
              std::string::npos);
    ExpectValid();
    const std::string view = PythonView(path);
    EXPECT_NE(view.find("café déjà vu.txt 3"), std::string::npos) << view;
    EXPECT_NE(view.find("prix €.txt 3"), std::string::npos) << view;
}

// Updates of an archive that is already written, in the same session.
struct ArchiveUpdate : ArchiveWriter {
    std::string one = ziptest::CompressibleText(40000);
    std::string two = ziptest::RandomBytes(30000, 2);
    std::string three = ziptest::CompressibleText(5000);
    ArchiveUpdate() {
        OpenNew();
        Add("one.txt", one, 6);
        Add("two.bin", two, 1);
        Add("three.txt", three, 9);
        a->EndUpdate();
        before = ziptest::ReadFile(path);
        a->BeginUpdate();
    }
    std::string before;
    std::vector<std::string> written{"one.txt", "two.bin", "three.txt"};
};

TEST_F(ArchiveUpdate, DeleteRenameCommentAndAddInOnePass) {
    a->DeleteFiles("one.txt", zip::faAllEntries, "");
    // No public call renames an entry or changes its comment: the marks are set by hand.
    TDirItem& renamed = Entry("two.bin");
    renamed.StoredName = "renamed/€two.bin"; // CP850 has no euro sign: the name goes as UTF-8
    renamed.NewData = true;
    renamed.Operation = poRename;
    TDirItem& commented = Entry("three.txt");
    commented.SetComment("third");
    commented.CentralHeader.CommentLength = 5;
    commented.NewData = true;
    commented.Operation = poChangeComment;
    std::string four = ziptest::CompressibleText(12345);
    Add("four.txt", four, 4);
    std::vector<TZAProcessOperation> operations;
    a->OnOverallProgress = [&](vcl::TObject*, double, TZAProcessOperation op, TZAProgressPhase,
                               bool&) { operations.push_back(op); };
    Finish();
    ExpectValid();
    EXPECT_EQ(PythonView(path), "renamed/€two.bin 30000 " + Hex(Crc(two)) + "\nthree.txt 5000 " +
                                    Hex(Crc(three)) + "\nfour.txt 12345 " + Hex(Crc(four)) +
                                    "\ncomment:\n");
    EXPECT_NE(Capture("unzip -l '" + path + "'").find("third"), std::string::npos);
    ASSERT_FALSE(operations.empty());
    EXPECT_EQ(operations.front(), poRename);
    EXPECT_TRUE(TempFilesIn(temp.Path()).empty());
}

TEST_F(ArchiveUpdate, AnAbortedAddLeavesTheArchiveByteForByteAndNoTemporaryFile) {
    AddVanishing("missing.txt");
    std::vector<std::string> failures;
    a->OnProcessFileFailure = [&](vcl::TObject*, const std::string& name, TZAProcessOperation,
                                  std::int32_t native, std::int32_t, const std::string&,
                                  TZAAction& action) {
        failures.push_back(name + " " + std::to_string(native));
        action = fxaAbort;
    };
    a->DeleteFiles("one.txt", zip::faAllEntries, ""); // rebuilding starts at the first entry
    try {
        a->EndUpdate();
    } catch (const EZAException&) {
        // what an abort raises is the pass's own business; the archive is what counts here
    }
    EXPECT_EQ(failures, std::vector<std::string>{src + "/missing.txt 33"});
    EXPECT_EQ(ziptest::ReadFile(path), before);
    EXPECT_EQ(Names(), written);
    EXPECT_TRUE(TempFilesIn(temp.Path()).empty());
}

TEST_F(ArchiveUpdate, AnIgnoredAddIsLeftOutAndTheRestIsWritten) {
    AddVanishing("missing.txt");
    Add("five.txt", "five", 6);
    a->OnProcessFileFailure = [&](vcl::TObject*, const std::string&, TZAProcessOperation,
                                  std::int32_t, std::int32_t, const std::string&,
                                  TZAAction& action) { action = fxaIgnore; };
    a->EndUpdate();
    EXPECT_EQ(Names(), (std::vector<std::string>{"one.txt", "two.bin", "three.txt", "five.txt"}));
    ExpectValid();
    EXPECT_NE(PythonView(path).find("five.txt 4"), std::string::npos);
}

// A source that breaks off with a stream error part way.
class BrokenSource : public vcl::TMemoryStream {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override {
        if (Position() > 0)
            throw vcl::EReadError();
        return TMemoryStream::Read(buffer, count);
    }
};

TEST_F(ArchiveUpdate, AStreamErrorRollsBackAndPropagates) {
    // A file does not fail part way through a read on demand: the entry is given a source
    // stream that does, by hand.
    TDirItem& updated = Entry("one.txt");
    updated.NewData = true;
    updated.Operation = poUpdate;
    updated.CompressionMode = 0;
    updated.CentralHeader.Method = 0;
    auto source = std::make_unique<BrokenSource>();
    std::string data(3000000, 'x');
    source->WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    updated.TakeSourceStream(std::move(source));
    EXPECT_THROW(a->EndUpdate(), vcl::EReadError);
    EXPECT_EQ(ziptest::ReadFile(path), before);
    EXPECT_EQ(Names(), written);
    EXPECT_FALSE(Entry("one.txt").NewData);
    EXPECT_TRUE(TempFilesIn(temp.Path()).empty());
}

TEST_F(ArchiveUpdate, AnArchiveOpenedReadOnlyFailsWithItsBytesAndNoTemporaryFileLeft) {
    a->EndUpdate();
    a->CloseArchive();
    a->SetFileName(path);
    a->OpenArchive(vcl::fmOpenRead | vcl::fmShareDenyNone);
    a->BeginUpdate();
    a->DeleteFiles("one.txt", zip::faAllEntries, "");
    EXPECT_THROW(a->EndUpdate(), vcl::Exception);
    EXPECT_EQ(ziptest::ReadFile(path), before);
    EXPECT_EQ(Names(), written);
    EXPECT_TRUE(TempFilesIn(temp.Path()).empty());
}

TEST_F(ArchiveUpdate, ACancelAtTheStartTouchesNothingAndOneDuringTheWorkRollsBack) {
    const std::string four = ziptest::CompressibleText(3000000);
    Add("four.txt", four, 1);
    a->OnOverallProgress = [&](vcl::TObject*, double, TZAProcessOperation, TZAProgressPhase phase,
                               bool& cancel) { cancel = phase == ppStart; };
    a->EndUpdate();
    EXPECT_EQ(ziptest::ReadFile(path), before);
    EXPECT_EQ(Names().size(), 4u); // the pending change stays
    a->CloseArchive();             // its pass would be cancelled just the same
    EXPECT_EQ(ziptest::ReadFile(path), before);
    a->OnOverallProgress = nullptr;

    // The archive opened again, as it is on disk.
    a->OpenArchive();
    EXPECT_EQ(Names(), written);
    a->BeginUpdate();
    a->AddFiles("four.txt", zip::faAllEntries, "");
    a->DeleteFiles("one.txt", zip::faAllEntries, "");
    // The new archive is written beside the old one, as a file without a name: nothing of
    // it shows in TempDir or in the archive's folder, even while the pass runs.
    std::size_t filesSeen = 0;
    a->OnFileProgress = [&](vcl::TObject*, const std::string&, double p, TZAProcessOperation,
                            TZAProgressPhase phase, bool& cancel) {
        filesSeen = std::max(filesSeen, TempFilesIn(temp.Path()).size() +
                                            static_cast<std::size_t>(std::distance(
                                                std::filesystem::directory_iterator(dir.Path()),
                                                std::filesystem::directory_iterator())));
        cancel = phase == ppProcess && p > 0;
    };
    a->EndUpdate();
    EXPECT_EQ(filesSeen, 2u); // the archive and the source folder
    EXPECT_EQ(ziptest::ReadFile(path), before);
    EXPECT_EQ(Names(), written);
    EXPECT_TRUE(TempFilesIn(temp.Path()).empty());
}

// A source whose size promises more bytes than it gives.
class ClaimsMore : public vcl::TMemoryStream {
public:
    std::int64_t Size() override { return TMemoryStream::Size() + 1000; }
};

TEST_F(ArchiveUpdate, AMovedFileIsDeletedOnlyOnceTheArchiveHoldsIt) {
    // No public call moves files into the archive: added entries are marked as moves by hand.
    Add("moved.txt", "moved data", 6);
    Entry("moved.txt").Operation = poMove;
    a->EndUpdate();
    EXPECT_FALSE(vcl::FileExists(src + "/moved.txt"));
    EXPECT_NE(PythonView(path).find("moved.txt 10"), std::string::npos);

    // A moved file whose data cannot be written whole is neither archived nor deleted.
    a->BeginUpdate();
    Add("kept.txt", "kept data", 0);
    TDirItem& f = Entry("kept.txt");
    f.Operation = poMove;
    auto shorter = std::make_unique<ClaimsMore>(); // nor does a file end before its size
    shorter->WriteBuffer("kept data", 9);
    f.TakeSourceStream(std::move(shorter));
    std::vector<std::int32_t> codes;
    a->OnProcessFileFailure = [&](vcl::TObject*, const std::string&, TZAProcessOperation,
                                  std::int32_t native, std::int32_t, const std::string&,
                                  TZAAction& action) {
        codes.push_back(native);
        action = fxaIgnore;
    };
    a->EndUpdate();
    EXPECT_EQ(codes, std::vector<std::int32_t>{34});
    EXPECT_TRUE(vcl::FileExists(src + "/kept.txt"));
    EXPECT_EQ(PythonView(path).find("kept.txt"), std::string::npos);
    ExpectValid();
}

// Archives made by the peers, some with data descriptors after their entries, as the engine
// opens them from disk: a pass that aborts leaves their bytes, one that deletes and adds
// writes an archive every peer accepts.
TEST_F(ArchiveWriter, PeerArchivesOpenedFromDiskAreUpdatedOrLeftAsTheyWere) {
    const std::string peer = dir / "peer";
    std::filesystem::create_directories(peer + "/sub");
    ziptest::WriteFile(peer + "/a.txt", ziptest::CompressibleText(30000));
    ziptest::WriteFile(peer + "/b.bin", ziptest::RandomBytes(20000, 3));
    ziptest::WriteFile(peer + "/sub/c.txt", ziptest::CompressibleText(1000));
    ziptest::WriteFile(src + "/new.txt", "new data");
    const char* const makers[] = {
        "zip -q -r -z ../p.zip . < /dev/null",
        "zip -q -r - . | cat > ../p.zip", // streamed: data descriptors
        "zip -q -r -e -P pw - . | cat > ../p.zip",
        "7zz a -tzip ../p.zip . > /dev/null",
        "/usr/bin/python3 -c \"import zipfile, sys\n"
        "z = zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED)\n"
        "for n in ('a.txt', 'b.bin', 'sub/c.txt'): z.write(n)\n"
        "z.close()\" | cat > ../p.zip",
    };
    const std::string archive = dir / "p.zip";
    for (const char* maker : makers) {
        SCOPED_TRACE(maker);
        std::filesystem::remove(archive);
        Capture("cd '" + peer + "' && " + maker);
        vcl::TComponent o{nullptr};
        auto* w = vcl::Create<TZipArchiver>(&o);
        w->SetName("ZipArchiver1");
        w->TempDir = temp.Path();
        w->BaseDir = src;
        w->SetFileName(archive);
        w->OpenArchive();
        const std::string made = ziptest::ReadFile(archive);
        // The files, folders left out: deleting a folder's entry is not deleting what it holds.
        std::vector<std::string> names;
        for (const std::string& name : StoredNames(*w))
            if (name.back() != '/')
                names.push_back(name);
        ASSERT_EQ(names.size(), 3u);

        w->BeginUpdate();
        w->DeleteFiles(names[0], zip::faAllEntries, "");
        ziptest::WriteFile(src + "/missing.txt", "soon gone");
        w->AddFiles("missing.txt", zip::faAllEntries, "");
        std::filesystem::remove(src + "/missing.txt");
        w->OnProcessFileFailure = [](vcl::TObject*, const std::string&, TZAProcessOperation,
                                     std::int32_t, std::int32_t, const std::string&,
                                     TZAAction& action) { action = fxaAbort; };
        try {
            w->EndUpdate();
        } catch (const EZAException&) {
            // the archive is what counts here
        }
        EXPECT_TRUE(ziptest::ReadFile(archive) == made);

        w->BeginUpdate();
        w->DeleteFiles(names[0], zip::faAllEntries, "");
        w->AddFiles("new.txt", zip::faAllEntries, "");
        w->EndUpdate();
        w->CloseArchive();
        EXPECT_TRUE(ziptest::Run("unzip -t -P pw '" + archive + "'"))
            << Capture("unzip -t -P pw '" + archive + "'");
        EXPECT_TRUE(ziptest::Run("7zz t -ppw '" + archive + "'"));
        const std::string view = PythonView(archive, "pw");
        EXPECT_EQ(view.find(names[0] + " "), std::string::npos) << view;
        EXPECT_NE(view.find(names[1] + " "), std::string::npos) << view;
        EXPECT_NE(view.find(names[2] + " "), std::string::npos) << view;
        EXPECT_NE(view.find("new.txt 8 " + Hex(Crc("new data"))), std::string::npos) << view;
        EXPECT_TRUE(TempFilesIn(temp.Path()).empty());
    }
}

TEST_F(ArchiveWriter, ProgressReportsEachBlockOfAnEntryAndACancelLeavesTheArchiveAlone) {
    OpenNew();
    Add("small.txt", "small", 6);
    Finish();
    const std::string before = ziptest::ReadFile(path);
    a->OpenArchive();
    a->BeginUpdate();
    // Four blocks at mode 1; the handler cancels at the third block's report.
    Add("x.bin", ziptest::CompressibleText(4 * 524288), 1);
    std::vector<double> file, overall;
    a->OnFileProgress = [&](vcl::TObject*, const std::string& name, double p, TZAProcessOperation,
                            TZAProgressPhase phase, bool& cancel) {
        if (phase != ppProcess)
            return;
        EXPECT_EQ(name, src + "/x.bin");
        file.push_back(p);
        cancel = file.size() == 3;
    };
    a->OnOverallProgress = [&](vcl::TObject*, double p, TZAProcessOperation, TZAProgressPhase phase,
                               bool&) {
        if (phase == ppProcess)
            overall.push_back(p);
    };
    a->EndUpdate();
    EXPECT_EQ(file, (std::vector<double>{0, 25, 50}));
    EXPECT_EQ(overall, (std::vector<double>{0, 25}));
    EXPECT_EQ(ziptest::ReadFile(path), before);
    EXPECT_EQ(Names(), std::vector<std::string>{"small.txt"});
}

TEST_F(ArchiveWriter, TemporaryFilesFollowThePlatformRule) {
    std::string name = ziptest::Engine(*a).MakeTempFileName();
    EXPECT_EQ(vcl::ExtractFilePath(name), temp.Path() + "/");
    EXPECT_EQ(vcl::ExtractFileName(name).substr(0, 2), "FC");
    EXPECT_EQ(vcl::ExtractFileExt(name), ".TMP");
    EXPECT_EQ(vcl::ExtractFileName(name).size(), 10u);
    EXPECT_TRUE(vcl::FileExists(name));
    EXPECT_NE(ziptest::Engine(*a).MakeTempFileName(), name);
    a->TempDir = dir / "missing-folder";
    try {
        ziptest::Engine(*a).MakeTempFileName();
        FAIL() << "no error";
    } catch (const EZAException& e) {
        EXPECT_EQ(e.NativeError(), zeCannotCreateFile);
    }
}

} // namespace
