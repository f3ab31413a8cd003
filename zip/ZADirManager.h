// The open archive's directory: the live entries, the copy the update pass rolls back to,
// the end records, the archive comment and the size of a self-extractor prefix in front of
// the first local header. It reads an existing directory, rebuilds one from the local
// headers of a damaged archive, and measures or places the prefix.
#pragma once

#include "vcl/Classes.h"
#include "vcl/Streams.h"
#include "zip/ZADirArray.h"
#include "zip/ZARecords.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zip {

class TZAReadAhead;

class TZAEngine;
class TZAVolumeNumberInfo;

// The largest volume number an archive can name: events and messages show it plus one.
inline constexpr std::int32_t MaxVolumeNumber = 0x7FFFFFFE;

// Finds a 4-byte signature forward in a stream, reading windows and keeping the last one, so
// that searches from nearby positions do not read the same bytes again.
class TZASignatureScan {
public:
    TZASignatureScan(vcl::TStream& stream, std::int64_t windowSize);
    // The first position at or after from where all four bytes stand in the stream, or -1.
    // The stream position is left as it was. The stream is touched only to read a window.
    std::int64_t Find(std::int64_t from, std::uint32_t signature);
    // The count bytes at position when the window kept holds them all, else null.
    const std::uint8_t* Kept(std::int64_t position, std::int64_t count) const;

private:
    // The window from position on; false when fewer than four bytes are left there.
    bool Load(std::int64_t position);

    vcl::TStream& stream_;
    std::int64_t windowSize_;
    std::int64_t start_ = 0;
    std::vector<std::uint8_t> window_;
};

class TZADirManager : public vcl::TObject {
public:
    // A directory with no archive behind it.
    TZADirManager() = default;
    // Over the archive stream (not owned) of the archiver engine runs. A new archive marks
    // its volume as the first one and gets its SFXStub, when it has one, in front.
    TZADirManager(vcl::TStream* stream, TZAEngine* engine, bool isNewArchive);

    vcl::TStream* ArcStream = nullptr;
    bool IsNewArchive = false;
    bool IsForeignStream = false;
    TZAEngine* Engine = nullptr;
    TZADirArray SavedDirectory;
    TZADirArray Directory; // the live one, in central-directory order
    // An update batch begins: the live directory is saved for the rollback, each entry
    // linked to its saved copy by its Origin.
    void SaveForUpdate();
    std::string ArcComment;
    TZip64EndLocator Zip64Locator;
    TZip64EndOfCentralDir Zip64EndRecord;
    // The end record held in memory; its signature chooses the record set the writer uses.
    TEndOfCentralDir EndRecord;
    std::int64_t PrefixSize = 0;
    bool IsZip64 = false;
    // Where the first central header stands; after a rebuild, the stream size. Entry data
    // end there outside multi-volume mode.
    std::int64_t DirStart = 0;
    // Where the end record found last begins; -1 when none was found.
    std::int64_t EndRecordPosition = -1;

    // The number of the last volume, as the end records give it (-1: not known).
    std::int32_t LastVolume() const;

    void ResetDirectory();
    // Searches backwards from the end for one end signature whose record ends exactly where
    // its comment does; the candidate nearest the end wins.
    bool FindEndOfCentralDir(TEndOfCentralDir& record, std::int64_t& position,
                             std::uint32_t signature);
    bool CheckEndRecord(std::int64_t position);
    // Reads the whole directory into Directory (or rebuilds it when there is no end record).
    void ReadCentralDir();
    void SwitchDirVolume(const TZAVolumeNumberInfo& volume);

    // Damaged archives: one entry per local header that stands in the file.
    void RebuildDirFromLocalHeaders();
    std::int64_t FindNextLocalHeader(std::int64_t position);
    bool FindDataDescriptor(std::int64_t position, TDataDescriptor& descriptor);

    // The self-extractor prefix.
    void PlaceSfxStub();
    void DetectPrefixSize(std::int64_t endPosition);
    bool MatchFirstLocalHeader(std::int64_t position);
    bool FindSignatureForward(vcl::TStream& stream, std::int64_t& position,
                              std::uint32_t signature);
    bool PrefixIncluded();
    void ShiftOffsetsByPrefix();

private:
    bool ZipFormat() const;
    bool MultiVolume() const;
    bool OemFileNames() const;
    const TZASignatureSet& Signatures() const;
    // The entry's name from its stored bytes, read as its header and extra records say.
    void SetStoredName(TDirItem& entry, std::string_view field, std::uint16_t versionMadeBy,
                       const std::vector<TZAExtraField>& extra) const;
    void ReadEntry(TDirItem& entry, TZAReadAhead& records);
    // The local header at position of the archive stream; where the stream is left after it
    // is not said (the header may come from the signature scan's window).
    TLocalFileHeader LocalHeaderAt(std::int64_t position);
    // The signature search over the current archive stream.
    TZASignatureScan& Scan();

    std::unique_ptr<TZASignatureScan> scan_;
    vcl::TStream* scanStream_ = nullptr;

    // Where the last data-descriptor search started and what it found (-1: none at all).
    std::int64_t descriptorFrom_ = -1;
    std::int64_t descriptorAt_ = -1;
};

} // namespace zip
