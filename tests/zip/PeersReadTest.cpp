// Archives the engine writes through its public calls, read back exactly by the peers: each
// case makes or updates an archive of a folder, and Info-ZIP's unzip and 7-Zip test it,
// Python's zipfile extracts it and compares every file's bytes, mode and name with the
// folder, and bsdtar lists it. Unzip also extracts it in a far time zone, where only the UTC
// time of the extended-timestamp record gives the files their own modification times.
#include "ZipTestSupport.h"
#include "vcl/Dialogs.h"
#include "zip/ZipArchiver.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace zip;
using ziptest::AllAttributes;
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
    void AddAll() {
        a->OpenArchive();
        a->AddFiles("*.*", AllAttributes, "");
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
        a->DeleteFiles("data.bin", AllAttributes, "");
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

TEST_F(Peers, AScriptKeepsItsExecutableModeThroughTheEngineToo) {
    AddAll();
    const std::string out = dir / "engine";
    vcl::TComponent other{nullptr};
    auto* r = vcl::Create<TZipArchiver>(&other);
    r->SetFileName(path);
    r->BaseDir = out;
    r->OpenArchive(32);
    r->ExtractFiles("*.*", AllAttributes, "");
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
