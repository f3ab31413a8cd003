// Whole archives written by the engine (the update pass and the directory writer) and checked
// by Info-ZIP, 7-Zip and Python's zipfile: every mode, folders, passwords, Zip64, 64 KiB split
// volumes, comments, OEM names; updates of an open archive and their rollback.
#include "WriterAccess.h"
#include "ZipTestSupport.h"
#include "platform/Volumes.h"
#include "vcl/Dialogs.h"
#include "zip/ZACrc32.h"
#include "zip/ZAExcept.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

using namespace zip;
using ziptest::TWriteArchiver;

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

std::string Hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", v);
    return text;
}

std::uint32_t Crc(const std::string& data) {
    return ~UpdateCrc32(Crc32Start, data.data(), static_cast<std::int64_t>(data.size()));
}

std::vector<std::string> TempFilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().rfind("FC", 0) == 0)
            names.push_back(entry.path().filename().string());
    return names;
}

struct ArchiveWriter : ::testing::Test {
    vcl::TComponent owner{nullptr};
    TWriteArchiver* a = vcl::Create<TWriteArchiver>(&owner);
    ziptest::TempDir dir;
    ziptest::TempDir temp;
    vcl::TScriptedDialogs dialogs;
    std::string path = dir / "out.zip";
    ArchiveWriter() {
        a->SetName("ZipArchiver1");
        a->TempDir = temp.Path();
    }
    void OpenNew() {
        a->OpenNew(path);
        a->BeginUpdate();
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
    a->OpenNew(path);
    a->CloseArchive();
    EXPECT_EQ(ziptest::ReadFile(path), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    EXPECT_EQ(PythonView(path), "comment:\n");
    EXPECT_NE(Capture("unzip -l '" + path + "'").find("zipfile is empty"), std::string::npos);
}

TEST_F(ArchiveWriter, EntriesAtEveryModeWithFoldersAndACommentReadBackEverywhere) {
    OpenNew();
    std::string expected;
    a->AddFolder("docs/");
    expected += "docs/ 0 00000000\n";
    for (std::uint8_t mode = 0; mode <= 9; ++mode) {
        std::string name = "docs/mode" + std::to_string(mode) + ".txt";
        std::string data = ziptest::CompressibleText(20000u + mode * 1000u);
        a->AddData(name, data, mode);
        expected += name + " " + std::to_string(data.size()) + " " + Hex(Crc(data)) + "\n";
    }
    std::string random = ziptest::RandomBytes(600000, 11);
    a->AddData("random.bin", random, 6);
    a->AddData("empty.txt", "", 6);
    expected += "random.bin 600000 " + Hex(Crc(random)) + "\nempty.txt 0 00000000\n";
    a->Dir().ArcComment = "archive comment";
    a->CloseArchive();

    ExpectValid();
    EXPECT_EQ(PythonView(path), expected + "comment:archive comment\n");
    const std::string listing = Capture("unzip -l '" + path + "'");
    EXPECT_NE(listing.find("docs/mode9.txt"), std::string::npos);
    EXPECT_NE(listing.find("13 files"), std::string::npos) << listing;
    // The empty file is stored, and so is the folder.
    EXPECT_NE(Capture("unzip -v '" + path + "'").find("Stored        0"), std::string::npos);
}

TEST_F(ArchiveWriter, EncryptedEntriesOpenWithTheirPasswordInUnzipSevenZipPythonAndTheEngine) {
    OpenNew();
    std::string text = ziptest::CompressibleText(300000);
    std::string random = ziptest::RandomBytes(70000, 5);
    a->AddData("secret.txt", text, 9, "pa55word");
    a->AddData("stored.bin", random, 0, "pa55word");
    a->AddData("none.txt", "", 6, "pa55word");
    a->ApplyUpdates(); // the directory stays in memory for the engine's own reader
    ExpectValid("pa55word");
    EXPECT_FALSE(ziptest::Run("unzip -t -P wrong '" + path + "'"));
    EXPECT_EQ(PythonView(path, "pa55word"), "secret.txt 300000 " + Hex(Crc(text)) +
                                                "\nstored.bin 70000 " + Hex(Crc(random)) +
                                                "\nnone.txt 0 00000000\ncomment:\n");
    a->Password = "pa55word";
    for (std::int32_t i = 0; i < 3; ++i) {
        TDirItem& e = a->Dir().Directory.ItemPtr(i);
        vcl::TStream& archive = *a->ArchiveStream();
        archive.SetPosition(e.CentralHeader.LocalHeaderOffset);
        vcl::TMemoryStream back;
        EXPECT_TRUE(a->DecompressStream(archive, back, e)) << e.StoredName;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.Memory()),
                              static_cast<std::size_t>(back.Size())),
                  i == 0   ? text
                  : i == 1 ? random
                           : std::string());
    }
}

TEST_F(ArchiveWriter, EncryptedEntriesAtEveryModeReadBackInEveryPeer) {
    OpenNew();
    std::string expected;
    for (std::uint8_t mode = 0; mode <= 9; ++mode) {
        std::string name = "m" + std::to_string(mode) + ".txt";
        // More than one block at the fast modes, so that sync-flushed pieces are encrypted too.
        std::string data =
            ziptest::CompressibleText(600000u + mode * 1000u) + ziptest::RandomBytes(3000, mode);
        a->AddData(name, data, mode, "s3cret");
        expected += name + " " + std::to_string(data.size()) + " " + Hex(Crc(data)) + "\n";
    }
    a->CloseArchive();
    ExpectValid("s3cret");
    EXPECT_EQ(PythonView(path, "s3cret"), expected + "comment:\n");
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
    r->ExtractFiles("*.*", 10431, "");
    r->CloseArchive();
}

TEST_F(ArchiveWriter, EntriesBeyondFourGibibytesGetZip64OffsetsAndRecords) {
    a->SetZip64Mode(zmAuto);
    OpenNew();
    // A sparse stand-in for four gibibytes of earlier data.
    const std::int64_t prefix = (std::int64_t{1} << 32) + 100;
    a->ArchiveStream()->SetSize(prefix);
    a->Dir().PrefixSize = prefix;
    std::string data = ziptest::CompressibleText(50000);
    a->AddFolder("d/");
    a->AddData("d/a.txt", data, 6);
    a->AddData("d/b.txt", "", 6);
    TDirItem& c = a->AddData("d/c.txt", "x", 0, "pw");
    c.Comment = "entry comment";
    c.CentralHeader.CommentLength = 13;
    a->Dir().ArcComment = "big";
    a->CloseArchive();

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
    a->ArchiveStream()->SetSize(prefix);
    a->Dir().PrefixSize = prefix;
    a->AddData("a.txt", "data", 6);
    std::vector<std::int32_t> codes;
    a->OnProcessFileFailure = [&](vcl::TObject*, const std::string&, TZAProcessOperation,
                                  std::int32_t native, std::int32_t, const std::string&,
                                  TZAAction& action) {
        codes.push_back(native);
        action = fxaIgnore;
    };
    a->ApplyUpdates();
    EXPECT_EQ(codes, std::vector<std::int32_t>{43});
    EXPECT_EQ(a->Dir().Directory.Count(), 0);
    // The empty directory; its end lies beyond 4 GiB, so the Zip64 end records come with it.
    EXPECT_EQ(a->ArchiveStream()->Size(), prefix + 56 + 20 + 22);
}

TEST_F(ArchiveWriter, Zip64AlwaysMarksEveryEntryAndPeersReadIt) {
    a->SetZip64Mode(zmAlways);
    OpenNew();
    std::string data = ziptest::CompressibleText(50000);
    a->AddFolder("d/");
    a->AddData("d/a.txt", data, 6);
    a->AddData("d/b.txt", "", 6);
    a->CloseArchive();
    ExpectValid();
    EXPECT_EQ(PythonView(path), "d/ 0 00000000\nd/a.txt 50000 " + Hex(Crc(data)) +
                                    "\nd/b.txt 0 00000000\ncomment:\n");
    // Version 4.5 to extract, as zipinfo reports it.
    EXPECT_NE(Capture("zipinfo -v '" + path + "'")
                  .find("minimum software version required to extract:   4.5"),
              std::string::npos);
}

TEST_F(ArchiveWriter, SixtyFiveThousandFiveHundredThirtyFiveEntriesGetTheZip64EndRecords) {
    OpenNew();
    for (int i = 0; i < 65535; ++i)
        a->AddData("f" + std::to_string(i), "", 0);
    a->CloseArchive();
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

TEST_F(ArchiveWriter, SplitIntoSixtyFourKibibyteVolumes) {
    platform::TFreeSpaceScope free([](const std::string&) { return std::int64_t{1} << 30; });
    a->SetSpanningMode(smSplitting);
    a->SpanningOptions().AdvancedNaming = false;
    a->SpanningOptions().VolumeSize = vsCustom;
    a->SpanningOptions().SetCustomVolumeSize(65536);
    a->SetFileName(path);
    a->SetOpenMode(0xFFFF);
    TZAVolumeNumberInfo first;
    first.SetNumber(0);
    a->OpenVolume(first);
    a->PretendOpenOnCurrentVolume();
    a->BeginUpdate();
    std::string random = ziptest::RandomBytes(200000, 9);
    std::string text = ziptest::CompressibleText(100000);
    a->AddData("random.bin", random, 6);
    a->AddData("text.txt", text, 6);
    a->AddFolder("folder/");
    a->Dir().ArcComment = "split";
    a->CloseArchive();

    EXPECT_EQ(ziptest::ReadFile(dir / "out.Z01").size(), 65536u);
    EXPECT_EQ(ziptest::ReadFile(dir / "out.Z02").size(), 65536u);
    EXPECT_EQ(ziptest::ReadFile(dir / "out.Z03").size(), 65536u);
    EXPECT_TRUE(vcl::FileExists(path));
    EXPECT_FALSE(vcl::FileExists(dir / "out.Z04"));
    // The peers name the volumes in lower case.
    for (const char* n : {"01", "02", "03"})
        std::filesystem::rename(dir / ("out.Z" + std::string(n)), dir / ("out.z" + std::string(n)));
    EXPECT_TRUE(ziptest::Run("7zz t '" + path + "'")) << Capture("7zz t '" + path + "'");
    // Info-ZIP's joiner expects its own split marker in front of the first volume, which the
    // engine does not write; 7-Zip reads the set as it is.
    ASSERT_TRUE(ziptest::Run("cd '" + dir.Path() + "' && 7zz x -oout out.zip"));
    EXPECT_EQ(ziptest::ReadFile(dir / "out/random.bin"), random);
    EXPECT_EQ(ziptest::ReadFile(dir / "out/text.txt"), text);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "out/folder"));
    EXPECT_NE(Capture("7zz l '" + path + "'").find("Comment = split"), std::string::npos);
}

TEST_F(ArchiveWriter, SplitSetsOfBothNamingsReadBackThroughTheEngine) {
    platform::TFreeSpaceScope free([](const std::string&) { return std::int64_t{1} << 30; });
    const std::string random = ziptest::RandomBytes(200000, 9);
    const std::string text = ziptest::CompressibleText(100000);
    for (const bool advanced : {false, true}) {
        SCOPED_TRACE(advanced ? "advanced naming" : "plain naming");
        vcl::TComponent o{nullptr};
        auto* w = vcl::Create<TWriteArchiver>(&o);
        w->TempDir = temp.Path();
        const std::string set = dir / (advanced ? "adv.zip" : "plain.zip");
        w->SetSpanningMode(smSplitting);
        w->SpanningOptions().AdvancedNaming = advanced;
        w->SpanningOptions().VolumeSize = vsCustom;
        w->SpanningOptions().SetCustomVolumeSize(65536);
        w->SetFileName(set);
        w->SetOpenMode(0xFFFF);
        TZAVolumeNumberInfo first;
        first.SetNumber(0);
        w->OpenVolume(first);
        w->PretendOpenOnCurrentVolume();
        w->BeginUpdate();
        w->AddData("random.bin", random, 6, "pw");
        w->AddData("text.txt", text, 6);
        w->AddData("empty.txt", "", 6);
        w->AddFolder("folder/");
        w->Dir().ArcComment = "split";
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
    a->AddData("café déjà vu.txt", "one", 6);
    a->AddData("prix €.txt", "two", 6);
    a->AddData("plain.txt", "three", 6);
    a->CloseArchive();
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
    // (unzip is left out here: for an entry made on DOS it recodes even flagged names; the
    // entries made from files on this system say Unix.)
    EXPECT_NE(Capture("7zz l '" + path + "'").find("café déjà vu.txt"), std::string::npos);
    EXPECT_NE(Capture("LC_ALL=C.UTF-8 bsdtar -tf '" + path + "'").find("café déjà vu.txt"),
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
        a->AddData("one.txt", one, 6);
        a->AddData("two.bin", two, 1);
        a->AddData("three.txt", three, 9);
        a->ApplyUpdates();
        before = ziptest::ReadFile(path);
        a->BeginUpdate();
    }
    std::string before;
};

TEST_F(ArchiveUpdate, DeleteRenameCommentAndAddInOnePass) {
    a->Dir().Directory.Delete(a->IndexOf("one.txt"));
    TDirItem& renamed = a->Dir().Directory.ItemPtr(a->IndexOf("two.bin"));
    renamed.PrevStoredName = "two.bin";
    renamed.StoredName = "renamed/€two.bin"; // CP850 has no euro sign: the name goes as UTF-8
    renamed.NewData = true;
    renamed.Operation = poRename;
    TDirItem& commented = a->Dir().Directory.ItemPtr(a->IndexOf("three.txt"));
    commented.Comment = "third";
    commented.CentralHeader.CommentLength = 5;
    commented.NewData = true;
    commented.Operation = poChangeComment;
    std::string four = ziptest::CompressibleText(12345);
    a->AddData("four.txt", four, 4);
    std::vector<TZAProcessOperation> operations;
    a->OnOverallProgress = [&](vcl::TObject*, double, TZAProcessOperation op, TZAProgressPhase,
                               bool&) { operations.push_back(op); };
    a->CloseArchive();
    ExpectValid();
    EXPECT_EQ(PythonView(path), "renamed/€two.bin 30000 " + Hex(Crc(two)) + "\nthree.txt 5000 " +
                                    Hex(Crc(three)) + "\nfour.txt 12345 " + Hex(Crc(four)) +
                                    "\ncomment:\n");
    EXPECT_NE(Capture("unzip -l '" + path + "'").find("third"), std::string::npos);
    EXPECT_EQ(operations.front(), poRename);
    EXPECT_TRUE(TempFilesIn(temp.Path()).empty());
}

TEST_F(ArchiveUpdate, AnAbortedAddLeavesTheArchiveByteForByteAndNoTemporaryFile) {
    a->AddFile("missing.txt", dir / "no-such-file.txt", 6);
    std::vector<std::string> failures;
    a->OnProcessFileFailure = [&](vcl::TObject*, const std::string& name, TZAProcessOperation,
                                  std::int32_t native, std::int32_t, const std::string&,
                                  TZAAction& action) {
        failures.push_back(name + " " + std::to_string(native));
        action = fxaAbort;
    };
    a->Dir().Directory.Delete(a->IndexOf("one.txt")); // rebuilding starts at the first entry
    a->ApplyUpdates();
    EXPECT_EQ(failures, std::vector<std::string>{dir / "no-such-file.txt 33"});
    EXPECT_EQ(ziptest::ReadFile(path), before);
    EXPECT_EQ(a->Dir().Directory.Count(), 3);
    EXPECT_TRUE(TempFilesIn(temp.Path()).empty());
}

TEST_F(ArchiveUpdate, AnIgnoredAddIsLeftOutAndTheRestIsWritten) {
    a->AddFile("missing.txt", dir / "no-such-file.txt", 6);
    a->AddData("five.txt", "five", 6);
    a->OnProcessFileFailure = [&](vcl::TObject*, const std::string&, TZAProcessOperation,
                                  std::int32_t, std::int32_t, const std::string&,
                                  TZAAction& action) { action = fxaIgnore; };
    a->ApplyUpdates();
    EXPECT_EQ(a->Dir().Directory.Count(), 4);
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
    TDirItem& updated = a->Dir().Directory.ItemPtr(a->IndexOf("one.txt"));
    updated.NewData = true;
    updated.Operation = poUpdate;
    updated.CompressionMode = 0;
    updated.CentralHeader.Method = 0;
    auto source = std::make_unique<BrokenSource>();
    std::string data(3000000, 'x');
    source->WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    updated.TakeSourceStream(std::move(source));
    EXPECT_THROW(a->ApplyUpdates(), vcl::EReadError);
    EXPECT_EQ(ziptest::ReadFile(path), before);
    EXPECT_EQ(a->Dir().Directory.Count(), 3);
    EXPECT_FALSE(a->Dir().Directory.ItemPtr(0).NewData);
    EXPECT_TRUE(TempFilesIn(temp.Path()).empty());
}

TEST_F(ArchiveUpdate, AnArchiveOpenedReadOnlyFailsWithItsBytesAndNoTemporaryFileLeft) {
    a->CloseArchive();
    a->SetFileName(path);
    a->OpenArchive(vcl::fmOpenRead | vcl::fmShareDenyNone);
    a->BeginUpdate();
    a->Dir().Directory.Delete(0);
    EXPECT_THROW(a->ApplyUpdates(), vcl::Exception);
    EXPECT_EQ(ziptest::ReadFile(path), before);
    EXPECT_EQ(a->Dir().Directory.Count(), 3);
    EXPECT_TRUE(TempFilesIn(temp.Path()).empty());
}

TEST_F(ArchiveUpdate, ACancelAtTheStartTouchesNothingAndOneDuringTheWorkRollsBack) {
    a->AddData("four.txt", ziptest::CompressibleText(3000000), 1);
    a->OnOverallProgress = [&](vcl::TObject*, double, TZAProcessOperation, TZAProgressPhase phase,
                               bool& cancel) { cancel = phase == ppStart; };
    a->ApplyUpdates();
    EXPECT_EQ(ziptest::ReadFile(path), before);
    EXPECT_EQ(a->Dir().Directory.Count(), 4); // the pending change stays

    a->BeginUpdate();
    a->Dir().SavedDirectory.SetCount(3); // the saved directory is the one written
    a->OnOverallProgress = nullptr;
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
    a->Dir().Directory.Delete(a->IndexOf("one.txt"));
    a->ApplyUpdates();
    EXPECT_EQ(filesSeen, 1u); // the archive alone
    EXPECT_EQ(ziptest::ReadFile(path), before);
    EXPECT_EQ(a->Dir().Directory.Count(), 3);
    EXPECT_TRUE(TempFilesIn(temp.Path()).empty());
}

// A source whose size promises more bytes than it gives.
class ClaimsMore : public vcl::TMemoryStream {
public:
    std::int64_t Size() override { return TMemoryStream::Size() + 1000; }
};

TEST_F(ArchiveUpdate, AMovedFileIsDeletedOnlyOnceTheArchiveHoldsIt) {
    const std::string moved = dir / "moved.txt";
    ziptest::WriteFile(moved, "moved data");
    TDirItem& e = a->AddFile("moved.txt", moved, 6);
    e.Operation = poMove;
    a->ApplyUpdates();
    EXPECT_FALSE(vcl::FileExists(moved));
    EXPECT_NE(PythonView(path).find("moved.txt 10"), std::string::npos);

    // A moved file whose data cannot be written whole is neither archived nor deleted.
    a->BeginUpdate();
    const std::string kept = dir / "kept.txt";
    ziptest::WriteFile(kept, "kept data");
    TDirItem& f = a->AddFile("kept.txt", kept, 0);
    f.Operation = poMove;
    auto shorter = std::make_unique<ClaimsMore>();
    shorter->WriteBuffer("kept data", 9);
    f.TakeSourceStream(std::move(shorter));
    std::vector<std::int32_t> codes;
    a->OnProcessFileFailure = [&](vcl::TObject*, const std::string&, TZAProcessOperation,
                                  std::int32_t native, std::int32_t, const std::string&,
                                  TZAAction& action) {
        codes.push_back(native);
        action = fxaIgnore;
    };
    a->ApplyUpdates();
    EXPECT_EQ(codes, std::vector<std::int32_t>{34});
    EXPECT_TRUE(vcl::FileExists(kept));
    EXPECT_EQ(PythonView(path).find("kept.txt"), std::string::npos);
    ExpectValid();
}

// Archives made by the peers, some with data descriptors after their entries, as the engine
// opens them from disk: a pass that aborts leaves their bytes, one that deletes and adds
// writes an archive every peer accepts.
TEST_F(ArchiveWriter, PeerArchivesOpenedFromDiskAreUpdatedOrLeftAsTheyWere) {
    const std::string src = dir / "src";
    std::filesystem::create_directories(src + "/sub");
    ziptest::WriteFile(src + "/a.txt", ziptest::CompressibleText(30000));
    ziptest::WriteFile(src + "/b.bin", ziptest::RandomBytes(20000, 3));
    ziptest::WriteFile(src + "/sub/c.txt", ziptest::CompressibleText(1000));
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
        Capture("cd '" + src + "' && " + maker);
        vcl::TComponent o{nullptr};
        auto* w = vcl::Create<TWriteArchiver>(&o);
        w->SetName("ZipArchiver1");
        w->TempDir = temp.Path();
        w->SetFileName(archive);
        w->OpenArchive();
        const std::string made = ziptest::ReadFile(archive);
        const std::int32_t count = w->Dir().Directory.Count();
        ASSERT_GE(count, 3);

        w->BeginUpdate();
        w->Dir().Directory.Delete(0);
        w->AddFile("missing.txt", dir / "no-such-file", 6);
        w->OnProcessFileFailure = [](vcl::TObject*, const std::string&, TZAProcessOperation,
                                     std::int32_t, std::int32_t, const std::string&,
                                     TZAAction& action) { action = fxaAbort; };
        w->ApplyUpdates();
        EXPECT_TRUE(ziptest::ReadFile(archive) == made);

        w->BeginUpdate();
        const std::string second = w->Dir().Directory.ItemPtr(1).StoredName;
        w->Dir().Directory.Delete(0);
        w->AddData("new.txt", "new data", 6);
        w->ApplyUpdates();
        w->CloseArchive();
        EXPECT_TRUE(ziptest::Run("unzip -t -P pw '" + archive + "'"))
            << Capture("unzip -t -P pw '" + archive + "'");
        EXPECT_TRUE(ziptest::Run("7zz t -ppw '" + archive + "'"));
        const std::string view = PythonView(archive, "pw");
        EXPECT_NE(view.find(second + " "), std::string::npos) << view;
        EXPECT_NE(view.find("new.txt 8 " + Hex(Crc("new data"))), std::string::npos) << view;
        EXPECT_TRUE(TempFilesIn(temp.Path()).empty());
    }
}

TEST_F(ArchiveWriter, TemporaryFilesFollowThePlatformRule) {
    std::string name = a->MakeTempFileName();
    EXPECT_EQ(vcl::ExtractFilePath(name), temp.Path() + "/");
    EXPECT_EQ(vcl::ExtractFileName(name).substr(0, 2), "FC");
    EXPECT_EQ(vcl::ExtractFileExt(name), ".TMP");
    EXPECT_EQ(vcl::ExtractFileName(name).size(), 10u);
    EXPECT_TRUE(vcl::FileExists(name));
    EXPECT_NE(a->MakeTempFileName(), name);
    a->TempDir = dir / "missing-folder";
    try {
        a->MakeTempFileName();
        FAIL() << "no error";
    } catch (const EZAException& e) {
        EXPECT_EQ(e.NativeError(), 19);
    }
}

} // namespace
