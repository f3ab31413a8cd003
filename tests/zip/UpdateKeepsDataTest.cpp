// Updates of archives made by the peers, each of a shape that once cost data: every entry the
// update does not change keeps its bytes and reads back through unzip, 7-Zip, bsdtar and
// Python's zipfile.
#include "LoopSupport.h"
#include "vcl/Dialogs.h"
#include "zip/ZAExcept.h"
#include "zip/ZipArchiver.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

using namespace zip;
using ziptest::Capture;
using ziptest::Contents;
using ziptest::ReadFile;
using ziptest::TempDir;
using ziptest::WriteFile;
namespace fs = std::filesystem;

namespace {

// Every peer reads every entry; bsdtar reads the local headers in file order, as a stream.
void ExpectPeersReadIt(const std::string& archive) {
    EXPECT_TRUE(ziptest::Run("unzip -tq '" + archive + "'"))
        << Capture("unzip -t '" + archive + "'");
    EXPECT_TRUE(ziptest::Run("7zz t '" + archive + "'")) << Capture("7zz t '" + archive + "'");
    EXPECT_TRUE(ziptest::Run("bsdtar -xOf '" + archive + "' > /dev/null"))
        << Capture("bsdtar -xOf '" + archive + "'");
    EXPECT_TRUE(ziptest::Run("cat '" + archive + "' | bsdtar -xOf - > /dev/null"))
        << Capture("cat '" + archive + "' | bsdtar -xOf -");
}

// The engine's own reading: each entry's name as listed, then each entry that fails its test
// with its error.
std::string EngineView(const std::string& archive) {
    vcl::TComponent owner{nullptr};
    auto* z = vcl::Create<TZipArchiver>(&owner);
    z->SetName("Reader");
    z->SetFileName(archive);
    std::string failed;
    z->OnProcessFileFailure = [&failed](vcl::TObject*, const std::string& name, TZAProcessOperation,
                                        std::int32_t native, std::int32_t, const std::string&,
                                        TZAAction& action) {
        failed += "failed " + name + " " + std::to_string(native) + "\n";
        action = fxaIgnore;
    };
    z->OpenArchive(32);
    std::string view;
    TZAArchiveItem item;
    for (bool ok = z->FindFirst("*", item, zip::faAllEntries, ""); ok; ok = z->FindNext(item))
        view += item.Folder + item.FileName + "\n";
    z->TestFiles("*", zip::faAllEntries, "");
    return view + failed;
}

struct UpdateKeepsData : ::testing::Test {
    TempDir dir;
    std::string src = dir / "src";
    std::string path = dir / "a.zip";
    vcl::TScriptedDialogs dialogs;
    std::vector<std::string> failures;
    vcl::TComponent owner{nullptr};
    TZipArchiver* a = vcl::Create<TZipArchiver>(&owner);

    UpdateKeepsData() {
        fs::create_directories(src);
        a->SetName("ZipArchiver1");
        a->SetFileName(path);
        a->BaseDir = src;
        a->OnProcessFileFailure = [this](vcl::TObject*, const std::string& name,
                                         TZAProcessOperation, std::int32_t native, std::int32_t,
                                         const std::string&, TZAAction& action) {
            failures.push_back(name + " " + std::to_string(native));
            action = fxaIgnore;
        };
    }
    void Python(const std::string& body) { ziptest::PythonZip(dir, path, body); }
};

TEST_F(UpdateKeepsData, ADirectoryInAnotherOrderThanTheFileKeepsEveryEntry) {
    // File order A, B, C; directory order C, B, A.
    Python("z.writestr('A.txt', 'first in the file')\n"
           "z.writestr('B.txt', 'second in the file')\n"
           "z.writestr('C.txt', 'third in the file')\n"
           "z.filelist.reverse()");
    WriteFile(src + "/A.txt", "A, replaced");
    a->OpenArchive();
    a->AddFiles("A.txt", 0x20, "");
    a->CloseArchive();
    EXPECT_EQ(Contents(path),
              "C.txt=third in the file\nB.txt=second in the file\nA.txt=A, replaced\n");
    ExpectPeersReadIt(path);
}

TEST_F(UpdateKeepsData, AMovedEntryKeepsItsZip64DataDescriptor) {
    // Written to a pipe: sizes follow the data in descriptors, 8-byte ones for b.txt.
    const std::string script = dir / "stream.py";
    WriteFile(script, "import sys, zipfile\n"
                      "class Pipe:\n"
                      "    def __init__(self, f): self.f = f\n"
                      "    def write(self, b): return self.f.write(b)\n"
                      "    def flush(self): self.f.flush()\n"
                      "with open(sys.argv[1], 'wb') as f:\n"
                      "    z = zipfile.ZipFile(Pipe(f), 'w', zipfile.ZIP_DEFLATED)\n"
                      "    z.writestr('a.txt', 'goes first')\n"
                      "    with z.open('b.txt', 'w', force_zip64=True) as w: w.write(b'b' * 5000)\n"
                      "    z.writestr('c.txt', 'stays last')\n"
                      "    z.close()\n");
    ASSERT_TRUE(ziptest::Run("/usr/bin/python3 '" + script + "' '" + path + "'"));
    a->OpenArchive();
    a->DeleteFiles("a.txt", zip::faAllEntries, "");
    a->CloseArchive();
    EXPECT_EQ(Contents(path), "b.txt=" + std::string(5000, 'b') + "\nc.txt=stays last\n");
    ExpectPeersReadIt(path);
    EXPECT_EQ(Capture("cat '" + path + "' | bsdtar -xOf - c.txt"), "stays last");
}

TEST_F(UpdateKeepsData, APrefixThatTheOffsetsLeaveOutIsCountedForFoldersToo) {
    fs::create_directories(src + "/sub");
    WriteFile(src + "/sub/f.txt", "in a folder");
    ASSERT_TRUE(
        ziptest::Run("cd '" + src + "' && zip -q '" + (dir / "plain.zip") + "' sub sub/f.txt"));
    // As `cat stub plain.zip`, without `zip -A`: the offsets do not count the stub.
    WriteFile(path, std::string(1000, 'S') + ReadFile(dir / "plain.zip"));
    WriteFile(src + "/new.txt", "added");
    a->OpenArchive();
    a->AddFiles("new.txt", 0x20, "");
    a->CloseArchive();
    EXPECT_EQ(Contents(path), "sub/\nsub/f.txt=in a folder\nnew.txt=added\n");
    EXPECT_TRUE(ziptest::Run("unzip -tq '" + path + "'")) << Capture("unzip -t '" + path + "'");
    EXPECT_TRUE(ziptest::Run("7zz t '" + path + "'")) << Capture("7zz t '" + path + "'");
    EXPECT_EQ(ReadFile(path).substr(0, 1000), std::string(1000, 'S'));
}

TEST_F(UpdateKeepsData, EntriesOfOneNameEachKeepTheirOwnData) {
    // Python warns and writes both: they are told apart by their place alone.
    Python("import warnings\nwarnings.simplefilter('ignore')\n"
           "z.writestr('first', 'goes')\n"
           "z.writestr('new', 'muchl')\n"
           "z.writestr('new', 'A new file.')");
    a->OpenArchive();
    a->DeleteFiles("first", zip::faAllEntries, "");
    a->CloseArchive();
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(Contents(path), "new=muchl\nnew=A new file.\n");
    EXPECT_EQ(EngineView(path), "new\nnew\n");
    EXPECT_TRUE(ziptest::Run("unzip -tq '" + path + "'")) << Capture("unzip -t '" + path + "'");
}

// Info-ZIP's way with a name its code page cannot hold: the name field in CP437, the name
// itself in a Unicode path record (0x7075), in the local and the central header alike.
std::string UnicodePathArchive(const ziptest::TempDir& dir, const std::string& path) {
    ziptest::PythonZip(
        dir, path,
        "import struct, zlib\n"
        "raw = b'\\x82t\\x82.txt'\n"
        "u = 'renommé-été.txt'.encode()\n"
        "i = zipfile.ZipInfo('EtE.txt')\n"
        "i.extra = struct.pack('<HHBI', 0x7075, 5 + len(u), 1, zlib.crc32(raw)) + u\n"
        "z.writestr(i, 'unicode name')\n"
        "z.writestr('other.txt', 'other')\n"
        "z.close()\n"
        "d = open(sys.argv[1], 'rb').read().replace(b'EtE.txt', raw)\n"
        "open(sys.argv[1], 'wb').write(d)\n"
        "z = zipfile.ZipFile(sys.argv[1], 'a')");
    return ReadFile(path);
}

TEST_F(UpdateKeepsData, ANameFromAUnicodePathRecordStaysTheNameAnEntryIsListedBy) {
    struct Case {
        const char* name;
        bool withDirectory; // else cut off before it: the directory is rebuilt
        bool replace;       // else an unrelated entry is deleted
    };
    const Case cases[] = {
        {"replaced", true, true},
        {"beside a deletion", true, false},
        {"rebuilt, replaced", false, true},
        {"rebuilt, beside a deletion", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = UnicodePathArchive(dir, path);
        if (!c.withDirectory)
            WriteFile(path, bytes.substr(0, bytes.find("PK\x01\x02")));
        WriteFile(src + "/renommé-été.txt", "replaced");
        vcl::TComponent o{nullptr};
        auto* z = vcl::Create<TZipArchiver>(&o);
        z->SetFileName(path);
        z->BaseDir = src;
        z->OpenArchive();
        if (c.replace)
            z->AddFiles("renommé-été.txt", zip::faAllEntries, "");
        else
            z->DeleteFiles("other.txt", zip::faAllEntries, "");
        z->CloseArchive();
        EXPECT_EQ(EngineView(path),
                  c.replace ? "renommé-été.txt\nother.txt\n" : "renommé-été.txt\n");
        // Python reads no Unicode path record: it shows the name field in CP437, unless the
        // name was written anew (as UTF-8).
        EXPECT_EQ(Contents(path), c.replace ? "renommé-été.txt=replaced\nother.txt=other\n"
                                            : "été.txt=unicode name\n");
        EXPECT_TRUE(ziptest::Run("unzip -tq '" + path + "' >/dev/null"))
            << Capture("unzip -t '" + path + "'");
    }
}

TEST_F(UpdateKeepsData, FolderNamesEndingInDotsAreNamesNotStepsUp) {
    Python("z.writestr('testfi../txt', 'old')\nz.writestr('a.../b', 'old')");
    fs::create_directories(src + "/testfi..");
    fs::create_directories(src + "/a...");
    WriteFile(src + "/testfi../txt", "new one");
    WriteFile(src + "/a.../b", "new two");
    a->OpenArchive();
    a->BeginUpdate();
    a->AddFiles("testfi../txt", zip::faAllEntries, "");
    a->AddFiles("a.../b", zip::faAllEntries, "");
    a->EndUpdate();
    a->CloseArchive();
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(Contents(path), "testfi../txt=new one\na.../b=new two\n");
    EXPECT_TRUE(ziptest::Run("unzip -tq '" + path + "'")) << Capture("unzip -t '" + path + "'");
}

TEST_F(UpdateKeepsData, AFileAddedBesideADamagedEntryReadsBack) {
    // No directory: it is rebuilt from the local headers. The first entry's header claims a
    // name of 61,680 bytes, past the end of the file, and the entry after it (which the
    // rebuild cannot see behind that claim) is a stored archive holding a header like the
    // first one's.
    WriteFile(
        dir / "make.py",
        "import struct, sys, zlib\n"
        "data = b'x' * 40\n"
        "def local(name, body):\n"
        "    return struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, 0, 0, 0x6000, 0x5A21,\n"
        "                       zlib.crc32(body), len(body), len(body), len(name), 0) + name\n"
        "inner = local(b'x.txt', data) + data\n"
        "first = local(b'x.txt', data)\n"
        "first = first[:26] + struct.pack('<H', 61680) + first[28:]\n"
        "open(sys.argv[1], 'wb').write(first + data + local(b'inner.bin', inner) + inner)\n");
    ASSERT_TRUE(ziptest::Run("/usr/bin/python3 '" + (dir / "make.py") + "' '" + path + "'"));
    const std::string before = EngineView(path);
    WriteFile(src + "/extra.txt", "an extra file");
    a->OpenArchive();
    a->AddFiles("extra.txt", zip::faAllEntries, "");
    a->CloseArchive();
    EXPECT_TRUE(failures.empty());
    // The damaged entry fails as it did; the new one reads back.
    EXPECT_EQ(EngineView(path), before.substr(0, before.find("failed")) + "extra.txt\n" +
                                    before.substr(before.find("failed")));
    EXPECT_EQ(Capture("/usr/bin/python3 -c 'import sys, zipfile\n"
                      "print(zipfile.ZipFile(sys.argv[1]).read(\"extra.txt\").decode())' '" +
                      path + "'"),
              "an extra file\n");
    // unzip refuses the whole archive: the damaged entry's claim overlaps everything after it.
}

// Through the processing loop's update step, which the batch has no call for yet.
struct UpdateStep : ::testing::Test {
    TempDir dir;
    std::string src = dir / "src";
    std::vector<std::string> failures;
    vcl::TComponent owner{nullptr};
    ziptest::TLoopArchiver* a = vcl::Create<ziptest::TLoopArchiver>(&owner);

    UpdateStep() {
        fs::create_directories(src + "/sub");
        a->SetName("ZipArchiver1");
        a->BaseDir = src;
        a->OnProcessFileFailure = [this](vcl::TObject*, const std::string& name,
                                         TZAProcessOperation, std::int32_t native, std::int32_t,
                                         const std::string&, TZAAction& action) {
            failures.push_back(name + " " + std::to_string(native));
            action = fxaIgnore;
        };
    }
    // Load reads the directory from a read-only stream; an update needs the archive opened as
    // OpenArchive would open it.
    void OpenForWriting(const std::string& path) {
        a->SetOpenMode(vcl::fmOpenReadWrite | vcl::fmShareDenyWrite);
        ziptest::Engine(*a).ReplaceArchiveStream(
            std::make_unique<vcl::TFileStream>(path, vcl::fmOpenReadWrite | vcl::fmShareDenyWrite));
    }
};

TEST_F(UpdateStep, AFailedUpdateThatIsIgnoredKeepsTheOldEntryThoughItsNameWouldChange) {
    const std::string path = dir / "a.zip";
    ziptest::PythonZip(dir, path, "z.writestr('sub/f.txt', 'old data')\nz.writestr('g.txt', 'g')");
    a->Load(dir, path);
    OpenForWriting(path);
    WriteFile(src + "/sub/f.txt", "new data");
    a->Options().StorePath = spNoPath; // the update would store it as f.txt
    a->BeginUpdate();
    a->Run(poUpdate);
    ASSERT_EQ(a->Entry(0).StoredName, "f.txt");
    fs::remove(src + "/sub/f.txt"); // gone before the pass reads it
    a->EndUpdate();
    a->CloseArchive();
    EXPECT_EQ(failures.size(), 1u);
    EXPECT_EQ(Contents(path), "sub/f.txt=old data\ng.txt=g\n");
}

TEST_F(UpdateStep, AnEntryStoredWithItsFullPathIsUpdatedFromThatPath) {
    const std::string file = src + "/f.txt";
    WriteFile(file, "old data");
    const std::string path = dir / "a.zip";
    {
        vcl::TComponent maker{nullptr};
        auto* z = vcl::Create<TZipArchiver>(&maker);
        z->SetFileName(path);
        z->Options().StorePath = spFullPathWithDrive;
        z->OpenArchive();
        z->AddFiles(file, 0x20, "");
    }
    a->Load(dir, path);
    OpenForWriting(path);
    ASSERT_EQ(a->Entry(0).StoredName, file);
    WriteFile(file, "new data");
    a->Options().StorePath = spFullPathWithDrive;
    a->BaseDir = dir / "elsewhere";
    a->BeginUpdate();
    a->Run(poUpdate);
    a->EndUpdate();
    a->CloseArchive();
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(Contents(path), file + "=new data\n");
}

} // namespace
