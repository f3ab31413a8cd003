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

class TZABaseArchiver;
class TZADirManager;

// The first index at which the saved and the live directory differ in stored name, or at
// which the live entry has new data; the smaller count when there is none.
std::int32_t FindFirstChangedEntry(const TZADirArray& saved, const TZADirArray& live);

class TZAUpdatePass {
public:
    TZAUpdatePass(TZABaseArchiver& owner, TZAProgressState& progress, TZAVolumeState& volumes);
    // Whatever happened, no temporary file of the pass outlives it (but see RestoreArchiveTail).
    ~TZAUpdatePass();
    TZAUpdatePass(const TZAUpdatePass&) = delete;
    TZAUpdatePass& operator=(const TZAUpdatePass&) = delete;

    void Run();

private:
    bool Stopped() const;
    std::int64_t StartOffset(std::int32_t first) const;
    void SaveArchiveTail();
    void RestoreArchiveTail();
    void DeleteTailFile();
    bool AddFileToArchive(std::int32_t i);
    void WriteEntry(TDirItem& e, vcl::TStream* source, std::int64_t& headerSize);
    // Copies entry i's old record; keepOld makes the entry the old one again (its change
    // could not be made).
    void CopyEntry(std::int32_t i, bool keepOld);
    bool HasOldEntry(const TDirItem& e) const;
    void ReleaseEntrySource(TDirItem& e, bool done);
    void RollbackUpdate();
    void DeleteMovedSources();
    void Commit();

    TZABaseArchiver& a_;
    TZAProgressState& progress_;
    TZAVolumeState& volumes_;
    TZADirManager& dir_;
    TZAAction action_ = fxaIgnore;
    TZAProcessOperation operation_ = poDelete;
    std::int64_t start_ = 0;
    std::string tailName_;
    std::unique_ptr<vcl::TFileStream> tail_;
    bool keepTail_ = false;
    bool touched_ = false; // the archive's bytes have begun to change
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
