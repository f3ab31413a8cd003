// An update killed at any moment leaves the old archive whole: a child process updates one
// small entry of an Info-ZIP archive that holds a large one, and is killed with SIGKILL at
// each of its events and after a range of delays. Before the new archive is complete the old
// one must be there byte for byte; after it, the new one; never anything else, and no copy of
// either left in the archive's folder or the temporary folder.
#include "ZipTestSupport.h"
#include "support/Child.h"

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using ziptest::Capture;
using ziptest::ReadFile;
using ziptest::TempDir;
using ziptest::WriteFile;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct InterruptedUpdate : ::testing::Test {
    TempDir dir;
    TempDir temp;
    std::string src = dir / "src";
    std::string archive = dir / "a.zip";
    std::string before;
    std::string oldTmpDir = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";

    InterruptedUpdate() {
        fs::create_directories(src);
        WriteFile(src + "/a.txt", "the old small entry");
        WriteFile(src + "/big.bin", ziptest::RandomBytes(48 << 20, 11));
        WriteFile(src + "/c.txt", "after the large one");
        EXPECT_TRUE(
            ziptest::Run("cd '" + src + "' && zip -q -0 '" + archive + "' a.txt big.bin c.txt"));
        before = ReadFile(archive);
        WriteFile(src + "/a.txt", "the new small entry, a little longer");
        // The engine's temporary files would go here.
        setenv("TMPDIR", temp.Path().c_str(), 1);
    }
    ~InterruptedUpdate() override {
        if (oldTmpDir.empty())
            unsetenv("TMPDIR");
        else
            setenv("TMPDIR", oldTmpDir.c_str(), 1);
    }

    // Python's zipfile reads every entry (checking its CRC) and says which a.txt it found.
    std::string Which() {
        return Capture("/usr/bin/python3 -c '\n"
                       "import sys, zipfile\n"
                       "z = zipfile.ZipFile(sys.argv[1])\n"
                       "assert z.namelist() == [\"a.txt\", \"big.bin\", \"c.txt\"], z.namelist()\n"
                       "for n in z.namelist(): z.read(n)\n"
                       "print(z.read(\"a.txt\").decode())\n' '" +
                       archive + "'");
    }
    void ExpectNothingLeft() {
        EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"a.zip", "src"}));
        EXPECT_TRUE(Names(temp.Path()).empty());
    }
};

TEST_F(InterruptedUpdate, AKillAtAnyEventBeforeTheNewArchiveIsCompleteLeavesTheOldOne) {
    for (const char* point : {"open", "overall start", "file start", "file process", "file end"}) {
        SCOPED_TRACE(point);
        {
            testsupport::Child child(ZIP_UPDATE_CHILD, {archive, src, "a.txt", point});
            std::string line;
            do
                line = child.ReadLine(60000);
            while (!line.empty() && line != "stopped");
            ASSERT_EQ(line, "stopped");
            ::kill(child.Pid(), SIGKILL);
        }
        EXPECT_TRUE(ReadFile(archive) == before);
        ExpectNothingLeft();
    }
}

TEST_F(InterruptedUpdate, AKillAfterTheLastEventFindsTheNewArchiveComplete) {
    {
        testsupport::Child child(ZIP_UPDATE_CHILD, {archive, src, "a.txt", "overall end"});
        std::string line;
        do
            line = child.ReadLine(60000);
        while (!line.empty() && line != "stopped");
        ASSERT_EQ(line, "stopped");
        ::kill(child.Pid(), SIGKILL);
    }
    EXPECT_EQ(Which(), "the new small entry, a little longer\n");
    EXPECT_TRUE(ziptest::Run("unzip -tq '" + archive + "'"));
    ExpectNothingLeft();
}

// Between the events the pass copies the large entry, writes the directory, flushes and
// renames; kills after growing delays land somewhere in there. Whatever the moment, the
// archive is the old one or the complete new one.
TEST_F(InterruptedUpdate, AKillAtAnyMomentLeavesTheOldArchiveOrTheCompleteNewOne) {
    int oldSeen = 0;
    int newSeen = 0;
    for (int delayMs : {0, 2, 5, 10, 20, 40, 80, 160, 320}) {
        SCOPED_TRACE(delayMs);
        {
            testsupport::Child child(ZIP_UPDATE_CHILD, {archive, src, "a.txt", ""});
            ASSERT_EQ(child.ReadLine(60000), "open");
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            ::kill(child.Pid(), SIGKILL);
        }
        const std::string now = ReadFile(archive);
        if (now == before) {
            ++oldSeen;
        } else {
            EXPECT_EQ(Which(), "the new small entry, a little longer\n");
            ++newSeen;
            // Back to the old archive for the next round.
            WriteFile(archive, before);
        }
        ExpectNothingLeft();
    }
    EXPECT_EQ(oldSeen + newSeen, 9);
}

// A write that fails for want of space reaches the disk-full event and then the failure event
// with the system's reason; the entry is left out and the archive keeps what it had. The
// update runs in a mount namespace of its own, on a small tmpfs. A large entry is written as
// it is compressed, a small one in one piece once it is whole: both fail the same way.
TEST(UpdateOnAFullDisk, TheFailureNamesItsCauseAndTheArchiveKeepsItsEntries) {
    struct Case {
        const char* what;
        int newBytes; // the file added
        int oldBytes; // an old entry the new archive copies first
    };
    for (const Case c :
         {Case{"a large entry", 3 << 20, 0}, Case{"a small entry", 600 << 10, 500 << 10}}) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string disk = dir / "disk";
        const std::string src = dir / "src";
        fs::create_directories(disk);
        fs::create_directories(src);
        WriteFile(src + "/a.txt", ziptest::RandomBytes(c.oldBytes, 3) + "small");
        WriteFile(src + "/big.bin", ziptest::RandomBytes(c.newBytes, 5));
        ASSERT_TRUE(ziptest::Run("cd '" + src + "' && zip -q -0 '" + (dir / "a.zip") + "' a.txt"));
        const std::string script =
            "mount -t tmpfs -o size=1m tmpfs '" + disk + "' && cp '" + (dir / "a.zip") + "' '" +
            disk + "/' && '" + ZIP_UPDATE_CHILD + "' '" + disk + "/a.zip' '" + src +
            "' big.bin '' && unzip -tq '" + disk + "/a.zip' && ls -A '" + disk + "'";
        const std::string out = Capture("unshare -m sh -c \"" + script + "\"");
        EXPECT_NE(out.find("disk full\n"), std::string::npos) << out;
        EXPECT_NE(
            out.find("failure 46 ZipArchiver1: Write to stream error: No space left on device"),
            std::string::npos)
            << out;
        EXPECT_NE(out.find("done\nNo errors detected"), std::string::npos) << out;
        EXPECT_EQ(out.substr(out.size() - 7), "\na.zip\n") << out; // nothing else on the disk
    }
}

// The old entries after a changed one are copied, a small one through the streams, a large
// one file to file; a disk that fills up during either copy reaches the disk-full event, and
// the update given up there leaves the old archive as it was and nothing beside it.
TEST(UpdateOnAFullDisk, CopyingTheOldEntriesFailsWholeAndLeavesTheOldArchive) {
    struct Case {
        int oldBytes;
        const char* disk; // holds the old archive, not a second copy of it
    };
    for (const Case c : {Case{600 << 10, "1m"}, Case{1200 << 10, "2m"}}) {
        SCOPED_TRACE(c.oldBytes);
        TempDir dir;
        const std::string disk = dir / "disk";
        const std::string src = dir / "src";
        fs::create_directories(disk);
        fs::create_directories(src);
        WriteFile(src + "/a.txt", "small");
        WriteFile(src + "/old.bin", ziptest::RandomBytes(c.oldBytes, 9));
        ASSERT_TRUE(
            ziptest::Run("cd '" + src + "' && zip -q -0 '" + (dir / "a.zip") + "' a.txt old.bin"));
        WriteFile(src + "/a.txt", "the small entry, changed");
        const std::string script = std::string("mount -t tmpfs -o size=") + c.disk + " tmpfs '" +
                                   disk + "' && cp '" + (dir / "a.zip") + "' '" + disk + "/' && '" +
                                   ZIP_UPDATE_CHILD + "' '" + disk + "/a.zip' '" + src +
                                   "' a.txt ''; cmp '" + (dir / "a.zip") + "' '" + disk +
                                   "/a.zip' && ls -A '" + disk + "'";
        const std::string out = Capture("unshare -m sh -c \"" + script + "\"");
        EXPECT_NE(out.find("disk full\n"), std::string::npos) << out;
        EXPECT_NE(out.find("error ZipArchiver1: Write to stream error: No space left on device"),
                  std::string::npos)
            << out;
        EXPECT_EQ(out.substr(out.size() - 7), "\na.zip\n") << out; // unchanged, and alone
    }
}

} // namespace
