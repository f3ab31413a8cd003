// The update batch through the component's public operations only: adding and replacing files
// from BaseDir by mask, deleting by mask, nested batches, the errors EndUpdate raises, and
// what destroying the component with a batch pending does. Results are read back by Python's
// zipfile and Info-ZIP's unzip.
#include "ZipTestSupport.h"
#include "vcl/Dialogs.h"
#include "zip/ZAExcept.h"
#include "zip/ZipArchiver.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace zip;
using ziptest::Capture;
using ziptest::Contents;
using ziptest::ReadFile;
using ziptest::TempDir;
using ziptest::WriteFile;
namespace fs = std::filesystem;

namespace {

int NativeErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EZAException& e) {
        return e.NativeError();
    }
    return 0;
}

struct UpdateBatch : ::testing::Test {
    // The folders and the handlers' state outlive the component, which is destroyed with its
    // owner.
    TempDir dir;
    std::string src = dir / "src";
    std::string path = dir / "a.zip";
    vcl::TScriptedDialogs dialogs;
    std::vector<std::string> failures;
    vcl::TComponent owner{nullptr};
    TZipArchiver* a = vcl::Create<TZipArchiver>(&owner);

    UpdateBatch() {
        a->SetName("ZipArchiver1");
        a->SetFileName(path);
        a->BaseDir = src;
        a->OnProcessFileFailure = [this](vcl::TObject*, const std::string& name,
                                         TZAProcessOperation, std::int32_t native, std::int32_t,
                                         const std::string&, TZAAction& action) {
            failures.push_back(name + " " + std::to_string(native));
            action = fxaIgnore;
        };
        fs::create_directories(src + "/sub/deep");
        WriteFile(src + "/a.txt", "alpha");
        WriteFile(src + "/b.log", "bravo");
        WriteFile(src + "/sub/c.txt", "charlie");
        WriteFile(src + "/sub/deep/d.txt", "delta");
    }
    // The peer's archive of the source folder, opened.
    void OpenZippedByInfoZip() {
        ASSERT_TRUE(ziptest::Run("cd '" + src + "' && zip -q -D '" + path +
                                 "' a.txt b.log sub/c.txt sub/deep/d.txt"));
        a->OpenArchive();
    }
};

TEST_F(UpdateBatch, AddingToANewArchiveTakesFoldersRecursivelyWithTheirFolderEntries) {
    a->OpenArchive();
    a->AddFiles("*.*", zip::faAllEntries, "");
    a->CloseArchive();
    EXPECT_EQ(Contents(path), "a.txt=alpha\nb.log=bravo\nsub/\nsub/c.txt=charlie\nsub/deep/\n"
                              "sub/deep/d.txt=delta\n");
    EXPECT_TRUE(ziptest::Run("unzip -tq '" + path + "'"));
    EXPECT_TRUE(failures.empty());
}

TEST_F(UpdateBatch, MasksAttributesExclusionsAndStorePathChooseWhatIsAddedAndUnderWhichName) {
    struct Case {
        const char* what;
        std::string mask;
        std::int32_t attr;
        std::string exclusion;
        std::vector<std::string> exclusionList;
        bool recurse;
        TZAStorePathMode storePath;
        std::string expected;
    } cases[] = {
        {"a name mask in every folder",
         "*.txt",
         zip::faAllEntries,
         "",
         {},
         true,
         spRelativePath,
         "a.txt=alpha\nsub/c.txt=charlie\nsub/deep/d.txt=delta\n"},
        {"without recursion only the top folder",
         "*.*",
         zip::faAllEntries,
         "",
         {},
         false,
         spRelativePath,
         "a.txt=alpha\nb.log=bravo\n"},
        {"attributes without the folder bit give no folder entries",
         "*.*",
         0x20,
         "",
         {},
         true,
         spRelativePath,
         "a.txt=alpha\nb.log=bravo\nsub/c.txt=charlie\nsub/deep/d.txt=delta\n"},
        {"the exclusion mask and the exclusion list",
         "*.*",
         0x20,
         "*.log",
         {"sub/deep"},
         true,
         spRelativePath,
         "a.txt=alpha\nsub/c.txt=charlie\n"},
        {"a folder part in the mask",
         "sub/*.txt",
         zip::faAllEntries,
         "",
         {},
         true,
         spRelativePath,
         "sub/c.txt=charlie\nsub/deep/d.txt=delta\n"},
        {"a mask naming a folder adds the folder and what it holds",
         "sub",
         zip::faAllEntries,
         "",
         {},
         true,
         spRelativePath,
         "sub/\nsub/c.txt=charlie\nsub/deep/\nsub/deep/d.txt=delta\n"},
        {"names without their folders",
         "*.txt",
         0x20,
         "",
         {},
         true,
         spNoPath,
         "a.txt=alpha\nc.txt=charlie\nd.txt=delta\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(path);
        a->Options().Recurse = c.recurse;
        a->Options().StorePath = c.storePath;
        a->ExclusionMasks().Clear();
        for (const std::string& m : c.exclusionList)
            a->ExclusionMasks().Add(m);
        a->OpenArchive();
        a->AddFiles(c.mask, c.attr, c.exclusion);
        a->CloseArchive();
        EXPECT_EQ(Contents(path), c.expected);
    }
}

TEST_F(UpdateBatch, FullPathsAreStoredWithoutTheirRootAndReadBack) {
    a->Options().StorePath = spFullPath;
    a->OpenArchive();
    a->AddFiles(src + "/a.txt", 0x20, "");
    a->CloseArchive();
    std::string stored = src.substr(1) + "/a.txt";
    EXPECT_EQ(Contents(path), stored + "=alpha\n");
}

TEST_F(UpdateBatch, ReplacingAndDeletingInAnInfoZipArchiveKeepsTheOtherEntriesExact) {
    OpenZippedByInfoZip();
    WriteFile(src + "/sub/c.txt", "CHARLIE, again");
    WriteFile(src + "/e.txt", "echo");
    a->BeginUpdate();
    a->AddFiles("sub/c.txt", 0x20, "");
    a->AddFiles("e.txt", 0x20, "");
    a->DeleteFiles("*.log", zip::faAllEntries, "");
    a->EndUpdate();
    EXPECT_EQ(Contents(path), "a.txt=alpha\nsub/c.txt=CHARLIE, again\nsub/deep/d.txt=delta\n"
                              "e.txt=echo\n");
    EXPECT_TRUE(ziptest::Run("unzip -tq '" + path + "'"));
    // The component's own view agrees.
    TZAArchiveItem item;
    std::vector<std::string> names;
    for (bool found = a->FindFirst("*.*", item, zip::faAllEntries, ""); found;
         found = a->FindNext(item))
        names.push_back(item.Folder + item.FileName);
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "sub/c.txt", "sub/deep/d.txt", "e.txt"}));
}

TEST_F(UpdateBatch, NothingIsWrittenBeforeTheOutermostEndUpdate) {
    OpenZippedByInfoZip();
    const std::string before = ReadFile(path);
    a->BeginUpdate();
    a->BeginUpdate();
    a->DeleteFiles("a.txt", zip::faAllEntries, "");
    a->EndUpdate();
    EXPECT_EQ(ReadFile(path), before);
    // Reading operations wait for the batch to end.
    EXPECT_EQ(NativeErrorOf([&] { a->ExtractFiles("*.*", zip::faAllEntries, ""); }),
              zeUpdateNotEnded);
    a->EndUpdate();
    EXPECT_EQ(Contents(path), "b.log=bravo\nsub/c.txt=charlie\nsub/deep/d.txt=delta\n");
}

TEST_F(UpdateBatch, TheBatchOperationsCheckTheirPreconditions) {
    EXPECT_EQ(NativeErrorOf([&] { a->BeginUpdate(); }), zeArchiveNotOpen);
    EXPECT_EQ(NativeErrorOf([&] { a->AddFiles("*.*", zip::faAllEntries, ""); }), zeArchiveNotOpen);
    a->OpenArchive();
    EXPECT_EQ(NativeErrorOf([&] { a->EndUpdate(); }), zeUpdateNotStarted);
}

TEST_F(UpdateBatch, AnExistingEntryIsReplacedOnlyAsTheOverwriteModeAllows) {
    OpenZippedByInfoZip();
    WriteFile(src + "/a.txt", "newer");
    a->Options().OverwriteMode = omNever;
    a->AddFiles("a.txt", 0x20, "");
    EXPECT_EQ(Contents(path).substr(0, 12), "a.txt=alpha\n");
    a->Options().OverwriteMode = omAlways;
    a->AddFiles("a.txt", 0x20, "");
    EXPECT_EQ(Contents(path).substr(0, 12), "a.txt=newer\n");
}

// The new archive takes the old one's place where it lies: a link to it stays a link.
TEST_F(UpdateBatch, AnArchiveReachedThroughALinkIsReplacedWhereItLies) {
    OpenZippedByInfoZip();
    a->CloseArchive();
    fs::create_symlink(path, dir / "link.zip");
    a->SetFileName(dir / "link.zip");
    WriteFile(src + "/e.txt", "echo");
    a->OpenArchive();
    a->AddFiles("e.txt", 0x20, "");
    a->CloseArchive();
    EXPECT_TRUE(fs::is_symlink(dir / "link.zip"));
    EXPECT_EQ(Contents(path), "a.txt=alpha\nb.log=bravo\nsub/c.txt=charlie\nsub/deep/d.txt=delta\n"
                              "e.txt=echo\n");
}

TEST_F(UpdateBatch, TheArchiveItselfIsNeverAdded) {
    a->SetFileName(src + "/self.zip");
    a->OpenArchive();
    a->AddFiles("*.*", 0x20, "");
    a->AddFiles("*.*", 0x20, ""); // the archive exists on disk now
    a->CloseArchive();
    EXPECT_EQ(Contents(src + "/self.zip"),
              "a.txt=alpha\nb.log=bravo\nsub/c.txt=charlie\nsub/deep/d.txt=delta\n");
}

TEST_F(UpdateBatch, APipeIsSkippedWithTheFailureEventInsteadOfBlocking) {
    ASSERT_EQ(::mkfifo((src + "/pipe").c_str(), 0600), 0);
    a->OpenArchive();
    a->AddFiles("*.*", 0x20, "");
    a->CloseArchive();
    EXPECT_EQ(failures, std::vector<std::string>{src + "/pipe 33"});
    EXPECT_EQ(Contents(path),
              "a.txt=alpha\nb.log=bravo\nsub/c.txt=charlie\nsub/deep/d.txt=delta\n");
}

TEST_F(UpdateBatch, AbortAtAFailureDropsTheWholeBatch) {
    ASSERT_EQ(::mkfifo((src + "/pipe").c_str(), 0600), 0);
    OpenZippedByInfoZip();
    const std::string before = ReadFile(path);
    a->OnProcessFileFailure = [](vcl::TObject*, const std::string&, TZAProcessOperation,
                                 std::int32_t, std::int32_t, const std::string&,
                                 TZAAction& action) { action = fxaAbort; };
    a->AddFiles("*.*", 0x20, "");
    EXPECT_EQ(NativeErrorOf([&] { a->EndUpdate(); }), zeUpdateNotStarted); // no batch left open
    a->CloseArchive();
    EXPECT_EQ(ReadFile(path), before);
}

TEST_F(UpdateBatch, ASplitArchiveIsRefusedForUpdateAndLeftAsItWas) {
    WriteFile(src + "/big.bin", ziptest::RandomBytes(200000, 7));
    ASSERT_TRUE(ziptest::Run("cd '" + src + "' && zip -q -s 64k '" + path + "' big.bin a.txt"));
    auto volumes = [&] {
        std::string all;
        for (const char* name : {"a.z01", "a.z02", "a.z03", "a.zip"})
            all += ReadFile(dir / name);
        return all;
    };
    const std::string before = volumes();
    a->OpenArchive();
    EXPECT_EQ(NativeErrorOf([&] { a->BeginUpdate(); }), zeMultiVolumeUpdate);
    EXPECT_EQ(NativeErrorOf([&] { a->DeleteFiles("a.txt", zip::faAllEntries, ""); }),
              zeMultiVolumeUpdate);
    a->CloseArchive();
    EXPECT_EQ(volumes(), before);
    EXPECT_TRUE(ziptest::Run("7zz t '" + path + "'"));
}

// The destructor writes a pending batch without firing events into handlers whose state is
// gone (the sanitizer saw them reach freed memory).
TEST(UpdateBatchTeardown, DestroyingWithABatchPendingWritesItAndFiresNoEvent) {
    TempDir dir;
    WriteFile(dir / "a.txt", "alpha");
    int events = 0;
    {
        vcl::TComponent owner{nullptr};
        auto* a = vcl::Create<TZipArchiver>(&owner);
        a->SetFileName(dir / "a.zip");
        a->BaseDir = dir.Path();
        a->OnOverallProgress = [&events](vcl::TObject*, double, TZAProcessOperation,
                                         TZAProgressPhase, bool&) { ++events; };
        a->OnFileProgress = [&events](vcl::TObject*, const std::string&, double,
                                      TZAProcessOperation, TZAProgressPhase, bool&) { ++events; };
        a->OpenArchive();
        a->BeginUpdate();
        a->AddFiles("a.txt", 0x20, "");
        events = 0;
    }
    EXPECT_EQ(events, 0);
    EXPECT_EQ(Contents(dir / "a.zip"), "a.txt=alpha\n");
}

} // namespace
