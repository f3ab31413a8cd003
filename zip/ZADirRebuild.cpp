// Rebuilding the directory of an archive whose end record cannot be found (a download cut
// short, a truncated copy): one entry per local header that stands in the file.
#include "zip/ZADirManager.h"

#include "zip/ZAExcept.h"
#include "zip/ZANames.h"

#include <algorithm>

namespace zip {

namespace {

constexpr std::int64_t ScanWindow = 65535;
constexpr std::uint16_t MaxLocalExtraLength = 260;

} // namespace

TZASignatureScan& TZADirManager::Scan() {
    if (!scan_ || scanStream_ != ArcStream) {
        scan_ = std::make_unique<TZASignatureScan>(*ArcStream, ScanWindow);
        scanStream_ = ArcStream;
        descriptorFrom_ = -1;
        descriptorAt_ = -1;
    }
    return *scan_;
}

std::int64_t TZADirManager::FindNextLocalHeader(std::int64_t position) {
    TZASignatureScan& scan = Scan();
    const std::int64_t found = scan.Find(position, Signatures().LocalHeader);
    // A header needs its 30 bytes before the end of the stream (which the window mostly
    // shows without asking the stream).
    constexpr std::int64_t header = TLocalFileHeader::Size;
    if (found >= 0 && !scan.Kept(found, header) && ArcStream->Size() - found < header)
        return -1;
    return found;
}

bool TZADirManager::FindDataDescriptor(std::int64_t position, TDataDescriptor& descriptor) {
    TZASignatureScan& scan = Scan();
    // The next descriptor from a later position is the one already found while that one
    // lies at or after it, and none when none was found: many entries with the descriptor
    // flag and no descriptor do not read the rest of the file again each.
    std::int64_t found;
    if (descriptorFrom_ >= 0 && position >= descriptorFrom_ &&
        (descriptorAt_ < 0 || descriptorAt_ >= position)) {
        found = descriptorAt_;
    } else {
        found = scan.Find(position, DataDescriptorSignature);
        descriptorFrom_ = position;
        descriptorAt_ = found;
    }
    descriptor.Signature = 0;
    if (found < 0)
        return false;
    ArcStream->SetPosition(found);
    if (ArcStream->Size() - found >= static_cast<std::int64_t>(TDataDescriptor::Size)) {
        std::string bytes(TDataDescriptor::Size, '\0');
        ArcStream->ReadBuffer(bytes.data(), TDataDescriptor::Size);
        RecordReader r(bytes);
        descriptor = TDataDescriptor::Read(r);
    }
    return true;
}

void TZADirManager::RebuildDirFromLocalHeaders() {
    std::int64_t p = FindNextLocalHeader(0);
    if (p == -1)
        throw EZAException(zeInvalidArchive);
    const std::int64_t size = ArcStream->Size();
    // Where the data of the last entry taken end, as its header declares them: a signature
    // before that stands inside those data and is no header.
    std::int64_t covered = 0;
    while (p != -1) {
        const TLocalFileHeader local = LocalHeaderAt(p);

        // An entry whose data run past the end of the file is kept: it fails when it is read,
        // instead of vanishing from the directory.
        if (p >= covered && local.ExtraLength <= MaxLocalExtraLength) {
            const std::int32_t index = Directory.Count();
            Directory.SetCount(index + 1);
            TDirItem& entry = Directory.ItemPtr(index);
            TZACentralHeader& h = entry.CentralHeader;
            h = TZACentralHeader{};
            h.Signature = Signatures().CentralHeader;
            h.VersionMadeBy = local.VersionNeeded;
            h.VersionNeeded = local.VersionNeeded;
            h.Flags = local.Flags;
            h.Method = local.Method;
            h.Time = local.Time;
            h.Date = local.Date;
            h.Crc32 = local.Crc32;
            h.CompressedSize = local.CompressedSize;
            h.UncompressedSize = local.UncompressedSize;
            h.NameLength = local.NameLength;
            h.ExtraLength = local.ExtraLength;
            h.ExternalAttributes =
                local.UncompressedSize == 0 && (local.Flags & FlagDataDescriptor) == 0 ? faDirectory
                                                                                       : faArchive;
            h.LocalHeaderOffset = static_cast<std::uint32_t>(p);

            // Local headers may overlap, so a name is read only one byte past what the engine
            // holds: enough to know it is too long, which keeps the entry from extraction.
            // The local extra field after it may say how to read the name.
            const std::int64_t n = std::min<std::int64_t>(
                local.NameLength, static_cast<std::int64_t>(MaxStoredNameBytes) + 1);
            const std::int64_t nameAt = p + static_cast<std::int64_t>(TLocalFileHeader::Size);
            const std::int64_t extraAt = nameAt + local.NameLength;
            if (n != 0 && size - nameAt >= n) {
                std::string raw(static_cast<std::size_t>(n), '\0');
                ArcStream->SetPosition(nameAt);
                ArcStream->ReadBuffer(raw.data(), n);
                std::string extra;
                if (size - extraAt >= local.ExtraLength) {
                    extra.resize(local.ExtraLength);
                    ArcStream->SetPosition(extraAt);
                    ArcStream->ReadBuffer(extra.data(), local.ExtraLength);
                }
                std::vector<TZAExtraField> records = ParseExtraFields(extra);
                SetStoredName(entry, raw, h.VersionMadeBy, records);
                // The record that names the entry goes into the directory with it, so that
                // the entry keeps its name when the directory is written.
                for (TZAExtraField& record : records)
                    if (record.ID == UnicodePathExtraId)
                        entry.EditDetail().ExtraFields.push_back(std::move(record));
            }

            if (local.Flags & FlagDataDescriptor) {
                TDataDescriptor descriptor;
                // A descriptor too near the end to be read leaves the local values.
                if (FindDataDescriptor(p, descriptor) &&
                    descriptor.Signature == DataDescriptorSignature) {
                    h.Crc32 = descriptor.Crc32;
                    h.CompressedSize = descriptor.CompressedSize;
                    h.UncompressedSize = descriptor.UncompressedSize;
                }
            }
            entry.ResolveZip64();
            // The Zip64 marker says nothing about where the data end.
            if (h.CompressedSize != Zip64Marker32)
                covered = nameAt + std::int64_t{local.NameLength} + local.ExtraLength +
                          std::int64_t{h.CompressedSize};
        }
        p = FindNextLocalHeader(p + 4);
    }
}

} // namespace zip
