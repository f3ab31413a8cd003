// The archive component: TZABaseArchiver carries the properties, the open archive, the
// events with their dispatchers and the operations; TZipArchiver adds the ZIP settings.
#pragma once

#include "vcl/Classes.h"
#include "vcl/Streams.h"
#include "zip/ZAEvents.h"
#include "zip/ZAExcept.h"
#include "zip/ZAOptions.h"
#include "zip/ZATypes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct stat; // a file's status, as the add walk read it

namespace zip {

// Where a search stands; FindNext goes on from EntryIndex.
struct TInternalSearchRec {
    // The mask holds at most this many characters (the original field had room for 259 and
    // a terminating zero); FindFirst refuses a longer one.
    static constexpr std::size_t MaxMaskLength = 259;

    std::int32_t EntryIndex = 0;
    std::string Mask; // "/" separates folders
    std::int32_t AttributeFilter = 0;
    std::string ExclusionMask;
    bool MaskList = false; // match against FileMasks/ExclusionMasks instead of Mask
};

// What FindFirst and FindNext report about an entry.
struct TZAArchiveItem {
    std::string FileName; // name part of the stored name
    std::string Folder;   // folder part, ending with "/"; empty for a top-level entry
    std::int64_t PackedSize = 0;
    std::int64_t UnpackedSize = 0;
    double SavingRatio = 0; // percent
    bool Encrypted = false;
    std::uint16_t DosDate = 0;
    std::uint16_t DosTime = 0;
    std::uint32_t CRC = 0;
    std::uint32_t Attributes = 0;
    std::string Comment;
    TInternalSearchRec Search;
};

struct TDirItem;
struct TZADecoded;
struct TZAExtractRun;
class TZADecodeAhead;
class TZADirManager;
class TZAEngine;
class TZAEntryStarts;
class TZANameIndex;

class TZABaseArchiver : public vcl::TComponent {
public:
    explicit TZABaseArchiver(vcl::TComponent* AOwner);
    ~TZABaseArchiver() override;

    // Published properties, in their order.
    bool ExtractCorruptedFiles = false;
    TZACompressionLevel CompressionLevel() const { return FCompressionLevel; }
    void SetCompressionLevel(TZACompressionLevel Value);
    std::uint8_t CompressionMode() const { return FCompressionMode; }
    // Above 9: zeCompressionMode, nothing changed.
    void SetCompressionMode(std::uint8_t Value);
    std::string CurrentVersion() const;
    // Ignored: the version is the engine's own; the setter lets form resources carry it.
    void SetCurrentVersion(const std::string& Value);
    std::string Password;
    const std::string& FileName() const { return FFileName; }
    void SetFileName(std::string Value) { FFileName = std::move(Value); }
    std::string BaseDir;
    std::string TempDir;
    TZASpanningMode SpanningMode() const { return FSpanningMode; }
    // While an archive is open: a plain exception, nothing changed.
    void SetSpanningMode(TZASpanningMode Value);
    TZASpanningOptions& SpanningOptions() { return *FSpanningOptions; }
    std::string SFXStub;
    TZAOptions& Options() { return *FOptions; }
    vcl::TStrings& FileMasks() { return *FFileMasks; }
    void SetFileMasks(const vcl::TStrings& Value) { FFileMasks->Assign(Value); }
    vcl::TStrings& ExclusionMasks() { return *FExclusionMasks; }
    void SetExclusionMasks(const vcl::TStrings& Value) { FExclusionMasks->Assign(Value); }
    vcl::TStrings& NoCompressionMasks() { return *FNoCompressionMasks; }
    void SetNoCompressionMasks(const vcl::TStrings& Value) { FNoCompressionMasks->Assign(Value); }
    bool InMemory() const { return FInMemory; }
    // On an open archive: memory to file writes the archive to FileName and reopens it there;
    // file to memory closes it and opens a new, empty archive in memory.
    void SetInMemory(bool Value);

    TZAFileProgressEvent OnFileProgress;
    TZAProgressEvent OnOverallProgress;
    TZACopyTempFileProgressEvent OnCopyTempFileProgress;
    TZAConfirmOverwriteEvent OnConfirmOverwrite;
    TZAConfirmProcessFileEvent OnConfirmProcessFile;
    vcl::TNotifyEvent AfterOpen;
    TZAOnPasswordEvent OnPassword;
    TZAProcessFileFailureEvent OnProcessFileFailure;
    TZAOnRequestBlankVolumeEvent OnRequestBlankVolume;
    TZAOnRequestFirstVolumeEvent OnRequestFirstVolume;
    TZAOnRequestLastVolumeEvent OnRequestLastVolume;
    TZAOnRequestMiddleVolumeEvent OnRequestMiddleVolume;
    TZAOnDiskFullEvent OnDiskFull;
    TZAOnStoreFileEvent OnStoreFile;
    TZAOnExtractFileEvent OnExtractFile;

    // Operations.
    void OpenArchive();
    void OpenArchive(std::uint16_t Mode);
    void CloseArchive();
    void ExtractFiles(const std::string& FileMask, std::int32_t SearchAttr,
                      const std::string& ExclusionMask);
    // Reads every matching entry as extraction would, into a temporary file that is then
    // deleted, so its data, size and CRC are checked without writing anything out; each
    // failure goes to OnProcessFileFailure.
    void TestFiles(const std::string& FileMask, std::int32_t SearchAttr,
                   const std::string& ExclusionMask);
    // An update batch: the changes made between BeginUpdate and EndUpdate wait in the live
    // directory; EndUpdate writes them in one update pass, all or nothing, and raises what the
    // pass raises (CloseArchive would run the pass too, but swallows its errors). Batches
    // nest: only the outermost EndUpdate writes. A split or spanned archive that holds entries
    // cannot be updated (zeMultiVolumeUpdate).
    void BeginUpdate();
    void EndUpdate();
    // Adds the files below BaseDir that match FileMask, or replaces the entries stored under
    // their names (by the overwrite rules): folders are searched recursively when
    // Options.Recurse is set, folders get entries when SearchAttr admits them, files whose
    // name or path below the search folder matches ExclusionMask or a line of ExclusionMasks
    // are left out, stored names follow Options.StorePath. What is neither a file nor a
    // folder goes to OnProcessFileFailure and is skipped. Outside a batch it is a batch of
    // its own.
    void AddFiles(const std::string& FileMask, std::int32_t SearchAttr,
                  const std::string& ExclusionMask);
    // Deletes the entries that match, as ExtractFiles selects them; outside a batch it is a
    // batch of its own.
    void DeleteFiles(const std::string& FileMask, std::int32_t SearchAttr,
                     const std::string& ExclusionMask);
    bool FindFirst(const std::string& FileMask, TZAArchiveItem& Item, std::int32_t SearchAttr,
                   const std::string& ExclusionMask);
    bool FindNext(TZAArchiveItem& Item);

    bool Active() const { return FActive; }
    // The entries the last run took up, and how many of them it finished: one that failed and
    // was ignored, was skipped or was cancelled is not counted.
    std::int32_t ProcessedFileCount() const;
    std::int32_t ProcessedFileNo() const;

    // Whether an archive without a valid end record is still opened, its directory rebuilt
    // from the local headers (True after construction). The updater turns it off: a release
    // cut short would open that way, lacking the entries after the cut.
    bool OpenCorruptedArchives() const { return FOpenCorruptedArchives; }
    void SetOpenCorruptedArchives(bool Value) { FOpenCorruptedArchives = Value; }

protected:
    // Guards the other parts of the engine use.
    bool UpdatePending() const { return FUpdateCounter > 0; }
    void CheckActive() const;      // zeArchiveNotOpen
    void CheckNotUpdating() const; // zeUpdateNotEnded
    void ClearUpdateCounter();
    // One lock for every archiver of the process; recursive for its owning thread.
    static void EnterArchiverLock();
    static void LeaveArchiverLock();

    // The compression method code the next new entry gets.
    virtual void UpdateCompressionMethod();

    // Event dispatchers: the handler when one is assigned, else the default answer.
    virtual void DoOverallProgress(double Progress, TZAProcessOperation Operation,
                                   TZAProgressPhase ProgressPhase, bool& Cancel);
    virtual void DoFileProgress(const std::string& FileName, double Progress,
                                TZAProcessOperation Operation, TZAProgressPhase ProgressPhase,
                                bool& Cancel);
    virtual void DoCopyTempFileProgress(double Progress, TZAProgressPhase ProgressPhase,
                                        bool& Cancel);
    virtual void DoConfirmOverwrite(const std::string& SourceFileName, std::string& DestFileName,
                                    bool& Confirm);
    virtual void DoConfirmProcessFile(const std::string& FileName, TZAProcessOperation Operation,
                                      bool& Confirm);
    virtual void DoPassword(const std::string& FileName, std::string& NewPassword, bool& SkipFile);
    virtual void DoProcessFileFailure(const std::string& FileName, TZAProcessOperation Operation,
                                      std::int32_t NativeError, std::int32_t ErrorCode,
                                      const std::string& ErrorMessage, TZAAction& Action);
    // Volume numbers arrive 0-based; handlers and messages see them plus 1.
    virtual void DoRequestBlankVolume(std::int32_t VolumeNumber, std::string& VolumeFileName,
                                      bool& Cancel);
    virtual void DoRequestFirstVolume(std::string& VolumeFileName, bool& Cancel);
    virtual void DoRequestLastVolume(std::string& VolumeFileName, bool& Cancel);
    virtual void DoRequestMiddleVolume(std::int32_t VolumeNumber, std::string& VolumeFileName,
                                       bool& Cancel);
    virtual void DoDiskFull(std::int32_t VolumeNumber, const std::string& VolumeFileName,
                            bool& Cancel);
    virtual void DoUnpublishedEvent(std::uint8_t Value, std::int32_t A, std::int32_t B,
                                    std::int32_t C);
    virtual void DoStoreFile(std::string& FileName, std::uint32_t& FileAttr, std::string& Comment,
                             const std::string& OriginalFileName);
    virtual void DoExtractFile(std::string& FileName, std::uint32_t& FileAttr,
                               const std::string& Comment);

    // The destructors' last step: handlers detached, prompts off, the archive closed (which
    // writes a pending update).
    void TearDown();

    // Writes as much of Buffer as the volumes take, moving to the next volume when one is
    // full; fewer bytes than Count only when a volume has no room left.
    std::int32_t WriteToVolumes(const void* Buffer, std::int32_t Count, vcl::TStream*& Stream,
                                TZAVolumeNumberInfo& Info, std::int32_t KeepTogether,
                                vcl::TStream* Staging);

    // The steps of the processing loop and what the update pass prepares with them. Name is
    // the entry's stored name, BaseFolder ends in "/".
    void SelectFiles(const std::string& FileMask, std::int32_t SearchAttr,
                     const std::string& ExclusionMask);
    void ProcessFiles(TZAProcessOperation Operation);
    void ExtractItemToFile(std::int32_t Index, const std::string& Name,
                           const std::string& BaseFolder);
    void ExtractItemToStream(std::int32_t Index, vcl::TStream& Target);
    void DeleteItem(std::int32_t Index);
    void RemoveItem(std::int32_t Index);
    void UpdateItem(std::int32_t Index, const std::string& Name, const std::string& BaseFolder);
    void TestItem(std::int32_t Index, const std::string& Name);
    // Path's stored name is taken relative to RelativeTo, the current folder when empty.
    TDirItem& MarkItemForUpdate(std::int32_t Index, const std::string& Path,
                                const std::string& RelativeTo = {});
    void FillDirItemFromFile(std::int32_t Index, const std::string& Path,
                             const std::string& RelativeTo = {});
    // The same with the stored name and the file's status (nullptr when it has none) known.
    void FillDirItem(std::int32_t Index, const std::string& Path, std::string Stored,
                     const struct stat* Status);

    std::int32_t FUpdateCounter = 0;
    bool FTearingDown = false; // the destructor runs: no events, no prompts
    bool FActive = false;
    bool FZipFormat = false;
    bool FCustomStream = false;
    std::string FFileName;
    std::uint16_t FOpenMode = 0;
    std::unique_ptr<TZAOptions> FOptions;
    std::unique_ptr<vcl::TStrings> FFileMasks;
    std::unique_ptr<vcl::TStrings> FExclusionMasks;
    std::unique_ptr<vcl::TStrings> FNoCompressionMasks;
    bool FInMemory = false;
    TZASpanningMode FSpanningMode = smNone;
    std::unique_ptr<TZASpanningOptions> FSpanningOptions;
    bool FOpenCorruptedArchives = true;
    TZAUnpublishedEvent FOnUnpublishedEvent;
    std::unique_ptr<TZADirManager> FDirManager;
    std::uint16_t FCompressionMethod = 0xFFFF;
    std::uint8_t FCompressionMode = 1;
    TZACompressionLevel FCompressionLevel = clFastest;
    std::unique_ptr<vcl::TStream> FArchiveStream;
    TZip64Mode FZip64Mode = zmAuto;

private:
    // The engine's parts reach the archiver through it alone.
    friend class TZAEngine;

    // Opening: a new archive, an ordinary archive file, or a self-extracting one.
    void InternalOpenArchive();
    void CreateNewArchive();
    void OpenSingleFileArchive();
    void OpenSFXArchive();
    // Whether the directory manager finds an end record (always True while damaged archives
    // are let through); fills the manager's end record either way.
    bool HasEndRecord();
    // SpanningMode from the end record just searched.
    void DetectSpanningMode();
    // Opens the last volume and searches its end record; whether one was found.
    bool ReadLastVolume();
    void DoAfterOpen();
    void FreeArchiveStream();

    // Volumes.
    void GetVolumeFileName(std::string& FileName, std::int32_t VolumeNumber, bool CheckExists);
    void OpenVolumeStream(const std::string& FileName);
    void OpenVolume(const TZAVolumeNumberInfo& Info);
    void WriteBufferToVolumes(const void* Buffer, std::int32_t Count, vcl::TStream*& Stream,
                              TZAVolumeNumberInfo& Info, std::int32_t KeepTogether,
                              vcl::TStream* Staging);
    void CopyToVolumes(vcl::TStream& Source, vcl::TStream*& Dest, TZAVolumeNumberInfo& Info,
                       bool& Cancel, std::int64_t Count, std::int32_t KeepTogether,
                       vcl::TStream* Staging, bool ShowProgress);

    // The entry search.
    static bool AttributesMatch(std::uint32_t Attr, std::int32_t SearchAttr);
    bool MatchEntryName(std::int32_t Index, const TZAArchiveItem& Item);
    bool FindNextMatch(TZAArchiveItem& Item);

    // Closing and updating.
    void UpdatePass();
    void WriteEmptyDirectory();
    // The replace rules of an update for an existing entry: read-only entries, the overwrite
    // mode against the file's date, the prompt.
    bool MayReplaceEntry(const TDirItem& Entry, const std::string& SourcePath,
                         const std::string& StoredName);
    // Carries out the pending changes of the live directory, all or nothing.
    void ApplyUpdates();
    // The pending changes are forgotten: the live directory is the one the batch began with.
    void DropPendingUpdates();
    // Marks the disk file Path for the batch: a new entry, or the entry already stored under
    // its name when the overwrite rules let it be replaced. Index finds the stored names.
    // RelativeTo is the resolved base folder, Status what the walk read of Path.
    void AddFileToBatch(const std::string& Path, bool Folder, TZANameIndex& Index,
                        const std::string& RelativeTo, const struct stat& Status);

    // The shared run and volume state, and the parts' view of this archiver.
    std::unique_ptr<TZAEngine> FEngine;
    // While a run reads entries: where every entry starts, to refuse entries sharing bytes.
    std::shared_ptr<const TZAEntryStarts> FEntryStarts;
    // Set up by the first entry an extraction run writes to a file; dropped when the run ends.
    std::unique_ptr<TZAExtractRun> FExtractRun;
    TZAExtractRun& ExtractRun(const std::string& BaseFolder);
    // While an extraction run writes files: the small entries decoded ahead of their turn.
    std::unique_ptr<TZADecodeAhead> FDecodeAhead;
    // The entry's bytes when they were decoded ahead; nothing when it must be decoded now.
    std::optional<TZADecoded> DecodedAhead(std::int32_t Index, const TDirItem& Entry);
    // Opens the volume the entry starts on.
    void OpenEntryVolume(const TDirItem& Entry);
    // The entry at Index of the live directory; zeExtractIndex when there is none.
    const TDirItem& EntryToExtract(std::int32_t Index);
};

class TZipArchiver : public TZABaseArchiver {
public:
    explicit TZipArchiver(vcl::TComponent* AOwner);
    ~TZipArchiver() override;

    TZip64Mode Zip64Mode() const { return FZip64Mode; }
    void SetZip64Mode(TZip64Mode Value) { FZip64Mode = Value; }

protected:
    void UpdateCompressionMethod() override;
};

} // namespace zip
