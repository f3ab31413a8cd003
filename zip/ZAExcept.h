// EZAException: every failure the archive engine detects itself. It is raised by number; the
// words come from the message table, prefixed with the archiver's Name and followed by the
// number, so a user's report always carries the code.
#pragma once

#include "vcl/Classes.h"
#include "vcl/SysUtils.h"

#include <cstdint>
#include <vector>

namespace zip {

// The native error codes the engine raises, by name. Each value is the number a user reads at
// the end of a message ("- Native error: 00013") and a failure handler gets as NativeError, so
// none may change; the message table maps it to its text. Codes that nothing here raises stay
// in that map by number only.
enum TZAError : std::int32_t {
    zeDirectoryIndex = 1,        // SetItem, or a count the directory array cannot hold
    zeGetItemIndex = 2,          // GetItem
    zeItemPtrIndex = 3,          // ItemPtr
    zeDeleteIndex = 4,           // Delete
    zeCompressionMode = 5,       // CompressionMode above 9
    zeNoOldEntry = 7,            // the update pass finds no old record for an entry it keeps
    zeBadEntryData = 8,          // an entry's size, CRC-32 or method does not hold
    zeBlankFileName = 9,         // OpenArchive without a mode
    zeBlankFileNameForMode = 10, // OpenArchive with a mode
    zeArchiveNotFound = 12,      // OpenArchive with a mode, on a missing file
    zeArchiveNotOpen = 13,
    zeExtractIndex = 16, // an entry to extract outside the directory
    zeCannotCreateFile = 19,
    zeCannotCreateFolder = 20,
    zeRemoveIndex = 21,           // an entry to remove outside the directory
    zeUpdateNotStarted = 22,      // removing, or EndUpdate, outside an update batch
    zeMarkIndex = 24,             // an entry to update outside the directory
    zeMarkNotStarted = 25,        // an entry marked for update outside a batch
    zeUpdateNotEnded = 26,        // an operation that needs the batch to be over
    zeCannotDeleteFile = 27,      // the source of a moved entry
    zeInMemoryCreateOnly = 28,    // an in-memory archive opened with another mode than create
    zeInMemoryBlankFileName = 29, // an in-memory archive written to a file without a name
    zeReadOnlyArchive = 32,       // an update of an archive opened for reading only
    zeCannotOpenFile = 33,        // the source file of a new entry
    zeCompressedSize = 34,        // the source gave more or fewer bytes than its size
    zeInvalidArchive = 35,        // no local header where one must stand
    zeNoZip64EndRecord = 40,
    zeZip64DisabledCompress = 41, // an entry's data needs Zip64 while Zip64Mode is zmDisabled
    zeZip64DisabledAdd = 43,      // an entry's size or offset needs Zip64, the same
    zeVolumeSetInvalid = 44,      // a volume set without a readable directory
    zeVolumeCancelled = 45,       // a volume request or a full disk answered with Cancel
    zeWriteError = 46,
    zeStubExceedsVolume = 47, // a self-extractor stub larger than the first volume
    zeArchiveDamaged = 48,    // no end record, and damaged archives are not opened
    zeMultiVolumeUpdate = 52, // an update of a split or spanned archive that holds entries
    zeDeflate64 = 55,         // the Deflate64 method
};

class EZAException : public vcl::Exception {
public:
    // The table text as it stands: placeholders such as "%s" stay in the message.
    explicit EZAException(TZAError code, const vcl::TComponent* archiver = nullptr);

    // The table text formatted with args; arguments past the placeholders are ignored.
    static EZAException CreateFmt(TZAError code, const std::vector<vcl::FormatArg>& args,
                                  const vcl::TComponent* archiver = nullptr);

    // Adds the system's reason after the table text ("Write to stream error: No space left
    // on device - Native error: 00046").
    EZAException& WithCause(const std::string& cause);

    // Index into the message table: 0 for a code the map does not know, -1 for a code
    // that has no text.
    std::int32_t ErrorCode() const { return errorCode_; }
    // The code the raising operation gave, unchanged.
    std::int32_t NativeError() const { return nativeError_; }

private:
    EZAException(TZAError code, const vcl::TComponent* archiver,
                 const std::vector<vcl::FormatArg>* args);

    std::int32_t errorCode_;
    std::int32_t nativeError_;
};

} // namespace zip
