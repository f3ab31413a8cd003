// The update pass: a new archive beside the old one takes its unchanged head, then from the
// first changed entry on new data written through the entry writer and the other entries
// copied from the old archive, the directory last, and takes the old one's place; anything
// that fails leaves the old archive and the old directory as they were.
#pragma once

#include "vcl/Streams.h"
#include "zip/ZADirArray.h"
#include "zip/ZAProgressState.h"
#include "zip/ZARecords.h"
#include "zip/ZATypes.h"
#include "zip/ZAVolumeState.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zip {

class TZAEngine;
class TZADirManager;
class TZASiblingFile;
class EZAException;

// The first index at which the live entry is not the saved one (another entry, another
// name) or has new data; the smaller count when there is none.
std::int32_t FindFirstChangedEntry(const TZADirArray& saved, const TZADirArray& live);

class TZAUpdatePass {
public:
    explicit TZAUpdatePass(TZAEngine& engine);
    // Whatever happened, no file of the pass outlives it: the new archive either took the old
    // one's place or is gone.
    ~TZAUpdatePass();
    TZAUpdatePass(const TZAUpdatePass&) = delete;
    TZAUpdatePass& operator=(const TZAUpdatePass&) = delete;

    void Run();

private:
    bool Stopped() const;
    // Where the bytes that stay as they are end; first moves back to the first entry that
    // does not lie before that point.
    std::int64_t HeadEnd(std::int32_t& first) const;
    // The stages of a pass, in their order. The entries with new data are counted and the
    // first changed entry found; the directory's records are kept for a rollback.
    std::int32_t CountChanges();
    void SaveDirectoryRecords();
    // The new archive's stream (a sibling of the archive file, or a memory stream) begins with
    // the bytes that stay as they are; it becomes the archive stream for the pass, the old one
    // kept aside.
    void CopyHead();
    // From the first changed entry on: new data written, every other entry copied.
    void RewriteEntries(std::int32_t first);
    // The directory written, and the new archive put in the old one's place.
    void WriteDirectory();
    // Moved sources deleted, the end event, the entries' changes cleared, the file flushed.
    void Commit();
    // The new archive takes the old one's place.
    void PublishTarget();
    // A step that writes; a full disk asks the disk-full event whether to try it again.
    template <class Step> void Retrying(Step step);
    bool DiskFullRetry();
    EZAException WriteFailure(const std::string& detail) const;
    std::string FailureCause(const std::exception& e) const;
    bool AddFileToArchive(std::int32_t i);
    // The failure event for an entry that could not be added, its bytes cut off again.
    bool EntryFailed(TDirItem& e, std::int64_t entryStart, const EZAException& failure);
    // A new entry's local record, as far as it is known before its data.
    struct TLocalRecord {
        TLocalFileHeader Header;
        std::string Name;
        std::vector<TZAExtraField> Extra; // the records after the Zip64 room
        std::int64_t SourceSize = 0;
        bool Zip64Room = false; // the Zip64 field holds the sizes
    };
    // Writes entry e anew: its local record, its data, its local record again with the sizes,
    // and in multi-volume mode all of it onto the volumes.
    void WriteEntry(TDirItem& e, vcl::TStream* source, std::int64_t& headerSize);
    // The entry's offset, flags, name encoding, Zip64 decisions and version, and its record.
    TLocalRecord StartLocalRecord(TDirItem& e, vcl::TStream* source);
    // The record written again at headerAt once the data gave its CRC-32 and sizes.
    void FinishLocalRecord(vcl::TStream& out, std::int64_t headerAt, TLocalRecord& local,
                           const TDirItem& e);
    void CopyEntryToVolumes(vcl::TStream& entryFile, TDirItem& e, std::int64_t headerSize);
    // Copies entry i's old record; keepOld makes the entry the old one again (its change
    // could not be made).
    void CopyEntry(std::int32_t i, bool keepOld);
    // count bytes of the old archive, from its position on, into the new one: between two
    // files by the kernel, without passing through this process.
    void CopyOldData(vcl::TStream& archive, std::int64_t count);
    std::int32_t OldEntryOf(const TDirItem& e) const;
    bool HasOldEntry(const TDirItem& e) const;
    void ReleaseEntrySource(TDirItem& e, bool done);
    void RollbackUpdate();
    void DeleteMovedSources();

    TZAEngine& a_;
    TZAProgressState& progress_;
    TZAVolumeState& volumes_;
    TZADirManager& dir_;
    TZAAction action_ = fxaIgnore;
    TZAProcessOperation operation_ = poDelete;
    std::int64_t start_ = 0;
    bool direct_ = false;               // a new multi-volume set: written in place
    bool touched_ = false;              // the archive's bytes have begun to change (in place only)
    std::unique_ptr<vcl::TStream> old_; // the old archive while the pass writes the new one
    TZASiblingFile* target_ = nullptr;  // the new archive's file, owned as the archive stream
    std::unique_ptr<vcl::TMemoryStream> staging_;
    vcl::TMemoryStream smallEntry_; // a small entry, made whole before it is written
    bool copyCancel_ = false;
    bool committed_ = false;

    // The source of the entry being added.
    std::unique_ptr<vcl::TFileStream> sourceFile_;
    std::int64_t sourcePosition_ = 0;

    // What the directory writer changes in memory, for the rollback.
    TEndOfCentralDir savedEnd_;
    TZip64EndOfCentralDir savedZip64End_;
    TZip64EndLocator savedLocator_;
    std::int64_t savedDirStart_ = 0;
    bool savedIsZip64 = false;
};

} // namespace zip
