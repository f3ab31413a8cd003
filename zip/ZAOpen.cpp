// Opening: the component's settings and the chosen open mode become an archive stream, a
// directory manager holding the live directory, a current volume and the spanning mode
// found on disk.
#include "vcl/SysUtils.h"
#include "zip/ZADirManager.h"
#include "zip/ZAEngine.h"
#include "zip/ZAExcept.h"
#include "zip/ZARecords.h"
#include "zip/ZAStrFunc.h"
#include "zip/ZAVolumeFiles.h"
#include "zip/ZipArchiver.h"

#include <algorithm>

namespace zip {

namespace {

// Puts a flag back however the scope is left.
class TFlagRestore {
public:
    explicit TFlagRestore(bool& flag) : flag_(flag), saved_(flag) {}
    ~TFlagRestore() { flag_ = saved_; }
    TFlagRestore(const TFlagRestore&) = delete;
    TFlagRestore& operator=(const TFlagRestore&) = delete;

private:
    bool& flag_;
    bool saved_;
};

} // namespace

void TZABaseArchiver::InternalOpenArchive() {
    if (FOpenMode == 0xFFFF || FInMemory) {
        CreateNewArchive();
    } else {
        FSpanningMode = smNone;
        FEngine->Volumes.Info.Reset();
        if (IsExeFileName(FFileName))
            OpenSFXArchive();
        else
            OpenSingleFileArchive();
        if (!HasEndRecord()) {
            FreeArchiveStream();
            FArchiveStream.reset();
            throw EZAException(zeArchiveDamaged, this);
        }
        FDirManager->ReadCentralDir();
    }
    FActive = true;
    DoAfterOpen();
}

void TZABaseArchiver::CreateNewArchive() {
    if (FInMemory) {
        FreeArchiveStream();
        FCustomStream = false;
        FArchiveStream = std::make_unique<vcl::TMemoryStream>();
    } else {
        TZAVolumeNumberInfo first;
        first.SetFirst(true);
        OpenVolume(first);
    }
    FDirManager = std::make_unique<TZADirManager>(FArchiveStream.get(), FEngine.get(), true);
}

void TZABaseArchiver::OpenSingleFileArchive() {
    TFlagRestore restore(FOpenCorruptedArchives);
    FOpenCorruptedArchives = false;
    bool found;
    do {
        if (!vcl::FileExists(FFileName) && IsRemovableDrive(FFileName))
            FSpanningMode = smSpanning;
        found = ReadLastVolume();
    } while (!found && FSpanningMode != smNone);
}

bool TZABaseArchiver::ReadLastVolume() {
    FDirManager.reset();
    FEngine->Volumes.Info.Reset();
    TZAVolumeNumberInfo last;
    last.SetLast(true);
    OpenVolume(last);
    FDirManager = std::make_unique<TZADirManager>(FArchiveStream.get(), FEngine.get(), false);
    const bool found = HasEndRecord();
    DetectSpanningMode();
    return found;
}

void TZABaseArchiver::OpenSFXArchive() {
    TFlagRestore restore(FOpenCorruptedArchives);
    TZAVolumeNumberInfo last;
    last.SetLast(true);
    OpenVolume(last);
    FDirManager = std::make_unique<TZADirManager>(FArchiveStream.get(), FEngine.get(), false);
    FOpenCorruptedArchives = false;
    if (HasEndRecord()) {
        DetectSpanningMode();
        return;
    }
    // Without an end record the program is taken for the first volume of a split set,
    // whose last volume has the same name with a ".ZIP" extension.
    FDirManager.reset();
    FSpanningMode = smSplitting;
    std::string lastName = FFileName;
    GetVolumeFileName(lastName, -1, false);
    if (!ExistingVolumeFile(lastName).empty()) {
        FEngine->Volumes.Info.Reset();
        last.Reset();
        last.SetLast(true);
        OpenVolume(last);
    }
    FSpanningMode = smNone;
    // An end record that names a set has its last volume read in turn.
    while (!ReadLastVolume() && FSpanningMode != smNone)
        continue;
}

bool TZABaseArchiver::HasEndRecord() {
    std::int64_t position = -1;
    const bool found = FDirManager->FindEndOfCentralDir(
        FDirManager->EndRecord, position,
        FZipFormat ? StandardSignatures.EndOfCentralDir : AlternateSignatures.EndOfCentralDir);
    return FOpenCorruptedArchives || found;
}

void TZABaseArchiver::DetectSpanningMode() {
    const TEndOfCentralDir& record = FDirManager->EndRecord;
    if (record.Signature == 0) {
        FSpanningMode = IsRemovableDrive(FFileName) ? smSpanning : smNone;
        return;
    }
    std::uint32_t n = record.DiskNumber;
    // The Zip64 escape value: the locator in front of the end record holds the number of
    // disks, so a single-volume Zip64 archive is not taken for the last disk of a set.
    if (n == Zip64Marker16 &&
        FDirManager->EndRecordPosition >= std::int64_t{TZip64EndLocator::Size}) {
        vcl::TStream& stream = *FDirManager->ArcStream;
        const std::int64_t saved = stream.Position();
        std::string bytes(TZip64EndLocator::Size, '\0');
        stream.SetPosition(FDirManager->EndRecordPosition - std::int64_t{TZip64EndLocator::Size});
        stream.ReadBuffer(bytes.data(), TZip64EndLocator::Size);
        stream.SetPosition(saved);
        RecordReader r(bytes);
        const TZip64EndLocator locator = TZip64EndLocator::Read(r);
        if (locator.Signature == Zip64EndLocatorSignature)
            n = std::max<std::uint32_t>(locator.TotalDisks, 1) - 1;
    }
    if (n == 0) {
        FSpanningMode = smNone;
        return;
    }
    const auto previous = static_cast<std::int32_t>(std::min<std::uint32_t>(n, 0x7FFFFFFF) - 1);
    FSpanningMode = smSplitting;
    std::string name = FFileName;
    GetVolumeFileName(name, previous, false);
    if (!ExistingVolumeFile(name).empty())
        return;
    FSpanningOptions->AdvancedNaming = !FSpanningOptions->AdvancedNaming;
    name = FFileName;
    GetVolumeFileName(name, previous, false);
    if (!ExistingVolumeFile(name).empty())
        return;
    FSpanningOptions->AdvancedNaming = !FSpanningOptions->AdvancedNaming;
    if (vcl::LowerCase(FFileName).find(".exe") != std::string::npos)
        FSpanningMode = smNone;
    else
        FSpanningMode = smSpanning; // n > 0 here
}

void TZABaseArchiver::DoAfterOpen() {
    if (AfterOpen)
        AfterOpen(this);
}

} // namespace zip
