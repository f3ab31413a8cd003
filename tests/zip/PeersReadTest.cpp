// Archives the engine writes through its public calls, read back exactly by the peers: each
// case makes or updates an archive of a folder, and Info-ZIP's unzip and 7-Zip test it,
// Python's zipfile extracts it and compares every file's bytes, mode and name with the
// folder, and bsdtar lists it. Unzip also extracts it in a far time zone, where only the UTC
// time of the extended-timestamp record gives the files their own modification times.
// Split sets are tested by 7-Zip as they are, and by unzip and Python once Info-ZIP has joined
// them.
#include "ZipTestSupport.h"
#include "platform/Volumes.h"
#include "vcl/Dialogs.h"
#include "zip/ZipArchiver.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace zip;
using ziptest::Capture;
using ziptest::ReadFile;
using ziptest::TempDir;
using ziptest::WriteFile;
namespace fs = std::filesystem;

namespace {

// Extracts every entry and compares it with the folder: the same files, bytes and (for
// entries made on Unix) permission bits. Prints "same" or what differs.
const char* const PythonCompare = R"(/usr/bin/python3 -c '
import os, sys, zipfile
archive, folder, password = sys.argv[1], sys.argv[2], sys.argv[3]
z = zipfile.ZipFile(archive)
if password: z.setpassword(password.encode())
wanted = {}
for root, dirs, files in os.walk(folder):
    for f in files:
        p = os.path.join(root, f)
        wanted[os.path.relpath(p, folder)] = p
found = {}
for i in z.infolist():
    if i.is_dir(): continue
    name = i.filename
    # Info-ZIP writes a Unix name as its UTF-8 bytes without the flag, as unzip reads it.
    if i.create_system == 3 and not i.flag_bits & 0x800:
        name = name.encode("cp437").decode("utf-8", "replace")
    found[name] = i
problems = []
if sorted(found) != sorted(wanted):
    problems.append("names %r != %r" % (sorted(found), sorted(wanted)))
for name, i in found.items():
    if name not in wanted: continue
    if z.read(i) != open(wanted[name], "rb").read(): problems.append(name + ": bytes")
    if i.create_system == 3:
        mode = os.stat(wanted[name]).st_mode & 0o7777
        if (i.external_attr >> 16) & 0o7777 != mode:
            problems.append("%s: mode %o != %o" % (name, (i.external_attr >> 16) & 0o7777, mode))
print(" ".join(problems) or "same")
')";

// Where a split set's central directory lies, found from its signatures rather than from the
// end record the engine wrote: "crosses, ends below its start" when it begins on a volume
// before the last and the end record stands lower in the last volume than the directory's
// start in its own; "starts a volume" when the last volume begins with a central header.
const char* const PythonDirLayout = R"(/usr/bin/python3 -c '
import sys
volumes = [open(v, "rb").read() for v in sys.argv[1:]]
start = [(n, v.find(b"PK\x01\x02")) for n, v in enumerate(volumes) if b"PK\x01\x02" in v][0]
end = volumes[-1].rfind(b"PK\x05\x06")
if start[0] < len(volumes) - 1 and end < start[1]: print("crosses, ends below its start")
elif volumes[-1].startswith(b"PK\x01\x02"): print("starts a volume")
else: print("volume %d offset %d, end at %d" % (start[0], start[1], end))
')";

// The offset of the central directory in a single-volume archive.
std::int64_t DirectoryOffset(const std::string& archive) {
    return std::stoll(Capture("/usr/bin/python3 -c 'import struct, sys\n"
                              "d = open(sys.argv[1], \"rb\").read()\n"
                              "i = d.rfind(b\"PK\\x05\\x06\")\n"
                              "print(struct.unpack(\"<I\", d[i + 16:i + 20])[0])' '" +
                              archive + "'"));
}

struct Peers : ::testing::Test {
    TempDir dir;
    std::string src = dir / "src";
    std::string path = dir / "a.zip";
    vcl::TScriptedDialogs dialogs;
    vcl::TComponent owner{nullptr};
    TZipArchiver* a = vcl::Create<TZipArchiver>(&owner);

    Peers() {
        a->SetName("ZipArchiver1");
        a->SetFileName(path);
        a->BaseDir = src;
        a->SetCompressionMode(6);
        fs::create_directories(src + "/sub/deep");
        WriteFile(src + "/a.txt", ziptest::CompressibleText(30000));
        WriteFile(src + "/data.bin", ziptest::RandomBytes(100000, 3));
        WriteFile(src + "/empty", "");
        WriteFile(src + "/café déjà vu.txt", "accents");
        WriteFile(src + "/sub/script.sh", "#!/bin/sh\necho installed\n");
        ::chmod((src + "/sub/script.sh").c_str(), 0755);
        WriteFile(src + "/sub/deep/d.txt", "deep");
        ::chmod((src + "/sub/deep/d.txt").c_str(), 0600);
    }

    // Every peer reads the archive, and it holds exactly the folder.
    // The engine's own entries also come back with their times and modes through unzip.
    void ExpectPeersReadTheFolder(const std::string& password = {},
                                  const std::vector<std::string>& written = {"a.txt",
                                                                             "sub/script.sh"}) {
        const std::string p = password.empty() ? "" : " -P " + password;
        const std::string s = password.empty() ? "" : " -p" + password;
        EXPECT_TRUE(ziptest::Run("unzip -tq" + p + " '" + path + "'"))
            << Capture("unzip -t" + p + " '" + path + "'");
        EXPECT_TRUE(ziptest::Run("7zz t" + s + " '" + path + "'"))
            << Capture("7zz t" + s + " '" + path + "'");
        EXPECT_EQ(Capture(std::string(PythonCompare) + " '" + path + "' '" + src + "' '" +
                          password + "'"),
                  "same\n");
        const std::string listing = Capture("LC_ALL=C.UTF-8 bsdtar -tf '" + path + "'");
        for (const char* name : {"a.txt", "café déjà vu.txt", "sub/script.sh", "sub/deep/d.txt"})
            EXPECT_NE(listing.find(name), std::string::npos) << name << " in " << listing;

        // Unzip in a time zone fourteen hours east gives back the modification times.
        const std::string out = dir / "unzipped";
        fs::remove_all(out);
        ASSERT_TRUE(ziptest::Run("TZ=Pacific/Kiritimati unzip -q" + p + " '" + path + "' -d '" +
                                 out + "'"));
        for (const std::string& name : written) {
            struct stat original {
            }, extracted{};
            ::stat((src + "/" + name).c_str(), &original);
            ::stat((out + "/" + name).c_str(), &extracted);
            EXPECT_EQ(extracted.st_mtime, original.st_mtime) << name;
            EXPECT_EQ(extracted.st_mode & 07777, original.st_mode & 07777) << name;
        }
        EXPECT_TRUE(fs::exists(out + "/café déjà vu.txt"));
    }
    // A split set: 7-Zip tests the set itself, Info-ZIP joins it, and unzip and Python read
    // the joined archive. bsdtar cannot read split sets at all and is left out here.
    // 7-Zip and Info-ZIP look for the volumes beside "a.zip" as "a.z01", in the letter case
    // of the archive's extension, where the engine names them "a.Z01": on this file system
    // the names differ, so the peers get lower-case names.
    void ExpectPeersReadTheSplitSet(const std::string& layout = {}) {
        std::vector<std::string> volumes;
        for (int n = 1;; ++n) {
            char number[16];
            std::snprintf(number, sizeof number, "%02d", n);
            const std::string upper = dir / (std::string("a.Z") + number);
            if (!fs::exists(upper))
                break;
            volumes.push_back(dir / (std::string("a.z") + number));
            fs::rename(upper, volumes.back());
        }
        ASSERT_FALSE(volumes.empty()) << "no split volumes";
        std::string quoted;
        for (const std::string& v : volumes)
            quoted += " '" + v + "'";
        if (!layout.empty()) {
            EXPECT_EQ(Capture(std::string(PythonDirLayout) + quoted + " '" + path + "'"),
                      layout + "\n");
        }
        EXPECT_TRUE(ziptest::Run("7zz t '" + path + "'")) << Capture("7zz t '" + path + "'");
        // And the engine itself reads every entry back.
        {
            vcl::TComponent o{nullptr};
            auto* r = vcl::Create<TZipArchiver>(&o);
            r->SetFileName(path);
            std::int32_t failures = 0;
            r->OnProcessFileFailure = [&](vcl::TObject*, const std::string&, TZAProcessOperation,
                                          std::int32_t, std::int32_t, const std::string&,
                                          TZAAction& action) {
                ++failures;
                action = fxaIgnore;
            };
            r->OpenArchive(32);
            r->TestFiles("*.*", zip::faAllEntries, "");
            r->CloseArchive();
            EXPECT_EQ(failures, 0);
        }
        const std::string joined = dir / "joined.zip";
        fs::remove(joined);
        EXPECT_TRUE(ziptest::Run("zip -s 0 '" + path + "' --out '" + joined + "'"))
            << Capture("zip -s 0 '" + path + "' --out '" + joined + "' | tail -3");
        EXPECT_TRUE(ziptest::Run("unzip -tq '" + joined + "'"))
            << Capture("unzip -t '" + joined + "' | tail -3");
        EXPECT_EQ(Capture(std::string(PythonCompare) + " '" + joined + "' '" + src + "' ''"),
                  "same\n");
    }
    void WriteSplit(std::int64_t volumeSize) {
        vcl::TComponent o{nullptr};
        auto* w = vcl::Create<TZipArchiver>(&o);
        w->SetFileName(path);
        w->BaseDir = src;
        w->SetCompressionMode(a->CompressionMode());
        w->SetSpanningMode(smSplitting);
        w->SpanningOptions().AdvancedNaming = false;
        w->SpanningOptions().VolumeSize = vsCustom;
        w->SpanningOptions().SetCustomVolumeSize(volumeSize);
        w->OpenArchive();
        w->AddFiles("*.*", zip::faAllEntries, "");
        w->CloseArchive();
    }
    void AddAll() {
        a->OpenArchive();
        a->AddFiles("*.*", zip::faAllEntries, "");
        a->CloseArchive();
    }
    // The changes every update case makes, on the disk and in the archive.
    void UpdateLikeARelease() {
        WriteFile(src + "/a.txt", "replaced");
        WriteFile(src + "/sub/new.txt", "added");
        fs::remove(src + "/data.bin");
        a->OpenArchive();
        a->BeginUpdate();
        a->AddFiles("a.txt", 0x20, "");
        a->AddFiles("sub/new.txt", 0x20, "");
        a->DeleteFiles("data.bin", zip::faAllEntries, "");
        a->EndUpdate();
        a->CloseArchive();
    }
};

TEST_F(Peers, WrittenAtEveryModeStoredAndDeflated) {
    for (int mode : {0, 1, 6, 9}) {
        SCOPED_TRACE(mode);
        fs::remove(path);
        a->SetCompressionMode(static_cast<std::uint8_t>(mode));
        AddAll();
        ExpectPeersReadTheFolder();
    }
}

TEST_F(Peers, WrittenEncrypted) {
    a->Password = "secret";
    AddAll();
    ExpectPeersReadTheFolder("secret");
}

TEST_F(Peers, WrittenWithZip64RecordsForEveryEntry) {
    a->SetZip64Mode(zmAlways);
    AddAll();
    ExpectPeersReadTheFolder();
}

TEST_F(Peers, WrittenWithZip64EndRecordsForMoreThan65535Entries) {
    fs::create_directories(src + "/many");
    for (int i = 0; i < 65535; ++i)
        WriteFile(src + "/many/" + std::to_string(i), i % 1000 == 0 ? std::to_string(i) : "");
    AddAll();
    EXPECT_NE(ReadFile(path).find(std::string("PK\x06\x06", 4)), std::string::npos);
    ExpectPeersReadTheFolder();
}

TEST_F(Peers, WrittenAsSplitSets) {
    platform::TFreeSpaceScope free([](const std::string&) { return std::int64_t{1} << 30; });
    struct Case {
        const char* what;
        // Fills the source folder and gives the volume size.
        std::function<std::int64_t()> prepare;
        const char* layout;
    } cases[] = {
        {"the folder over 64 KiB volumes", [] { return std::int64_t{65536}; }, ""},
        {"a directory that crosses into the last volume and ends below where it began",
         [&] {
             fs::remove_all(src);
             fs::create_directories(src);
             for (int i = 1; i <= 800; ++i)
                 WriteFile(src + "/f" + std::to_string(i) + ".txt",
                           "file " + std::to_string(i) + " content\n");
             return std::int64_t{65536};
         },
         "crosses, ends below its start"},
        {"a first central header that fits only on the next volume",
         [&] {
             // One stored file whose data leaves 30 bytes of the first volume, too few for
             // its central header.
             fs::remove_all(src);
             fs::create_directories(src);
             WriteFile(src + "/big.bin", ziptest::RandomBytes(60000, 4));
             a->SetCompressionMode(0);
             AddAll();
             const std::int64_t grow = 65536 - 30 - DirectoryOffset(path);
             fs::remove(path);
             WriteFile(src + "/big.bin",
                       ziptest::RandomBytes(static_cast<std::size_t>(60000 + grow), 4));
             return std::int64_t{65536};
         },
         "starts a volume"},
    };
    const std::string pristine = dir / "pristine";
    fs::copy(src, pristine, fs::copy_options::recursive);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(src);
        fs::copy(pristine, src, fs::copy_options::recursive);
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            if (entry.is_regular_file())
                fs::remove(entry.path()); // the set before
        a->SetCompressionMode(6);
        const std::int64_t volumeSize = c.prepare();
        WriteSplit(volumeSize);
        ExpectPeersReadTheSplitSet(c.layout);
    }
}

TEST_F(Peers, AScriptKeepsItsExecutableModeThroughTheEngineToo) {
    AddAll();
    const std::string out = dir / "engine";
    vcl::TComponent other{nullptr};
    auto* r = vcl::Create<TZipArchiver>(&other);
    r->SetFileName(path);
    r->BaseDir = out;
    r->OpenArchive(32);
    r->ExtractFiles("*.*", zip::faAllEntries, "");
    r->CloseArchive();
    EXPECT_EQ(fs::status(out + "/sub/script.sh").permissions() & fs::perms::all, fs::perms(0755));
    EXPECT_EQ(ReadFile(out + "/café déjà vu.txt"), "accents");
}

TEST_F(Peers, UpdatesOfArchivesMadeByEachPeer) {
    struct Case {
        const char* peer;
        std::function<void()> make;
    } cases[] = {
        {"Info-ZIP zip",
         [&] { ASSERT_TRUE(ziptest::Run("cd '" + src + "' && zip -qr '" + path + "' .")); }},
        {"Info-ZIP zip with an archive comment",
         [&] {
             ASSERT_TRUE(ziptest::Run("cd '" + src + "' && zip -qr '" + path + "' ."));
             ASSERT_TRUE(ziptest::Run("echo 'release notes' | zip -qz '" + path + "'"));
         }},
        {"7-Zip",
         [&] {
             ASSERT_TRUE(
                 ziptest::Run("cd '" + src + "' && 7zz a -tzip '" + path + "' . -bso0 -bsp0"));
         }},
        {"bsdtar",
         [&] {
             ASSERT_TRUE(
                 ziptest::Run("cd '" + src + "' && bsdtar --format zip -cf '" + path + "' *"));
         }},
        {"Python's zipfile",
         [&] {
             ASSERT_TRUE(
                 ziptest::Run("cd '" + src +
                              "' && /usr/bin/python3 -c 'import os, sys, zipfile\n"
                              "z = zipfile.ZipFile(sys.argv[1], \"w\", zipfile.ZIP_DEFLATED)\n"
                              "for r, d, f in sorted(os.walk(\".\")):\n"
                              "    for n in sorted(f): z.write(os.path.join(r, n)[2:])\n"
                              "z.close()' '" +
                              path + "'"));
         }},
        {"Info-ZIP zip behind a stub the offsets leave out",
         [&] {
             ASSERT_TRUE(
                 ziptest::Run("cd '" + src + "' && zip -qr '" + (dir / "plain.zip") + "' ."));
             WriteFile(path, "#!/bin/sh\nexit 0\n" + ReadFile(dir / "plain.zip"));
         }},
    };
    const std::string pristine = dir / "pristine";
    fs::copy(src, pristine, fs::copy_options::recursive);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.peer);
        fs::remove_all(src);
        fs::copy(pristine, src, fs::copy_options::recursive);
        fs::remove(path);
        c.make();
        const std::string comment =
            Capture("/usr/bin/python3 -c 'import sys, zipfile\n"
                    "print(zipfile.ZipFile(sys.argv[1]).comment.decode())' '" +
                    path + "'");
        UpdateLikeARelease();
        ExpectPeersReadTheFolder({}, {"a.txt", "sub/new.txt"});
        EXPECT_EQ(Capture("/usr/bin/python3 -c 'import sys, zipfile\n"
                          "print(zipfile.ZipFile(sys.argv[1]).comment.decode())' '" +
                          path + "'"),
                  comment);
    }
}

} // namespace
