// Data in front of the archive proper, typically a self-extractor program: placing a stub
// in front of a new archive, and measuring the prefix of an existing one so that offsets
// written without it can be corrected.
#include "zip/ZADirManager.h"

#include "zip/ZAEngine.h"
#include "zip/ZAExcept.h"

#include <algorithm>

namespace zip {

void TZADirManager::PlaceSfxStub() {
    vcl::TFileStream stub(Engine->SFXStub(), vcl::fmOpenRead | vcl::fmShareDenyNone);
    const std::int64_t stubSize = stub.Size();
    if (Engine->SpanningMode() != smNone) {
        TZAVolumeNumberInfo first;
        first.SetFirst(true);
        const std::int64_t limit = Engine->SpanningOptions().GetVolumeSize(first);
        if (limit != -1 && limit < stubSize)
            throw EZAException(zeStubExceedsVolume, Engine->Component());
    }
    ArcStream->SetSize(0);
    ArcStream->SetPosition(0);
    if (stubSize > 0)
        ArcStream->CopyFrom(stub, 0);
    PrefixSize = stubSize;
}

bool TZADirManager::FindSignatureForward(vcl::TStream& stream, std::int64_t& position,
                                         std::uint32_t signature) {
    std::int64_t found;
    if (&stream == ArcStream) {
        found = Scan().Find(position, signature);
    } else {
        TZASignatureScan scan(stream, 10000);
        found = scan.Find(position, signature);
    }
    if (found < 0)
        return false;
    position = found;
    return true;
}

bool TZADirManager::MatchFirstLocalHeader(std::int64_t position) {
    const std::int64_t saved = ArcStream->Position();
    bool match = false;
    const std::int64_t size = ArcStream->Size();
    if (position >= 0 && size - position >= static_cast<std::int64_t>(TLocalFileHeader::Size)) {
        const TLocalFileHeader local = LocalHeaderAt(position);
        const TDirItem& first = Directory.ItemPtr(0);
        const TZACentralHeader& h = first.CentralHeader;
        const std::int64_t nameEnd =
            position + static_cast<std::int64_t>(TLocalFileHeader::Size) + local.NameLength;
        std::uint64_t localUnpacked = local.UncompressedSize;
        std::uint64_t localPacked = local.CompressedSize;
        // Writers that stream Zip64 entries put the sizes into the local Zip64 field and
        // markers into the header; those values are the ones to compare.
        if ((localUnpacked == Zip64Marker32 || localPacked == Zip64Marker32) && nameEnd <= size &&
            size - nameEnd >= local.ExtraLength) {
            ArcStream->SetPosition(nameEnd);
            std::string extra(local.ExtraLength, '\0');
            ArcStream->ReadBuffer(extra.data(), local.ExtraLength);
            const auto fields = ParseExtraFields(extra);
            if (const TZAExtraField* field = FindExtraField(fields, Zip64ExtraId)) {
                const TZip64Values v = ReadLocalZip64(*field, local);
                localUnpacked = v.UncompressedSize.value_or(localUnpacked);
                localPacked = v.CompressedSize.value_or(localPacked);
            }
        }
        // A header followed by a data descriptor need not hold the CRC and the sizes (most
        // such writers leave zeros there): only the fields it must hold are compared, else
        // the entry's own header is passed over and a later one that happens to agree is
        // taken for it, and every offset is shifted by the difference.
        const bool described = (local.Flags & FlagDataDescriptor) != 0;
        match = nameEnd <= size &&
                (local.Signature == StandardSignatures.LocalHeader ||
                 local.Signature == AlternateSignatures.LocalHeader) &&
                local.VersionNeeded == h.VersionNeeded && local.Method == h.Method &&
                local.Time == h.Time && local.Date == h.Date &&
                (described || (local.Crc32 == h.Crc32 && localPacked == first.CompressedSize &&
                               localUnpacked == first.UncompressedSize));
    }
    ArcStream->SetPosition(saved);
    return match;
}

void TZADirManager::DetectPrefixSize(std::int64_t endPosition) {
    if (EndRecord.TotalEntries == 0) {
        PrefixSize = endPosition;
        return;
    }
    if (Directory.Count() == 0)
        return;
    const std::uint32_t signature = Signatures().LocalHeader;
    const TDirItem& first = Directory.ItemPtr(0);
    std::int64_t s = first.LocalHeaderOffset > static_cast<std::uint64_t>(ArcStream->Size())
                         ? ArcStream->Size()
                         : static_cast<std::int64_t>(first.LocalHeaderOffset);
    // Every local header stands before the central directory: searching on past it would
    // only test the signatures inside the directory and after it.
    const std::int64_t limit = std::min(ArcStream->Size(), DirStart > 0 ? DirStart : endPosition);
    while (s < limit) {
        std::int64_t f = s;
        if (!FindSignatureForward(*ArcStream, f, signature) || f >= limit)
            return;
        if (MatchFirstLocalHeader(f)) {
            PrefixSize = f;
            return;
        }
        s = f + 1;
    }
}

bool TZADirManager::PrefixIncluded() {
    for (std::int32_t i = 0; i < Directory.Count(); ++i) {
        const TDirItem& entry = Directory.ItemPtr(i);
        if (entry.CompressedSize != 0)
            return entry.LocalHeaderOffset >= static_cast<std::uint64_t>(PrefixSize);
    }
    return true;
}

void TZADirManager::ShiftOffsetsByPrefix() {
    const auto prefix = static_cast<std::uint32_t>(PrefixSize);
    for (std::int32_t i = 0; i < Directory.Count(); ++i) {
        TDirItem& entry = Directory.ItemPtr(i);
        TZACentralHeader& h = entry.CentralHeader;
        // Folder entries too: they have no data to read, but an update copies their local
        // headers from where the offsets say.
        // The marker stays: the real offset is the Zip64 value, which takes the prefix.
        if (h.LocalHeaderOffset == Zip64Marker32)
            entry.LocalHeaderOffset += static_cast<std::uint64_t>(PrefixSize);
        else
            h.LocalHeaderOffset += prefix;
        entry.ResolveZip64();
    }
}

} // namespace zip
