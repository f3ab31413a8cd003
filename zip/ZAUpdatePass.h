// The update pass: the archive rebuilt in place from its first changed entry, new data written
// through the entry writer, entries that stay copied from a saved tail, the directory written
// last; anything that fails puts the old bytes and the old directory back.
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
    // The new archive's stream: a sibling of the archive file, or a memory stream, holding
    // the head; it becomes the archive stream for the pass, the old one kept aside.
    void OpenTarget();
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
    void WriteEntry(TDirItem& e, vcl::TStream* source, std::int64_t& headerSize);
    // Copies entry i's old record; keepOld makes the entry the old one again (its change
    // could not be made).
    void CopyEntry(std::int32_t i, bool keepOld);
    std::int32_t OldEntryOf(const TDirItem& e) const;
    bool HasOldEntry(const TDirItem& e) const;
    void ReleaseEntrySource(TDirItem& e, bool done);
    void RollbackUpdate();
    void DeleteMovedSources();
    void Commit();

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
