#include "zip/ZipArchiver.h"

#include "zip/ZADecodeAhead.h"
#include "zip/ZADirManager.h"
#include "zip/ZAEngine.h"
#include "zip/ZAEntryReader.h"
#include "zip/ZAExcept.h"
#include "zip/ZAExtractRun.h"
#include "zip/ZARecords.h"
#include "zip/ZAStrFunc.h"
#include "zip/ZAZlib.h"

#include <algorithm>
#include <cctype>
#include <mutex>

namespace zip {

namespace {

std::recursive_mutex& ArchiverLock() {
    static std::recursive_mutex lock;
    return lock;
}

} // namespace

TZABaseArchiver::TZABaseArchiver(vcl::TComponent* AOwner)
    : vcl::TComponent(AOwner), FEngine(std::make_unique<TZAEngine>(*this)) {
    FOptions = std::make_unique<TZAOptions>();
    SetCompressionLevel(clFastest);
    FActive = false;
    FFileMasks = std::make_unique<vcl::TStringList>();
    FExclusionMasks = std::make_unique<vcl::TStringList>();
    FNoCompressionMasks = std::make_unique<vcl::TStringList>();
    ExtractCorruptedFiles = false;
    FOpenCorruptedArchives = true;
    FSpanningMode = smNone;
    FSpanningOptions = std::make_unique<TZASpanningOptions>();
    FZip64Mode = zmAuto;
}

TZABaseArchiver::~TZABaseArchiver() {
    TearDown();
}

void TZABaseArchiver::TearDown() {
    // A pending update is still written, but without events: the handlers may reach state
    // that their owner has already torn down, and no prompt can be answered now.
    FTearingDown = true;
    OnFileProgress = nullptr;
    OnOverallProgress = nullptr;
    OnCopyTempFileProgress = nullptr;
    OnConfirmOverwrite = nullptr;
    OnConfirmProcessFile = nullptr;
    AfterOpen = nullptr;
    OnPassword = nullptr;
    OnProcessFileFailure = nullptr;
    OnRequestBlankVolume = nullptr;
    OnRequestFirstVolume = nullptr;
    OnRequestLastVolume = nullptr;
    OnRequestMiddleVolume = nullptr;
    OnDiskFull = nullptr;
    OnStoreFile = nullptr;
    OnExtractFile = nullptr;
    FOnUnpublishedEvent = nullptr;
    CloseArchive();
}

void TZABaseArchiver::SetCompressionLevel(TZACompressionLevel Value) {
    FCompressionLevel = Value;
    FCompressionMode = ModeFromLevel(Value);
    UpdateCompressionMethod();
}

void TZABaseArchiver::SetCompressionMode(std::uint8_t Value) {
    if (Value > 9)
        throw EZAException(zeCompressionMode, this);
    FCompressionMode = Value;
    FCompressionLevel = LevelFromMode(Value);
    UpdateCompressionMethod();
}

std::string TZABaseArchiver::CurrentVersion() const {
    return "2.65 ";
}

void TZABaseArchiver::SetCurrentVersion(const std::string& /*Value*/) {
}

void TZABaseArchiver::SetSpanningMode(TZASpanningMode Value) {
    if (FActive)
        throw vcl::Exception("Cannot set spanning mode on open archive");
    FSpanningMode = Value;
}

void TZABaseArchiver::SetInMemory(bool Value) {
    if (Value == FInMemory)
        return;
    if (!FActive) {
        FInMemory = Value;
        return;
    }
    if (FInMemory) {
        if (FFileName.empty())
            throw EZAException(zeInMemoryBlankFileName, this);
        {
            vcl::TFileStream file(FFileName, vcl::fmCreate);
            file.CopyFrom(*FArchiveStream, 0);
        }
        CloseArchive();
        FInMemory = false;
        OpenArchive();
    } else {
        CloseArchive();
        FInMemory = true;
        OpenArchive();
    }
}

std::int32_t TZABaseArchiver::ProcessedFileCount() const {
    return FEngine->Progress.ProcessedFileCount;
}

std::int32_t TZABaseArchiver::ProcessedFileNo() const {
    return FEngine->Progress.ProcessedFileNo;
}

void TZABaseArchiver::UpdateCompressionMethod() {
    FCompressionMethod = 0xFFFF;
}

void TZABaseArchiver::CheckActive() const {
    if (!FActive)
        throw EZAException(zeArchiveNotOpen, this);
}

void TZABaseArchiver::CheckNotUpdating() const {
    if (UpdatePending())
        throw EZAException(zeUpdateNotEnded, this);
}

void TZABaseArchiver::ClearUpdateCounter() {
    if (FUpdateCounter > 0)
        FUpdateCounter = 0;
}

void TZABaseArchiver::EnterArchiverLock() {
    ArchiverLock().lock();
}

void TZABaseArchiver::LeaveArchiverLock() {
    ArchiverLock().unlock();
}

void TZABaseArchiver::OpenArchive() {
    std::uint16_t mode = 0xFFFF;
    if (!FInMemory) {
        if (vcl::ExtractFileName(FFileName).empty())
            throw EZAException(zeBlankFileName, this);
        if (vcl::FileExists(FFileName)) {
            try {
                vcl::TFileStream probe(FFileName, vcl::fmOpenReadWrite | vcl::fmShareDenyWrite);
                mode = vcl::fmOpenReadWrite | vcl::fmShareDenyWrite;
            } catch (const vcl::EStreamError&) {
                mode = vcl::fmOpenRead | vcl::fmShareDenyNone;
            }
        }
    }
    OpenArchive(mode);
}

void TZABaseArchiver::OpenArchive(std::uint16_t Mode) {
    if (!FInMemory && vcl::ExtractFileName(FFileName).empty())
        throw EZAException(zeBlankFileNameForMode, this);
    if (Mode != 0xFFFF && !vcl::FileExists(FFileName) && FSpanningMode != smSpanning &&
        !IsRemovableDrive(FFileName))
        throw EZAException::CreateFmt(zeArchiveNotFound, {FFileName}, this);
    if (Mode != 0xFFFF && FInMemory)
        throw EZAException(zeInMemoryCreateOnly, this);
    CloseArchive();
    FOpenMode = Mode;
    InternalOpenArchive();
}

void TZABaseArchiver::CloseArchive() {
    if (FActive) {
        try {
            UpdatePass();
            if (FArchiveStream && FArchiveStream->Size() == 0)
                WriteEmptyDirectory();
        } catch (...) {
            // Closing always closes: a failed final write must not keep the archive open.
        }
        FActive = false;
    }
    FreeArchiveStream();
    FDirManager.reset();
}

void TZABaseArchiver::FreeArchiveStream() {
    if (FCustomStream)
        (void)FArchiveStream.release(); // the caller's stream, not ours to free
    else
        FArchiveStream.reset();
}

void TZABaseArchiver::ExtractFiles(const std::string& FileMask, std::int32_t SearchAttr,
                                   const std::string& ExclusionMask) {
    CheckActive();
    CheckNotUpdating();
    SelectFiles(FileMask, SearchAttr, ExclusionMask);
    ProcessFiles(poExtract);
}

void TZABaseArchiver::TestFiles(const std::string& FileMask, std::int32_t SearchAttr,
                                const std::string& ExclusionMask) {
    CheckActive();
    CheckNotUpdating();
    SelectFiles(FileMask, SearchAttr, ExclusionMask);
    ProcessFiles(poTest);
}

void TZABaseArchiver::SelectFiles(const std::string& FileMask, std::int32_t SearchAttr,
                                  const std::string& ExclusionMask) {
    FDirManager->Directory.ClearSelection();
    TZAArchiveItem item;
    for (bool found = FindFirst(FileMask, item, SearchAttr, ExclusionMask); found;
         found = FindNext(item))
        FDirManager->Directory.ItemPtr(item.Search.EntryIndex).Selected = true;
}

void TZABaseArchiver::UpdatePass() {
    // Nothing raises the counter, so there is never an update to run.
    if (FUpdateCounter == 0)
        return;
    ApplyUpdates();
}

void TZABaseArchiver::WriteEmptyDirectory() {
    FEngine->WriteCentralDir();
}

// The pending update is written while the ZIP settings are still this class's.
TZipArchiver::~TZipArchiver() {
    TearDown();
}

TZipArchiver::TZipArchiver(vcl::TComponent* AOwner) : TZABaseArchiver(AOwner) {
    FZipFormat = true;
    FZip64Mode = zmDisabled;
    // The base constructor ran before this class's override existed.
    UpdateCompressionMethod();
}

void TZipArchiver::UpdateCompressionMethod() {
    FCompressionMethod = FCompressionMode > 0 ? MethodDeflated : MethodStored;
}

} // namespace zip
