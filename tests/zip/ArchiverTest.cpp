// The archiver component: defaults, setters and their guards, the opening checks, the search
// mask, the reported entry fields, and every event dispatcher with and without a handler.
#include "ArchiverAccess.h"
#include "ZipTestSupport.h"
#include "platform/Drives.h"
#include "vcl/Dialogs.h"
#include "zip/ZAExcept.h"
#include "zip/ZASearch.h"

#include <atomic>
#include <chrono>
#include <clocale>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace zip;
using ziptest::NativeErrorOf;
using ziptest::TTestArchiver;

namespace {

struct Fixture : ::testing::Test {
    vcl::TComponent owner{nullptr};
    TTestArchiver* a = vcl::Create<TTestArchiver>(&owner);
    ziptest::TempDir dir;
    Fixture() { a->SetName("ZipArchiver1"); }
};

} // namespace

using ArchiverDefaults = Fixture;

TEST_F(ArchiverDefaults, AfterConstruction) {
    EXPECT_FALSE(a->ExtractCorruptedFiles);
    EXPECT_EQ(a->CompressionLevel(), clFastest);
    EXPECT_EQ(a->CompressionMode(), 1);
    EXPECT_EQ(a->CurrentVersion(), "2.65 ");
    EXPECT_TRUE(a->Password.empty());
    EXPECT_TRUE(a->FileName().empty());
    EXPECT_EQ(a->SpanningMode(), smNone);
    EXPECT_TRUE(a->SpanningOptions().AdvancedNaming);
    EXPECT_EQ(a->Options().OverwriteMode, omAlways);
    EXPECT_EQ(a->FileMasks().Count(), 0);
    EXPECT_FALSE(a->InMemory());
    EXPECT_EQ(a->Zip64Mode(), zmDisabled);
    EXPECT_EQ(a->CompressionMethodCode(), 8);
    EXPECT_FALSE(a->Active());
    EXPECT_FALSE(a->UpdatePending());
}

TEST_F(ArchiverDefaults, BaseClassHasNoCompressionMethod) {
    auto* base = vcl::Create<TZABaseArchiver>(&owner);
    EXPECT_EQ(base->CompressionMode(), 1);
    base->SetCompressionMode(5);
    EXPECT_EQ(base->CompressionLevel(), clNormal);
}

TEST_F(ArchiverDefaults, CompressionModeAndLevelFollowEachOther) {
    struct Case {
        std::uint8_t mode;
        TZACompressionLevel level;
        std::uint16_t method;
    } cases[] = {{0, clNone, 0},   {1, clFastest, 8}, {3, clFastest, 8}, {4, clNormal, 8},
                 {5, clNormal, 8}, {6, clNormal, 8},  {7, clMax, 8},     {9, clMax, 8}};
    for (const auto& c : cases) {
        a->SetCompressionMode(c.mode);
        EXPECT_EQ(a->CompressionLevel(), c.level) << int(c.mode);
        EXPECT_EQ(a->CompressionMethodCode(), c.method) << int(c.mode);
    }
    struct LevelCase {
        TZACompressionLevel level;
        std::uint8_t mode;
    } levels[] = {{clNone, 0}, {clFastest, 1}, {clNormal, 6}, {clMax, 9}};
    for (const auto& c : levels) {
        a->SetCompressionLevel(c.level);
        EXPECT_EQ(a->CompressionMode(), c.mode);
    }
    a->SetCompressionLevel(clNone);
    EXPECT_EQ(a->CompressionMethodCode(), 0);
}

TEST_F(ArchiverDefaults, CompressionModeAboveNineRaisesFiveAndChangesNothing) {
    a->SetCompressionMode(6);
    try {
        a->SetCompressionMode(10);
        FAIL();
    } catch (const EZAException& e) {
        EXPECT_EQ(e.NativeError(), zeCompressionMode);
        EXPECT_EQ(std::string(e.what()), "ZipArchiver1: Invalid compression mode. Mode must be in "
                                         "[0-9] range - Native error: 00005");
    }
    EXPECT_EQ(a->CompressionMode(), 6);
    EXPECT_EQ(a->CompressionLevel(), clNormal);
}

TEST_F(ArchiverDefaults, CurrentVersionIgnoresWritesAndTheLocale) {
    a->SetCurrentVersion("9.99");
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = old ? old : "C";
    std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"); // a comma locale where installed
    EXPECT_EQ(a->CurrentVersion(), "2.65 ");
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST_F(ArchiverDefaults, MaskListsAreCopiedIntoTheOwnedLists) {
    vcl::TStringList masks({"*.txt", "*.bin"});
    vcl::TStrings* owned = &a->FileMasks();
    a->SetFileMasks(masks);
    a->SetExclusionMasks(masks);
    a->SetNoCompressionMasks(masks);
    masks.Clear();
    EXPECT_EQ(&a->FileMasks(), owned);
    EXPECT_EQ(a->FileMasks().Count(), 2);
    EXPECT_EQ(a->ExclusionMasks()[1], "*.bin");
    EXPECT_EQ(a->NoCompressionMasks().Count(), 2);
}

TEST_F(ArchiverDefaults, SpanningModeIsRefusedWhileOpen) {
    a->SetSpanningMode(smSplitting);
    EXPECT_EQ(a->SpanningMode(), smSplitting);
    a->PretendOpen(std::make_unique<vcl::TMemoryStream>());
    try {
        a->SetSpanningMode(smSpanning);
        FAIL();
    } catch (const EZAException&) {
        FAIL() << "a plain exception, not an engine error";
    } catch (const vcl::Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot set spanning mode on open archive");
    }
    EXPECT_EQ(a->SpanningMode(), smSplitting);
}

TEST_F(ArchiverDefaults, InMemoryWhileClosedIsStored) {
    a->SetInMemory(true);
    EXPECT_TRUE(a->InMemory());
    a->SetInMemory(true);
    a->SetInMemory(false);
    EXPECT_FALSE(a->InMemory());
}

TEST_F(ArchiverDefaults, InMemoryOffWhileOpenWithoutFileNameRaises29) {
    a->SetInMemory(true);
    a->PretendOpen(std::make_unique<vcl::TMemoryStream>());
    EXPECT_EQ(NativeErrorOf([&] { a->SetInMemory(false); }), zeInMemoryBlankFileName);
    EXPECT_TRUE(a->InMemory());
    EXPECT_TRUE(a->Active());
}

TEST_F(ArchiverDefaults, InMemoryOffWhileOpenWritesTheMemoryArchiveToTheFile) {
    a->SetInMemory(true);
    auto memory = std::make_unique<vcl::TMemoryStream>();
    memory->WriteBuffer("PK-bytes", 8);
    a->PretendOpen(std::move(memory));
    a->SetFileName(dir / "out.zip");
    // The file is reopened, and bytes with no local header in them are no archive.
    EXPECT_EQ(NativeErrorOf([&] { a->SetInMemory(false); }), zeInvalidArchive);
    EXPECT_EQ(ziptest::ReadFile(dir / "out.zip"), "PK-bytes");
    EXPECT_FALSE(a->InMemory());
    EXPECT_FALSE(a->Active());
}

TEST_F(ArchiverDefaults, InMemoryOffFailingToCreateTheFileKeepsTheMemoryArchiveOpen) {
    a->SetInMemory(true);
    a->PretendOpen(std::make_unique<vcl::TMemoryStream>());
    a->SetFileName(dir / "missing/folder/out.zip");
    EXPECT_THROW(a->SetInMemory(false), vcl::EFCreateError);
    EXPECT_TRUE(a->InMemory());
    EXPECT_TRUE(a->Active());
}

TEST_F(ArchiverDefaults, CloseArchiveTwiceAndOnANewComponentDoesNothing) {
    a->CloseArchive();
    a->CloseArchive();
    a->PretendOpen(std::make_unique<vcl::TMemoryStream>());
    a->CloseArchive(); // the empty directory write is swallowed with the rest
    EXPECT_FALSE(a->Active());
    EXPECT_EQ(ziptest::Engine(*a).ArchiveStream(), nullptr);
    a->CloseArchive();
}

TEST(ArchiverLock, RecursiveForItsOwnerAndExclusiveAcrossThreads) {
    ziptest::TTestArchiver::EnterArchiverLock();
    ziptest::TTestArchiver::EnterArchiverLock();
    std::atomic<bool> entered{false};
    std::thread other([&] {
        ziptest::TTestArchiver::EnterArchiverLock();
        entered = true;
        ziptest::TTestArchiver::LeaveArchiverLock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(entered); // held: the other thread waits, however long it is given
    ziptest::TTestArchiver::LeaveArchiverLock();
    ziptest::TTestArchiver::LeaveArchiverLock();
    other.join();
    EXPECT_TRUE(entered);
}

// ---- Opening checks ----

using OpenChecks = Fixture;

TEST_F(OpenChecks, BlankFileNamePartRaisesNineOrTen) {
    a->SetFileName(dir.Path() + "/");
    EXPECT_EQ(NativeErrorOf([&] { a->OpenArchive(); }), zeBlankFileName);
    EXPECT_EQ(NativeErrorOf([&] { a->OpenArchive(32); }), zeBlankFileNameForMode);
    a->SetFileName("");
    EXPECT_EQ(NativeErrorOf([&] { a->OpenArchive(0xFFFF); }), zeBlankFileNameForMode);
}

TEST_F(OpenChecks, MissingFileOnAFixedDiskRaisesTwelveAndKeepsTheOpenArchive) {
    a->PretendOpen(std::make_unique<vcl::TMemoryStream>());
    a->SetFileName(dir / "missing.zip");
    try {
        a->OpenArchive(32);
        FAIL();
    } catch (const EZAException& e) {
        EXPECT_EQ(e.NativeError(), zeArchiveNotFound);
        EXPECT_EQ(std::string(e.what()), "ZipArchiver1: File \"" + dir / "missing.zip" +
                                             "\" not found - Native error: 00012");
    }
    EXPECT_TRUE(a->Active());
    EXPECT_NE(ziptest::Engine(*a).ArchiveStream(), nullptr);
}

TEST_F(OpenChecks, MissingFileWhenSpanningOrOnRemovableMediaGoesOnToOpening) {
    a->SetFileName(dir / "missing.zip");
    a->SetSpanningMode(smSpanning);
    // On a fixed disk the opening looks for the file itself.
    EXPECT_THROW(a->OpenArchive(32), vcl::EFOpenError);
    a->SetSpanningMode(smNone);
    platform::DeclareRemovableFolder(dir.Path());
    int requests = 0;
    a->OnRequestLastVolume = [&](vcl::TObject*, std::string&, bool& cancel) {
        ++requests;
        cancel = true;
    };
    // On removable media it asks for the last disk.
    EXPECT_EQ(NativeErrorOf([&] { a->OpenArchive(32); }), zeVolumeCancelled);
    EXPECT_EQ(requests, 1);
    platform::ClearRemovableFolders();
    EXPECT_EQ(a->OpenMode(), 32);
}

TEST_F(OpenChecks, InMemoryOnlyCreates) {
    a->SetInMemory(true);
    a->SetFileName(dir / "x.zip");
    ziptest::WriteFile(dir / "x.zip", "x");
    a->PretendOpen(std::make_unique<vcl::TMemoryStream>());
    EXPECT_EQ(NativeErrorOf([&] { a->OpenArchive(32); }), zeInMemoryCreateOnly);
    EXPECT_TRUE(a->Active());
    a->SetFileName("");
    // A new archive in memory needs no file name.
    a->OpenArchive(0xFFFF);
    EXPECT_TRUE(a->Active());
}

TEST_F(OpenChecks, ModeChosenWithoutArguments) {
    a->SetFileName(dir / "new.zip");
    a->OpenArchive();
    EXPECT_EQ(a->OpenMode(), 0xFFFF);
    a->CloseArchive();
    // "x" holds no local header: the rebuild finds nothing (35).
    ziptest::WriteFile(dir / "old.zip", "x");
    a->SetFileName(dir / "old.zip");
    EXPECT_EQ(NativeErrorOf([&] { a->OpenArchive(); }), zeInvalidArchive);
    EXPECT_EQ(a->OpenMode(), 0x22);
    if (geteuid() != 0) { // root may write anything
        ::chmod((dir / "old.zip").c_str(), 0444);
        EXPECT_EQ(NativeErrorOf([&] { a->OpenArchive(); }), zeInvalidArchive);
        EXPECT_EQ(a->OpenMode(), 0x40);
    }
    a->SetInMemory(true);
    a->OpenArchive();
    EXPECT_EQ(a->OpenMode(), 0xFFFF);
}

TEST_F(OpenChecks, ExtractFilesNeedsAnOpenArchive) {
    EXPECT_EQ(NativeErrorOf([&] { a->ExtractFiles("*.*", zip::faAllEntries, ""); }),
              zeArchiveNotOpen);
}

// ---- Search ----

using Search = Fixture;

TEST_F(Search, MaskLosesItsDriveAndTakesSlashes) {
    a->PretendOpen(std::make_unique<vcl::TMemoryStream>());
    struct Case {
        std::string mask;
        TZAStorePathMode mode;
        std::string stored;
    } cases[] = {
        {"C:\\data\\report?.txt", spRelativePath, "/data/report?.txt"},
        {"C:\\data\\report?.txt", spFullPathWithDrive, "C:/data/report?.txt"},
        {"sub\\file?.txt", spRelativePath, "sub/file?.txt"},
        {"\\\\server\\share\\dir\\*.txt", spFullPath, "/dir/*.txt"},
        {"//server/share/a*.txt", spRelativePath, "/a*.txt"},
    };
    for (const auto& c : cases) {
        a->Options().StorePath = c.mode;
        TZAArchiveItem item;
        item.Search.EntryIndex = 7;
        // The directory is empty: nothing is found, but the search record is set up.
        EXPECT_FALSE(a->FindFirst(c.mask, item, zip::faAllEntries, "*.bak"));
        EXPECT_EQ(item.Search.Mask, c.stored) << c.mask;
        EXPECT_EQ(item.Search.EntryIndex, 0);
        EXPECT_EQ(item.Search.AttributeFilter, zip::faAllEntries);
        EXPECT_EQ(item.Search.ExclusionMask, "*.bak");
        EXPECT_FALSE(item.Search.MaskList);
    }
}

TEST_F(Search, AMaskLongerThanTheRecordHoldsFindsNothing) {
    TZAArchiveItem item;
    EXPECT_FALSE(a->FindFirst(std::string(260, 'a'), item, zip::faAllEntries, ""));
}

TEST(ArchiveItem, FieldsFromADirectoryEntry) {
    struct Case {
        std::string stored;
        std::uint32_t packed, unpacked;
        std::uint64_t zip64Packed, zip64Unpacked;
        std::string name, folder;
        std::int64_t packedSize, unpackedSize;
        double ratio;
    } cases[] = {
        {"dir/sub/file.txt", 25, 100, 0, 0, "file.txt", "dir/sub/", 25, 100, 75},
        {"top.txt", 0, 0, 0, 0, "top.txt", "", 0, 0, 100},             // empty: 100
        {"grew.bin", 120, 100, 0, 0, "grew.bin", "", 120, 100, 0},     // grew: 0
        {"folder/", 0, 0, 0, 0, "folder", "", 0, 0, 100},              // trailing "/" dropped
        {"win\\style.txt", 1, 2, 0, 0, "style.txt", "win/", 1, 2, 50}, // "\" separates too
        {"big.bin", Zip64Marker32, Zip64Marker32, 0x100000000ull, 0x200000000ull, "big.bin", "",
         0x100000000ll, 0x200000000ll, 50},
    };
    for (const auto& c : cases) {
        TDirItem entry;
        entry.StoredName = c.stored;
        entry.CentralHeader.CompressedSize = c.packed;
        entry.CentralHeader.UncompressedSize = c.unpacked;
        entry.CompressedSize = c.zip64Packed;
        entry.UncompressedSize = c.zip64Unpacked;
        entry.CentralHeader.Flags = 1;
        entry.CentralHeader.Date = 0x5A8A;
        entry.CentralHeader.Time = 0x6D2F;
        entry.CentralHeader.Crc32 = 0xDEADBEEF;
        entry.CentralHeader.ExternalAttributes = 0x20;
        entry.SetComment("c");
        entry.ResolveZip64();
        TZAArchiveItem item;
        FillArchiveItem(entry, item);
        SCOPED_TRACE(c.stored);
        EXPECT_EQ(item.FileName, c.name);
        EXPECT_EQ(item.Folder, c.folder);
        EXPECT_EQ(item.PackedSize, c.packedSize);
        EXPECT_EQ(item.UnpackedSize, c.unpackedSize);
        EXPECT_DOUBLE_EQ(item.SavingRatio, c.ratio);
        EXPECT_TRUE(item.Encrypted);
        EXPECT_EQ(item.DosDate, 0x5A8A);
        EXPECT_EQ(item.DosTime, 0x6D2F);
        EXPECT_EQ(item.CRC, 0xDEADBEEFu);
        EXPECT_EQ(item.Attributes, 0x20u);
        EXPECT_EQ(item.Comment, "c");
    }
}

// ---- Dispatchers ----

namespace {

struct Dispatchers : Fixture {
    vcl::TScriptedDialogs dialogs;
    const vcl::TDialogRequest& Last() { return dialogs->shown.back(); }
    std::vector<std::string> Captions(const vcl::TDialogRequest& r) {
        std::vector<std::string> out;
        for (const auto& b : r.buttons)
            out.push_back(b.caption);
        return out;
    }
};

using Buttons = std::vector<std::string>;

} // namespace

TEST_F(Dispatchers, ProgressWithoutHandlerClearsCancel) {
    bool cancel = true;
    a->DoOverallProgress(50, poExtract, ppProcess, cancel);
    EXPECT_FALSE(cancel);
    cancel = true;
    a->DoFileProgress("a", 50, poExtract, ppProcess, cancel);
    EXPECT_FALSE(cancel);
    cancel = true;
    a->DoCopyTempFileProgress(50, ppProcess, cancel);
    EXPECT_FALSE(cancel);
}

TEST_F(Dispatchers, ProgressHandlersSeeTheArgumentsAndAnswer) {
    std::string seen;
    vcl::TObject* sender = nullptr;
    a->OnFileProgress = [&](vcl::TObject* s, const std::string& name, double, TZAProcessOperation,
                            TZAProgressPhase, bool& cancel) {
        sender = s;
        seen = name;
        cancel = true;
    };
    bool cancel = false;
    a->DoFileProgress("dir\\file.txt", 10, poExtract, ppStart, cancel);
    EXPECT_EQ(seen, "dir/file.txt");
    EXPECT_EQ(sender, a);
    EXPECT_TRUE(cancel);

    bool passedIn = false;
    a->OnOverallProgress = [&](vcl::TObject*, double, TZAProcessOperation, TZAProgressPhase,
                               bool& c) { passedIn = c; };
    cancel = true;
    a->DoOverallProgress(1, poTest, ppEnd, cancel);
    EXPECT_TRUE(passedIn); // passed as the caller holds it
    // The copy progress clears Cancel before its handler.
    a->OnCopyTempFileProgress = [&](vcl::TObject*, double, TZAProgressPhase, bool& c) {
        passedIn = c;
    };
    cancel = true;
    a->DoCopyTempFileProgress(1, ppEnd, cancel);
    EXPECT_FALSE(passedIn);
}

TEST_F(Dispatchers, ConfirmProcessFileConfirmsByDefault) {
    bool confirm = false;
    a->DoConfirmProcessFile("x", poExtract, confirm);
    EXPECT_TRUE(confirm);
    a->OnConfirmProcessFile = [](vcl::TObject*, const std::string&, TZAProcessOperation, bool& c) {
        c = false;
    };
    a->DoConfirmProcessFile("x", poExtract, confirm);
    EXPECT_FALSE(confirm);
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(Dispatchers, ConfirmOverwritePrompt) {
    struct Case {
        const char* press; // nullptr: the dialog is closed
        bool confirm;
        TZAOverwriteMode mode;
    } cases[] = {{"&Oui", true, omPrompt},
                 {"&Non", false, omPrompt},
                 {"Non &pour tout", false, omNever},
                 {"O&ui pour tout", true, omAlways},
                 {nullptr, false, omPrompt}};
    for (const auto& c : cases) {
        a->Options().OverwriteMode = omPrompt;
        if (c.press)
            dialogs->Press(c.press);
        std::string dest = "/inst/dir/file.txt";
        bool confirm = !c.confirm;
        a->DoConfirmOverwrite("dir/file.txt", dest, confirm);
        EXPECT_EQ(confirm, c.confirm) << (c.press ? c.press : "closed");
        EXPECT_EQ(a->Options().OverwriteMode, c.mode);
        EXPECT_EQ(Last().text, "Overwrite file \"/inst/dir/file.txt\" with \"dir/file.txt\"");
        EXPECT_EQ(Last().caption, "Confirmation");
        EXPECT_EQ(Last().icon, vcl::TDialogIcon::Question);
        EXPECT_EQ(Captions(Last()), (Buttons{"&Oui", "&Non", "Non &pour tout", "O&ui pour tout"}));
    }
}

TEST_F(Dispatchers, ConfirmOverwriteHandlerStartsFromNo) {
    bool seen = true;
    a->OnConfirmOverwrite = [&](vcl::TObject*, const std::string&, std::string& dest, bool& c) {
        seen = c;
        dest = "elsewhere";
    };
    std::string dest = "d";
    bool confirm = true;
    a->DoConfirmOverwrite("s", dest, confirm);
    EXPECT_FALSE(seen);
    EXPECT_FALSE(confirm);
    EXPECT_EQ(dest, "elsewhere");
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(Dispatchers, PasswordInputBox) {
    dialogs->Answer(vcl::mrOk, "");
    std::string password = "old";
    bool skip = true;
    a->DoPassword("dir/secret.txt", password, skip);
    EXPECT_EQ(password, ""); // OK with an empty text tries the empty password
    EXPECT_FALSE(skip);
    EXPECT_EQ(Last().kind, vcl::TDialogRequest::Kind::InputBox);
    EXPECT_EQ(Last().caption, "Password for \"dir/secret.txt\"");
    EXPECT_EQ(Last().text, "Enter password: ");
    EXPECT_EQ(Last().value, "old");

    password = "keep";
    a->DoPassword("x", password, skip); // closed: cancelled
    EXPECT_EQ(password, "keep");
    EXPECT_TRUE(skip);
}

TEST_F(Dispatchers, PasswordHandler) {
    a->OnPassword = [](vcl::TObject*, const std::string&, std::string& p, bool& s) {
        p = "secret";
        s = false;
    };
    std::string password;
    bool skip = true;
    a->DoPassword("x", password, skip);
    EXPECT_EQ(password, "secret");
    EXPECT_FALSE(skip);
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(Dispatchers, ProcessFileFailurePrompt) {
    struct Case {
        const char* press;
        TZAAction action;
    } cases[] = {{"&Abandonner", fxaAbort},
                 {"&Retenter", fxaRetry},
                 {"&Ignorer", fxaIgnore},
                 {nullptr, fxaAbort}};
    for (const auto& c : cases) {
        if (c.press)
            dialogs->Press(c.press);
        TZAAction action = fxaRetry;
        a->DoProcessFileFailure("f", poExtract, 8, 4, "ZipArchiver1: boom - Native error: 00008",
                                action);
        EXPECT_EQ(action, c.action);
        EXPECT_EQ(Last().text, "ZipArchiver1: boom - Native error: 00008. File processing error, "
                               "possibly disk is full");
        EXPECT_EQ(Captions(Last()), (Buttons{"&Abandonner", "&Retenter", "&Ignorer"}));
        EXPECT_EQ(Last().caption, "Confirmation");
    }
}

TEST_F(Dispatchers, ProcessFileFailureHandlerLeavingActionAloneIgnores) {
    std::int32_t native = 0, code = 0;
    a->OnProcessFileFailure = [&](vcl::TObject*, const std::string&, TZAProcessOperation,
                                  std::int32_t n, std::int32_t e, const std::string&, TZAAction&) {
        native = n;
        code = e;
    };
    TZAAction action = fxaAbort;
    a->DoProcessFileFailure("f", poExtract, 19, 9, "m", action);
    EXPECT_EQ(action, fxaIgnore);
    EXPECT_EQ(native, zeCannotCreateFile);
    EXPECT_EQ(code, zeBlankFileName);
}

TEST_F(Dispatchers, NamePassingEvents) {
    std::string name = "dir/a\\b.txt";
    std::uint32_t attr = 0x20;
    a->DoExtractFile(name, attr, "");
    EXPECT_EQ(name, "dir/a/b.txt");
    a->OnExtractFile = [](vcl::TObject*, std::string& n, std::uint32_t& at, const std::string&) {
        n = "other/name";
        at = 1;
    };
    a->DoExtractFile(name, attr, "comment");
    EXPECT_EQ(name, "other/name");
    EXPECT_EQ(attr, 1u);

    std::string stored = "x\\y", comment;
    a->DoStoreFile(stored, attr, comment, "orig");
    EXPECT_EQ(stored, "x\\y"); // without a handler nothing changes
    a->OnStoreFile = [](vcl::TObject*, std::string& n, std::uint32_t&, std::string& c,
                        const std::string& original) {
        EXPECT_EQ(n, "x/y");
        n = "p\\q";
        c = original;
    };
    a->DoStoreFile(stored, attr, comment, "orig");
    EXPECT_EQ(stored, "p/q");
    EXPECT_EQ(comment, "orig");

    a->DoUnpublishedEvent(1, 2, 3, 4); // no handler: nothing
    int sum = 0;
    a->SetUnpublishedHandler([&](vcl::TObject*, std::uint8_t v, std::int32_t x, std::int32_t y,
                                 std::int32_t z) { sum = v + x + y + z; });
    a->DoUnpublishedEvent(1, 2, 3, 4);
    EXPECT_EQ(sum, 10);
}
