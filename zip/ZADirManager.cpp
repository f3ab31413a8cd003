// Reading an existing central directory: the end record, the Zip64 records, the volume the
// directory starts on and every central header with its name, extra field and comment.
#include "zip/ZADirManager.h"

#include "zip/ZAEngine.h"
#include "zip/ZAExcept.h"
#include "zip/ZANames.h"
#include "zip/ZAReadAhead.h"

#include <algorithm>
#include <limits>

namespace zip {

namespace {

constexpr std::int64_t EndSearchWindow = 65600;

// count bytes at position; a range outside the stream fails as a read past its end would.
std::string ReadAt(vcl::TStream& stream, std::int64_t position, std::int64_t count) {
    if (position < 0 || count < 0 || count > stream.Size() - position)
        throw vcl::EReadError();
    std::string bytes(static_cast<std::size_t>(count), '\0');
    stream.SetPosition(position);
    stream.ReadBuffer(bytes.data(), count);
    return bytes;
}

// A 64-bit value read from an archive as a signed stream quantity; values past the signed
// range cannot name anything in a stream.
std::int64_t AsStreamValue(std::uint64_t v) {
    return v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
               ? std::numeric_limits<std::int64_t>::max()
               : static_cast<std::int64_t>(v);
}

// A volume number from the archive; past the largest one it stands for no volume there is.
std::int32_t AsVolumeNumber(std::uint64_t v) {
    return static_cast<std::int32_t>(std::min<std::uint64_t>(v, MaxVolumeNumber));
}

} // namespace

TZASignatureScan::TZASignatureScan(vcl::TStream& stream, std::int64_t windowSize)
    : stream_(stream), windowSize_(windowSize) {
}

std::int64_t TZASignatureScan::Find(std::int64_t from, std::uint32_t signature) {
    // Damaged archives may hold a signature every few bytes: a search the window answers
    // makes no system call.
    std::int64_t pos = std::max<std::int64_t>(from, 0);
    for (;;) {
        const std::int64_t end = start_ + static_cast<std::int64_t>(window_.size());
        if ((pos < start_ || pos + 4 > end) && !Load(pos))
            return -1;
        const std::size_t first = static_cast<std::size_t>(pos - start_);
        for (std::size_t k = first; k + 4 <= window_.size(); ++k)
            if (SignatureAt(&window_[k]) == signature)
                return start_ + static_cast<std::int64_t>(k);
        // A signature split across two windows is seen in the next one.
        pos = start_ + static_cast<std::int64_t>(window_.size()) - 3;
    }
}

bool TZASignatureScan::Load(std::int64_t position) {
    const std::int64_t size = stream_.Size();
    if (position > size - 4)
        return false;
    const std::int64_t saved = stream_.Position();
    const std::int64_t n = std::min(windowSize_, size - position);
    window_.resize(static_cast<std::size_t>(n));
    stream_.SetPosition(position);
    stream_.ReadBuffer(window_.data(), n);
    stream_.SetPosition(saved);
    start_ = position;
    return true;
}

const std::uint8_t* TZASignatureScan::Kept(std::int64_t position, std::int64_t count) const {
    if (position < start_ || count < 0 ||
        count > start_ + static_cast<std::int64_t>(window_.size()) - position)
        return nullptr;
    return window_.data() + (position - start_);
}

TZADirManager::TZADirManager(vcl::TStream* stream, TZAEngine* engine, bool isNewArchive)
    : IsNewArchive(isNewArchive), Engine(engine) {
    ArcStream = stream;
    IsForeignStream = engine && stream != engine->ArchiveStream();
    IsZip64 = false;
    PrefixSize = 0;
    ResetDirectory();
    if (IsNewArchive && engine) {
        engine->Volumes.Info.SetFirst(true);
        if (!engine->SFXStub().empty())
            PlaceSfxStub();
    }
}

bool TZADirManager::ZipFormat() const {
    return !Engine || Engine->ZipFormat();
}

bool TZADirManager::MultiVolume() const {
    return Engine && Engine->SpanningMode() != smNone;
}

bool TZADirManager::OemFileNames() const {
    return Engine && Engine->Options().OEMFileNames;
}

const TZASignatureSet& TZADirManager::Signatures() const {
    return ZipFormat() ? StandardSignatures : AlternateSignatures;
}

std::int32_t TZADirManager::LastVolume() const {
    // Some writers leave the number of disks 0 in a single-volume archive.
    return IsZip64 ? AsVolumeNumber(std::max<std::uint32_t>(Zip64Locator.TotalDisks, 1) - 1)
                   : std::int32_t{EndRecord.DiskNumber};
}

void TZADirManager::ResetDirectory() {
    Directory.SetCount(0);
    EndRecord = TEndOfCentralDir{};
    EndRecord.Signature = Signatures().EndOfCentralDir;
}

void TZADirManager::SaveForUpdate() {
    for (std::int32_t i = 0; i < Directory.Count(); ++i)
        Directory.ItemPtr(i).Origin = i;
    SavedDirectory.Assign(Directory);
}

bool TZADirManager::CheckEndRecord(std::int64_t position) {
    const std::int64_t saved = ArcStream->Position();
    bool ok = false;
    const std::int64_t size = ArcStream->Size();
    if (position >= 0 && size - position >= static_cast<std::int64_t>(TEndOfCentralDir::Size)) {
        std::string bytes = ReadAt(*ArcStream, position, TEndOfCentralDir::Size);
        RecordReader r(bytes);
        TEndOfCentralDir record = TEndOfCentralDir::Read(r);
        ok = size - position - static_cast<std::int64_t>(TEndOfCentralDir::Size) ==
             record.CommentLength;
    }
    ArcStream->SetPosition(saved);
    return ok;
}

bool TZADirManager::FindEndOfCentralDir(TEndOfCentralDir& record, std::int64_t& position,
                                        std::uint32_t signature) {
    position = -1;
    ArcComment.clear();
    record = TEndOfCentralDir{};
    record.Signature = 0;
    EndRecordPosition = -1;
    const std::int64_t size = ArcStream->Size();
    const std::int64_t window = std::min(size, EndSearchWindow);
    if (window < 4)
        return false;
    const std::int64_t base = size - window;
    std::string buffer = ReadAt(*ArcStream, base, window);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer.data());
    for (std::int64_t i = window - 1; i >= 3; --i) {
        const std::int64_t at = i - 3;
        if (SignatureAt(bytes + at) != signature)
            continue;
        // Only a record that ends exactly where its comment does is taken.
        const std::int64_t left = window - at - static_cast<std::int64_t>(TEndOfCentralDir::Size);
        if (left < 0)
            continue;
        RecordReader r(bytes + at, TEndOfCentralDir::Size);
        TEndOfCentralDir candidate = TEndOfCentralDir::Read(r);
        if (left != candidate.CommentLength)
            continue;
        record = candidate;
        position = base + at;
        EndRecordPosition = position;
        if (record.CommentLength != 0)
            ArcComment.assign(buffer, static_cast<std::size_t>(at) + TEndOfCentralDir::Size,
                              record.CommentLength);
        return true;
    }
    return false;
}

void TZADirManager::SwitchDirVolume(const TZAVolumeNumberInfo& volume) {
    if (IsForeignStream || !Engine)
        return;
    Engine->OpenVolume(volume);
    ArcStream = Engine->ArchiveStream();
}

void TZADirManager::SetStoredName(TDirItem& entry, std::string_view field,
                                  std::uint16_t versionMadeBy,
                                  const std::vector<TZAExtraField>& extra) const {
    if (IsPlainName(field) && !FindExtraField(extra, UnicodePathExtraId)) {
        // Nearly every name: read and written back the same whatever the flags and host say.
        entry.StoredName = field;
        entry.NameTooLong = field.size() > MaxStoredNameBytes;
        entry.DropNameField();
        return;
    }
    TZAStoredName name =
        DecodeStoredName(field, versionMadeBy, entry.CentralHeader.Flags, extra, OemFileNames());
    entry.StoredName = name.Name;
    entry.NameTooLong = name.TooLong;
    // Kept only where the writer would not give these bytes back from the name, which for
    // nearly every name it does.
    entry.DropNameField();
    if (EntryNameBytes(entry, OemFileNames()) != field)
        entry.KeepNameField(field);
}

TLocalFileHeader TZADirManager::LocalHeaderAt(std::int64_t position) {
    // A header the scan has just found mostly stands in the window it keeps.
    if (scan_ && scanStream_ == ArcStream)
        if (const std::uint8_t* kept = scan_->Kept(position, TLocalFileHeader::Size)) {
            RecordReader r(kept, TLocalFileHeader::Size);
            return TLocalFileHeader::Read(r);
        }
    const std::string bytes = ReadAt(*ArcStream, position, TLocalFileHeader::Size);
    RecordReader r(bytes);
    return TLocalFileHeader::Read(r);
}

void TZADirManager::ReadEntry(TDirItem& entry, TZAReadAhead& records) {
    const std::string_view fixed = records.Take(TZACentralHeader::Size);
    RecordReader fr(fixed);
    entry.CentralHeader = ReadCentralHeader(fr);
    const TZACentralHeader& h = entry.CentralHeader;

    // The rest of the record in one view. The extra field may say how to read the name, so
    // the name waits for it.
    const std::string_view rest =
        records.Take(std::int64_t{h.NameLength} + h.ExtraLength + h.CommentLength);
    const std::string_view name = rest.substr(0, h.NameLength);
    ReadCentralExtra(entry, rest.substr(h.NameLength, h.ExtraLength));
    SetStoredName(entry, name, h.VersionMadeBy, entry.Detail().ExtraFields);
    entry.SetComment(rest.substr(std::size_t{h.NameLength} + h.ExtraLength));
}

void TZADirManager::ReadCentralDir() {
    TZAVolumeNumberInfo volume;
    ResetDirectory();
    PrefixSize = 0;

    TEndOfCentralDir found;
    std::int64_t e = -1;
    bool haveEnd;
    if (ZipFormat()) {
        haveEnd = FindEndOfCentralDir(found, e, StandardSignatures.EndOfCentralDir);
    } else {
        haveEnd = FindEndOfCentralDir(found, e, AlternateSignatures.EndOfCentralDir) ||
                  FindEndOfCentralDir(found, e, StandardSignatures.EndOfCentralDir);
    }
    if (!haveEnd) {
        if (MultiVolume())
            throw EZAException(zeVolumeSetInvalid);
        RebuildDirFromLocalHeaders();
        DirStart = ArcStream->Size();
        return;
    }
    EndRecord = found;

    IsZip64 = false;
    if (e > static_cast<std::int64_t>(TZip64EndLocator::Size)) {
        std::string bytes =
            ReadAt(*ArcStream, e - std::int64_t{TZip64EndLocator::Size}, TZip64EndLocator::Size);
        RecordReader r(bytes);
        Zip64Locator = TZip64EndLocator::Read(r);
        if (Zip64Locator.Signature == Zip64EndLocatorSignature) {
            IsZip64 = true;
            e -= std::int64_t{TZip64EndLocator::Size};
        }
    }
    if (IsZip64) {
        if (e <= static_cast<std::int64_t>(TZip64EndOfCentralDir::Size))
            throw EZAException(zeNoZip64EndRecord);
        auto readZip64End = [&](std::int64_t at) {
            if (at < 0 || at > ArcStream->Size() - std::int64_t{TZip64EndOfCentralDir::Size})
                return false;
            std::string bytes = ReadAt(*ArcStream, at, TZip64EndOfCentralDir::Size);
            RecordReader r(bytes);
            Zip64EndRecord = TZip64EndOfCentralDir::Read(r);
            return Zip64EndRecord.Signature == Zip64EndOfCentralDirSignature;
        };
        // A prefix in front of the archive moves the record away from the offset written
        // for it; it then still stands right before the locator.
        if (!readZip64End(AsStreamValue(Zip64Locator.Zip64EndOffset)) &&
            !readZip64End(e - std::int64_t{TZip64EndOfCentralDir::Size}))
            throw EZAException(zeNoZip64EndRecord);
        e -= std::int64_t{TZip64EndOfCentralDir::Size};
    }

    std::int32_t firstVolume;
    std::int32_t lastVolume;
    if (IsZip64) {
        firstVolume = AsVolumeNumber(Zip64EndRecord.CentralDirDisk);
        lastVolume = LastVolume();
    } else {
        if (EndRecord.CentralDirDisk == Zip64Marker16)
            EndRecord.CentralDirDisk = 0;
        if (EndRecord.DiskNumber == Zip64Marker16)
            EndRecord.DiskNumber = 0;
        firstVolume = EndRecord.CentralDirDisk;
        lastVolume = EndRecord.DiskNumber;
    }
    volume.LastNumber = lastVolume;
    volume.SetNumber(firstVolume);
    const bool multiVolume = MultiVolume();
    if (multiVolume) {
        // The directory cannot start on a volume after the last one.
        if (firstVolume > lastVolume)
            throw EZAException(zeVolumeSetInvalid);
        SwitchDirVolume(volume);
    }

    std::int64_t dirPos;
    std::uint64_t count;
    if (IsZip64) {
        dirPos = multiVolume ? AsStreamValue(Zip64EndRecord.CentralDirOffset)
                             : e - AsStreamValue(Zip64EndRecord.CentralDirSize);
        count = Zip64EndRecord.TotalEntries & 0xFFFFFFFFu;
    } else {
        dirPos = multiVolume ? std::int64_t{EndRecord.CentralDirOffset}
                             : e - std::int64_t{EndRecord.CentralDirSize};
        count = EndRecord.TotalEntries;
    }
    if (dirPos < 0 || dirPos > ArcStream->Size())
        throw vcl::EReadError();
    ArcStream->SetPosition(dirPos);

    // No central header is shorter than 46 bytes, so a count the stream cannot hold is
    // refused before anything is allocated; across volumes the slots grow as entries come.
    if (count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) ||
        (!multiVolume &&
         count > static_cast<std::uint64_t>(TZADirArray::MaxEntriesIn(ArcStream->Size() - dirPos))))
        throw vcl::EReadError();
    const auto entries = static_cast<std::int32_t>(count);
    if (!multiVolume)
        Directory.SetCount(entries);

    auto records = std::make_unique<TZAReadAhead>(*ArcStream, dirPos);
    for (std::int32_t k = 0; k < entries; ++k) {
        if (multiVolume) {
            if (records->Remaining() < static_cast<std::int64_t>(TZACentralHeader::Size)) {
                // More entries than the volumes hold: no volume after the last to ask for.
                if (volume.Number >= lastVolume)
                    throw vcl::EReadError();
                records->Settle();
                volume.SetNumber(volume.Number + 1);
                SwitchDirVolume(volume);
                records = std::make_unique<TZAReadAhead>(*ArcStream, ArcStream->Position());
            }
            Directory.SetCount(k + 1);
        }
        if (k == 0)
            DirStart = records->Position();
        ReadEntry(Directory.ItemPtr(k), *records);
    }
    records->Settle();

    if (lastVolume == 0) {
        DetectPrefixSize(e);
        // A directory that stands where the end record says has offsets counted from the
        // start of the file, prefix or not: a local header found elsewhere that happens to
        // agree with the first entry (a copy of it, a stored archive inside an entry) must
        // not move them all.
        const std::int64_t recorded = IsZip64 ? AsStreamValue(Zip64EndRecord.CentralDirOffset)
                                              : std::int64_t{EndRecord.CentralDirOffset};
        if (dirPos != recorded && !PrefixIncluded())
            ShiftOffsetsByPrefix();
    }
}

} // namespace zip
