// Volumes: the naming rules, the volume requests with their default answers, and writing
// split and spanned sets, with folders standing in for removable disks.
#include "platform/Volumes.h"
#include "ArchiverAccess.h"
#include "ZipTestSupport.h"
#include "platform/Drives.h"
#include "vcl/Dialogs.h"
#include "zip/ZAExcept.h"
#include "zip/ZAVolumeFiles.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <numeric>

using namespace zip;
using ziptest::NativeErrorOf;
using ziptest::TTestArchiver;

namespace {

struct Volumes : ::testing::Test {
    vcl::TComponent owner{nullptr};
    TTestArchiver* a = vcl::Create<TTestArchiver>(&owner);
    ziptest::TempDir dir;
    vcl::TScriptedDialogs dialogs;
    Volumes() { a->SetName("ZipArchiver1"); }
    ~Volumes() override { platform::ClearRemovableFolders(); }

    std::string Name(const std::string& archive, std::int32_t n, bool check = false) {
        std::string name = archive;
        ziptest::Engine(*a).GetVolumeFileName(name, n, check);
        return name;
    }
};

std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return data;
}

std::int64_t FolderBytes(const std::string& folder) {
    std::int64_t total = 0;
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(folder, error))
        if (e.is_regular_file())
            total += static_cast<std::int64_t>(e.file_size());
    return total;
}

} // namespace

TEST_F(Volumes, NamingRules) {
    struct Case {
        const char* what;
        TZASpanningMode mode;
        bool advanced;
        bool sfx; // the archive is named data.exe
        std::int32_t n;
        const char* expected;
    } cases[] = {
        {"split, first", smSplitting, false, false, 0, "data.Z01"},
        {"split, fifth", smSplitting, false, false, 4, "data.Z05"},
        {"split, 100th takes three digits", smSplitting, false, false, 99, "data.Z100"},
        {"split, last is the archive", smSplitting, false, false, -1, "data.zip"},
        {"split advanced, last", smSplitting, true, false, -1, "data.zip"},
        {"split advanced", smSplitting, true, false, 0, "data_001.zip"},
        {"split with stub, first", smSplitting, false, true, 0, "data.exe"},
        {"split advanced with stub, first", smSplitting, true, true, 0, "data.exe"},
        {"split with stub, second", smSplitting, false, true, 1, "data.Z02"},
        {"split advanced with stub, second", smSplitting, true, true, 1, "data_002.exe"},
        {"split with stub, last", smSplitting, false, true, -1, "data.ZIP"},
        {"spanned, same name on every disk", smSpanning, false, false, 0, "data.zip"},
        {"spanned, same name on every disk", smSpanning, false, false, 7, "data.zip"},
        {"spanned advanced", smSpanning, true, false, 2, "data_003.zip"},
        {"spanned with stub", smSpanning, false, true, 5, "data.exe"},
        {"spanned, last", smSpanning, true, false, -1, "data.zip"},
        {"single file", smNone, true, false, 3, "data.zip"},
    };
    for (const auto& c : cases) {
        a->SetSpanningMode(c.mode);
        a->SpanningOptions().AdvancedNaming = c.advanced;
        std::string archive = dir / (c.sfx ? "data.exe" : "data.zip");
        EXPECT_EQ(Name(archive, c.n), dir / c.expected) << c.what;
    }
}

TEST_F(Volumes, StubOrPrefixMakesASelfExtractor) {
    a->SetSpanningMode(smSplitting);
    a->SpanningOptions().AdvancedNaming = false;
    a->SFXStub = "stub.bin";
    EXPECT_EQ(Name(dir / "data.zip", 0), dir / "data.exe");
    EXPECT_EQ(Name(dir / "data.zip", -1), dir / "data.ZIP");
    a->SFXStub.clear();
    a->SetPrefixSize(4096);
    EXPECT_EQ(Name(dir / "data.zip", 0), dir / "data.exe");
    EXPECT_TRUE(zip::IsExeFileName("SETUP.EXE"));
    EXPECT_TRUE(zip::IsExeFileName("a.exe1"));
    EXPECT_FALSE(zip::IsExeFileName("exe.zip"));
}

TEST_F(Volumes, SpannedNameFallsBackToTheOtherForm) {
    a->SetSpanningMode(smSpanning);
    a->SpanningOptions().AdvancedNaming = false;
    ziptest::WriteFile(dir / "data_003.zip", "x");
    EXPECT_EQ(Name(dir / "data.zip", 2, true), dir / "data_003.zip");
    EXPECT_EQ(Name(dir / "data.zip", 2, false), dir / "data.zip");
    EXPECT_EQ(Name(dir / "data.zip", 4, true), dir / "data.zip"); // neither: the first form
    a->SpanningOptions().AdvancedNaming = true;
    ziptest::WriteFile(dir / "data.zip", "x");
    EXPECT_EQ(Name(dir / "data.zip", 0, true), dir / "data.zip");
    EXPECT_EQ(Name(dir / "data.zip", 2, true), dir / "data_003.zip");
}

TEST_F(Volumes, InfoZipLowerCaseVolumesAreFound) {
    ASSERT_EQ(std::system(("cd " + dir.Path() +
                           " && head -c 200000 /dev/urandom > big.bin && zip -q -s 64k split.zip "
                           "big.bin")
                              .c_str()),
              0);
    a->SetFileName(dir / "split.zip");
    a->SetSpanningMode(smSplitting);
    a->SpanningOptions().AdvancedNaming = false;
    a->SetOpenMode(vcl::fmOpenRead | vcl::fmShareDenyNone);
    ziptest::Engine(*a).Volumes.Info.LastNumber = 3;
    TZAVolumeNumberInfo info;
    info.LastNumber = 3;
    info.SetNumber(1);
    ziptest::Engine(*a).OpenVolume(info); // asks for split.Z02, finds split.z02
    EXPECT_EQ(ziptest::Engine(*a).Volumes.CurrentVolumeName, dir / "split.z02");
    EXPECT_EQ(ziptest::Engine(*a).Volumes.Info.Number, 1);
    EXPECT_TRUE(dialogs->shown.empty());
    info.SetNumber(0);
    ziptest::Engine(*a).OpenVolume(info);
    EXPECT_EQ(ziptest::Engine(*a).Volumes.CurrentVolumeName, dir / "split.z01");
    char marker[4];
    ziptest::Engine(*a).ArchiveStream()->ReadBuffer(marker, 4);
    EXPECT_EQ(std::string(marker, 4), "PK\x07\x08");
    info.SetLast(true);
    ziptest::Engine(*a).OpenVolume(info);
    EXPECT_EQ(ziptest::Engine(*a).Volumes.CurrentVolumeName, dir / "split.zip");
}

// ---- Volume requests ----

TEST_F(Volumes, DefaultsOutsideSpanningTestTheFileWithoutAsking) {
    a->SetFileName(dir / "data.zip");
    a->SetSpanningMode(smSplitting);
    a->SpanningOptions().AdvancedNaming = false;
    a->SetOpenMode(0x40);
    std::string name = a->FileName();
    bool cancel = false;
    a->DoRequestMiddleVolume(1, name, cancel);
    EXPECT_TRUE(cancel);
    EXPECT_EQ(name, dir / "data.Z02");
    ziptest::WriteFile(dir / "data.Z02", "x");
    name = a->FileName();
    a->DoRequestMiddleVolume(1, name, cancel);
    EXPECT_FALSE(cancel);

    name = a->FileName();
    a->DoRequestFirstVolume(name, cancel);
    EXPECT_TRUE(cancel); // data.Z01 is missing
    a->SetOpenMode(0xFFFF);
    name = a->FileName();
    a->DoRequestFirstVolume(name, cancel);
    EXPECT_FALSE(cancel); // a new archive is being made

    name = a->FileName();
    a->DoRequestLastVolume(name, cancel);
    EXPECT_TRUE(cancel);
    EXPECT_EQ(name, dir / "data.zip");

    name = a->FileName();
    a->DoRequestBlankVolume(-3, name, cancel); // taken as volume 0
    EXPECT_FALSE(cancel);
    EXPECT_EQ(name, dir / "data.Z01");
    a->DoDiskFull(0, name, cancel);
    EXPECT_TRUE(cancel);
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(Volumes, SpanningPrompts) {
    a->SetFileName(dir / "data.zip");
    a->SetSpanningMode(smSpanning);
    a->SpanningOptions().AdvancedNaming = false;
    auto expectOkCancel = [&](const std::string& text) {
        ASSERT_FALSE(dialogs->shown.empty());
        const auto& r = dialogs->shown.back();
        EXPECT_EQ(r.text, text);
        EXPECT_EQ(r.caption, "Confirmation");
        ASSERT_EQ(r.buttons.size(), 2u);
        EXPECT_EQ(r.buttons[0].caption, "OK");
        EXPECT_EQ(r.buttons[1].caption, "Annuler");
    };
    std::string name = a->FileName();
    bool cancel = false;
    dialogs->Press("OK");
    a->DoRequestBlankVolume(1, name, cancel);
    EXPECT_FALSE(cancel);
    expectOkCancel("Please insert a blank disk #2");
    a->DoRequestBlankVolume(1, name, cancel); // closed
    EXPECT_TRUE(cancel);

    dialogs->Press("OK");
    name = a->FileName();
    a->DoRequestFirstVolume(name, cancel);
    EXPECT_FALSE(cancel);
    expectOkCancel("Please insert the first disk");

    dialogs->Press("Annuler");
    name = a->FileName();
    a->DoRequestMiddleVolume(2, name, cancel);
    EXPECT_TRUE(cancel);
    expectOkCancel("Please insert disk #3");

    // The last disk is asked for until its file is there or the user gives up.
    dialogs->Press("OK");
    dialogs->Press("OK");
    name = a->FileName();
    a->DoRequestLastVolume(name, cancel);
    EXPECT_TRUE(cancel);
    ASSERT_EQ(dialogs->shown.size(), 7u);
    EXPECT_EQ(dialogs->shown[4].text, "Please insert the last disk");
    EXPECT_EQ(dialogs->shown[5].text, "File '" + dir / "data.zip" +
                                          "' not found on inserted disk. Please insert last disk "
                                          "with required file");
    ziptest::WriteFile(dir / "data.zip", "x");
    dialogs->Press("OK");
    a->DoRequestLastVolume(name, cancel);
    EXPECT_FALSE(cancel);
    EXPECT_EQ(dialogs->shown.size(), 8u);

    platform::TFreeSpaceScope free([](const std::string&) { return std::int64_t{1000}; });
    a->SpanningOptions().VolumeSize = vsCustom;
    a->SpanningOptions().SetCustomVolumeSize(70000);
    dialogs->Press("OK");
    a->DoDiskFull(1, name, cancel);
    EXPECT_FALSE(cancel);
    expectOkCancel("Disk is full. Required free space: 70000 bytes, but available only: 1000 "
                   "bytes. Clean the disk or find another blank disk");
}

TEST_F(Volumes, HandlersSeeNumbersFromOne) {
    a->SetFileName(dir / "data.zip");
    a->SetSpanningMode(smSplitting);
    std::int32_t seen = 0;
    std::string proposed;
    a->OnRequestMiddleVolume = [&](vcl::TObject*, std::int32_t n, std::string& name, bool& c) {
        seen = n;
        proposed = name;
        c = true;
    };
    std::string name = a->FileName();
    bool cancel = false;
    a->DoRequestMiddleVolume(2, name, cancel);
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(proposed, dir / "data_003.zip");
    EXPECT_TRUE(cancel);
    a->OnDiskFull = [&](vcl::TObject*, std::int32_t n, const std::string&, bool&) { seen = n; };
    a->DoDiskFull(0, name, cancel);
    EXPECT_EQ(seen, 1);
    EXPECT_FALSE(cancel); // cleared before the handler
    a->OnRequestBlankVolume = [&](vcl::TObject*, std::int32_t n, std::string&, bool&) { seen = n; };
    a->DoRequestBlankVolume(4, name, cancel);
    EXPECT_EQ(seen, 5);
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(Volumes, OpeningExistingVolumes) {
    a->SetFileName(dir / "data.zip");
    a->SetSpanningMode(smSplitting);
    a->SpanningOptions().AdvancedNaming = false;
    a->SetOpenMode(0x40);
    for (const char* f : {"data.Z01", "data.Z02", "data.zip"})
        ziptest::WriteFile(dir / f, f);
    int requests = 0;
    std::string kind;
    a->OnRequestFirstVolume = [&](vcl::TObject*, std::string&, bool&) {
        ++requests;
        kind = "first";
    };
    a->OnRequestLastVolume = [&](vcl::TObject*, std::string&, bool&) {
        ++requests;
        kind = "last";
    };
    // The only volume is both first and last: asked for as the first.
    TZAVolumeNumberInfo only;
    only.LastNumber = 0;
    only.SetNumber(0);
    ziptest::Engine(*a).OpenVolume(only);
    EXPECT_EQ(kind, "first");
    EXPECT_EQ(ziptest::Engine(*a).Volumes.CurrentVolumeName, dir / "data.Z01");
    // The volume already open fires no event.
    ziptest::Engine(*a).OpenVolume(only);
    EXPECT_EQ(requests, 1);

    TZAVolumeNumberInfo last;
    last.SetLast(true);
    ziptest::Engine(*a).OpenVolume(last);
    EXPECT_EQ(kind, "last");
    EXPECT_EQ(ziptest::Engine(*a).Volumes.CurrentVolumeName, dir / "data.zip");

    a->OnRequestMiddleVolume = [](vcl::TObject*, std::int32_t, std::string&, bool& c) { c = true; };
    TZAVolumeNumberInfo middle;
    middle.LastNumber = 2;
    middle.SetNumber(1);
    EXPECT_EQ(NativeErrorOf([&] { ziptest::Engine(*a).OpenVolume(middle); }), zeVolumeCancelled);
    EXPECT_EQ(ziptest::Engine(*a).Volumes.CurrentVolumeName, dir / "data.zip");
}

TEST_F(Volumes, AnEmptyNameFromAHandlerCancelsInsteadOfRereadingTheOldVolume) {
    a->SetFileName(dir / "data.zip");
    a->SetSpanningMode(smSplitting);
    a->SetOpenMode(0x40);
    ziptest::WriteFile(dir / "data.zip", "last");
    TZAVolumeNumberInfo last;
    last.SetLast(true);
    ziptest::Engine(*a).OpenVolume(last);
    a->OnRequestMiddleVolume = [](vcl::TObject*, std::int32_t, std::string& name, bool&) {
        name.clear();
    };
    TZAVolumeNumberInfo middle;
    middle.SetNumber(1);
    EXPECT_EQ(NativeErrorOf([&] { ziptest::Engine(*a).OpenVolume(middle); }), zeVolumeCancelled);
}

TEST_F(Volumes, SingleFileOpensTheArchiveWithoutEvents) {
    a->SetFileName(dir / "data.zip");
    ziptest::WriteFile(dir / "data.zip", "x");
    a->SetOpenMode(0x40);
    a->OnRequestFirstVolume = [](vcl::TObject*, std::string&, bool&) { FAIL(); };
    TZAVolumeNumberInfo info;
    info.SetNumber(0);
    ziptest::Engine(*a).OpenVolume(info);
    EXPECT_EQ(ziptest::Engine(*a).Volumes.CurrentVolumeName, dir / "data.zip");
    EXPECT_EQ(ziptest::Engine(*a).Volumes.Info.Number, 0);
    EXPECT_EQ(ziptest::Engine(*a).Volumes.Info.Kind, vkCustom);
}

// ---- Writing ----

namespace {

// A spanned set written onto folders that play removable disks of a fixed capacity.
struct SpannedDisks : Volumes {
    std::int64_t capacity = 100000;
    std::vector<std::string> disks;
    std::unique_ptr<platform::TFreeSpaceScope> freeSpace;

    void SetUp() override {
        freeSpace = std::make_unique<platform::TFreeSpaceScope>([this](const std::string& path) {
            return capacity - FolderBytes(vcl::ExtractFilePath(path));
        });
        a->SetSpanningMode(smSpanning);
        a->SpanningOptions().AdvancedNaming = false;
        a->SetFileName("data.zip");
        a->SetOpenMode(0xFFFF);
        a->OnRequestBlankVolume = [this](vcl::TObject*, std::int32_t n, std::string& name, bool&) {
            std::string disk = dir / ("disk" + std::to_string(n));
            std::filesystem::create_directory(disk);
            platform::DeclareRemovableFolder(disk);
            disks.push_back(disk);
            name = disk + "/" + name;
        };
    }

    vcl::TStream* Start(TZAVolumeNumberInfo& info) {
        info.SetNumber(0);
        ziptest::Engine(*a).OpenVolume(info);
        return ziptest::Engine(*a).ArchiveStream();
    }

    std::string Joined() {
        a->CloseArchive();
        std::string all;
        for (const auto& d : disks)
            all += ziptest::ReadFile(d + "/data.zip");
        return all;
    }
};

} // namespace

TEST_F(SpannedDisks, SixtyFourKibVolumesAcrossDisks) {
    a->SpanningOptions().VolumeSize = vsCustom;
    a->SpanningOptions().SetCustomVolumeSize(65536);
    TZAVolumeNumberInfo info;
    vcl::TStream* stream = Start(info);
    std::string data = Pattern(200000);
    for (std::size_t at = 0; at < data.size(); at += 10000)
        ziptest::Engine(*a).WriteBufferToVolumes(data.data() + at, 10000, stream, info, -1,
                                                 nullptr);
    EXPECT_EQ(info.Number, 3);
    ASSERT_EQ(disks.size(), 4u);
    for (std::size_t i = 0; i < disks.size(); ++i) {
        EXPECT_EQ(platform::VolumeLabel(disks[i] + "/data.zip"),
                  vcl::Format("pkback# %.3d", {std::int64_t(i) + 1}));
        if (i < 3) {
            EXPECT_EQ(FolderBytes(disks[i]), 65536);
        }
    }
    EXPECT_EQ(Joined(), data);
}

TEST_F(SpannedDisks, AutomaticSizeFillsEachDisk) {
    TZAVolumeNumberInfo info;
    vcl::TStream* stream = Start(info);
    std::string data = Pattern(250000);
    ziptest::Engine(*a).WriteBufferToVolumes(data.data(), static_cast<std::int32_t>(data.size()),
                                             stream, info, -1, nullptr);
    ASSERT_EQ(disks.size(), 3u);
    EXPECT_EQ(FolderBytes(disks[0]), capacity);
    EXPECT_EQ(FolderBytes(disks[1]), capacity);
    EXPECT_EQ(Joined(), data);
}

TEST_F(SpannedDisks, AFullDiskIsReportedAndAnotherAskedFor) {
    int fullReports = 0;
    a->OnDiskFull = [&](vcl::TObject*, std::int32_t, const std::string& name, bool&) {
        ++fullReports;
        ziptest::WriteFile(name, ""); // the user cleans the disk: nothing changes here
        capacity = 100000;
    };
    capacity = 65536; // exactly 64 KiB free counts as full
    TZAVolumeNumberInfo info;
    Start(info);
    EXPECT_EQ(fullReports, 1);
    EXPECT_EQ(disks.size(), 2u); // asked for a blank disk again after the report
}

TEST_F(SpannedDisks, CancelledDiskFullRaises45) {
    a->OnDiskFull = [](vcl::TObject*, std::int32_t, const std::string&, bool& c) { c = true; };
    capacity = 1000;
    TZAVolumeNumberInfo info;
    info.SetNumber(0);
    EXPECT_EQ(NativeErrorOf([&] { ziptest::Engine(*a).OpenVolume(info); }), zeVolumeCancelled);
}

TEST_F(SpannedDisks, KeepTogetherMovesAWholeHeaderToTheNextVolume) {
    a->SpanningOptions().VolumeSize = vsCustom;
    a->SpanningOptions().SetCustomVolumeSize(65536);
    TZAVolumeNumberInfo info;
    vcl::TStream* stream = Start(info);
    std::string data = Pattern(65500);
    ziptest::Engine(*a).WriteBufferToVolumes(data.data(), 65500, stream, info, -1, nullptr);
    std::string header(46, 'H');
    // 46 bytes would fit the 36 left only without the name and extra field that follow.
    ziptest::Engine(*a).WriteBufferToVolumes(header.data(), 46, stream, info, 20, nullptr);
    EXPECT_EQ(info.Number, 1);
    EXPECT_EQ(FolderBytes(disks[0]), 65500);
    EXPECT_EQ(stream->Size(), 46);
}

TEST_F(SpannedDisks, APieceNoVolumeCanHoldStopsInsteadOfAskingForever) {
    a->SpanningOptions().VolumeSize = vsCustom;
    a->SpanningOptions().SetCustomVolumeSize(65536);
    TZAVolumeNumberInfo info;
    vcl::TStream* stream = Start(info);
    std::string piece(1000, 'x');
    EXPECT_EQ(NativeErrorOf([&] {
                  ziptest::Engine(*a).WriteBufferToVolumes(piece.data(), 1000, stream, info, 65000,
                                                           nullptr);
              }),
              zeWriteError);
    EXPECT_LE(disks.size(), 2u);
}

TEST_F(SpannedDisks, StagingCollectsTheCurrentVolumesPieces) {
    a->SpanningOptions().VolumeSize = vsCustom;
    a->SpanningOptions().SetCustomVolumeSize(65536);
    TZAVolumeNumberInfo info;
    vcl::TStream* stream = Start(info);
    vcl::TMemoryStream staging;
    std::string data = Pattern(100000);
    ziptest::Engine(*a).WriteBufferToVolumes(data.data(), 60000, stream, info, -1, &staging);
    EXPECT_EQ(staging.Size(), 60000);
    EXPECT_EQ(stream->Size(), 0);
    ziptest::Engine(*a).WriteBufferToVolumes(data.data() + 60000, 40000, stream, info, -1,
                                             &staging);
    // The first volume got everything staged for it when it was finished.
    EXPECT_EQ(FolderBytes(disks[0]), 65536);
    EXPECT_EQ(staging.Size(), 100000 - 65536);
    staging.SetPosition(0);
    stream->CopyFrom(staging, 0);
    EXPECT_EQ(Joined(), data);
}

TEST_F(Volumes, SingleVolumeIgnoresKeepTogetherAndStaging) {
    vcl::TMemoryStream target, staging;
    vcl::TStream* stream = &target;
    TZAVolumeNumberInfo info;
    EXPECT_EQ(a->WriteToVolumes("abcdef", 6, stream, info, 1 << 30, &staging), 6);
    EXPECT_EQ(target.Size(), 6);
    EXPECT_EQ(staging.Size(), 0);
}

TEST_F(Volumes, SplitSetOfThreeVolumesWithoutAStub) {
    platform::TFreeSpaceScope free([](const std::string&) { return std::int64_t{1} << 30; });
    a->SetSpanningMode(smSplitting);
    a->SpanningOptions().AdvancedNaming = false;
    a->SpanningOptions().VolumeSize = vsCustom;
    a->SpanningOptions().SetCustomVolumeSize(65536);
    a->SetFileName(dir / "data.zip");
    a->SetOpenMode(0xFFFF);
    TZAVolumeNumberInfo info;
    info.SetNumber(0);
    ziptest::Engine(*a).OpenVolume(info);
    vcl::TStream* stream = ziptest::Engine(*a).ArchiveStream();
    std::string data = Pattern(150000);
    ziptest::Engine(*a).WriteBufferToVolumes(data.data(), 150000, stream, info, -1, nullptr);
    a->CloseArchive();
    // The writer names volumes by number; the directory writer renames the last one.
    EXPECT_EQ(ziptest::ReadFile(dir / "data.Z01").size(), 65536u);
    EXPECT_EQ(ziptest::ReadFile(dir / "data.Z02").size(), 65536u);
    EXPECT_EQ(ziptest::ReadFile(dir / "data.Z03").size(), 150000u - 2 * 65536);
    EXPECT_EQ(Name(dir / "data.zip", -1), dir / "data.zip");
    EXPECT_TRUE(dialogs->shown.empty());
}

namespace {

class CountingStream : public vcl::TMemoryStream {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override {
        reads.push_back(count);
        return TMemoryStream::Read(buffer, count);
    }
    std::vector<std::int64_t> reads;
};

} // namespace

TEST_F(Volumes, CopyReadsInMillionBytePiecesWithProgress) {
    CountingStream source;
    std::string data = Pattern(2500000);
    source.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    source.SetPosition(0);
    source.reads.clear();
    std::vector<std::pair<double, TZAProgressPhase>> progress;
    a->OnCopyTempFileProgress = [&](vcl::TObject*, double p, TZAProgressPhase phase, bool&) {
        progress.emplace_back(p, phase);
    };
    vcl::TMemoryStream target;
    vcl::TStream* dest = &target;
    TZAVolumeNumberInfo info;
    bool cancel = false;
    ziptest::Engine(*a).CopyToVolumes(source, dest, info, cancel, -1, -1, nullptr, true);
    EXPECT_EQ(source.reads, (std::vector<std::int64_t>{1000000, 1000000, 500000}));
    EXPECT_EQ(target.Size(), 2500000);
    ASSERT_EQ(progress.size(), 5u);
    EXPECT_EQ(progress[0], std::make_pair(0.0, ppStart));
    EXPECT_DOUBLE_EQ(progress[1].first, 40);
    EXPECT_DOUBLE_EQ(progress[2].first, 80);
    EXPECT_EQ(progress[3], std::make_pair(100.0, ppProcess));
    EXPECT_EQ(progress[4], std::make_pair(100.0, ppEnd));
}

TEST_F(Volumes, CopyCancelledInTheLoopStillEnds) {
    vcl::TMemoryStream source, target;
    std::string data = Pattern(2500000);
    source.WriteBuffer(data.data(), 2500000);
    source.SetPosition(0);
    std::vector<TZAProgressPhase> phases;
    a->OnCopyTempFileProgress = [&](vcl::TObject*, double, TZAProgressPhase phase, bool& c) {
        phases.push_back(phase);
        c = phase == ppProcess;
    };
    vcl::TStream* dest = &target;
    TZAVolumeNumberInfo info;
    bool cancel = false;
    ziptest::Engine(*a).CopyToVolumes(source, dest, info, cancel, 2000000, -1, nullptr, true);
    EXPECT_EQ(target.Size(), 1000000);
    EXPECT_EQ(phases, (std::vector<TZAProgressPhase>{ppStart, ppProcess, ppEnd}));
}

TEST_F(Volumes, CopyFromASourceThatEndsEarlyStops) {
    vcl::TMemoryStream source, target;
    source.WriteBuffer("short", 5);
    source.SetPosition(0);
    vcl::TStream* dest = &target;
    TZAVolumeNumberInfo info;
    bool cancel = false;
    EXPECT_THROW(
        ziptest::Engine(*a).CopyToVolumes(source, dest, info, cancel, 100, -1, nullptr, false),
        vcl::EReadError);
    EXPECT_EQ(target.Size(), 0);
}
