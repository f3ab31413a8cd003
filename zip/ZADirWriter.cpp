#include "zip/ZADirWriter.h"

#include "zip/ZADirManager.h"
#include "zip/ZAEngine.h"
#include "zip/ZAExcept.h"
#include "zip/ZANames.h"
#include "zip/ZARecords.h"

#include <algorithm>

namespace zip {

namespace {

// The most the directory keeps in memory before writing it out, on one volume.
constexpr std::int64_t StagingBlock = std::int64_t{1} << 20;

} // namespace

void TZADirWriter::Put(const std::string& bytes, vcl::TStream*& stream, std::int32_t keepTogether,
                       vcl::TStream* staging) {
    if (bytes.empty())
        return;
    engine_.WriteBufferToVolumes(bytes.data(), static_cast<std::int32_t>(bytes.size()), stream,
                                 engine_.Volumes.Info, keepTogether, staging);
    written_ += static_cast<std::int64_t>(bytes.size());
}

void TZADirWriter::PlaceHeader(vcl::TStream& stream, vcl::TStream& staging) {
    // The header went whole into one volume: the current one, behind what is staged for it.
    const std::int32_t volume = std::max(engine_.Volumes.Info.Number, 0);
    if (!firstPlaced_) {
        firstPlaced_ = true;
        firstVolume_ = volume;
        firstOffset_ =
            stream.Position() + staging.Size() - static_cast<std::int64_t>(TZACentralHeader::Size);
    }
    if (volume != lastHeaderVolume_) {
        lastHeaderVolume_ = volume;
        headersOnLastVolume_ = 0;
    }
    ++headersOnLastVolume_;
}

void TZADirWriter::Stage(std::string_view bytes, vcl::TMemoryStream& staging) {
    staging.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    written_ += static_cast<std::int64_t>(bytes.size());
}

void TZADirWriter::Flush(vcl::TStream*& stream, vcl::TMemoryStream& staging) {
    if (staging.Size() > 0)
        engine_.WriteBufferToVolumes(staging.Memory(), static_cast<std::int32_t>(staging.Size()),
                                     stream, engine_.Volumes.Info, 0, nullptr);
    staging.SetSize(0);
}

void TZADirWriter::WriteEntry(TDirItem& entry, vcl::TStream*& stream, vcl::TMemoryStream& staging) {
    TZACentralHeader& h = entry.CentralHeader;
    const std::string name = EntryNameBytes(entry, engine_.Options().OEMFileNames);
    const std::string extra = BuildCentralExtra(entry);
    // The fields follow what is written: a name converted to the OEM code page may have
    // fewer bytes than the stored text, and a comment field must not promise more than there is.
    h.NameLength = static_cast<std::uint16_t>(std::min<std::size_t>(name.size(), 0xFFFF));
    h.ExtraLength = static_cast<std::uint16_t>(std::min<std::size_t>(extra.size(), 0xFFFF));
    h.CommentLength = static_cast<std::uint16_t>(
        std::min<std::size_t>({h.CommentLength, entry.Detail().Comment.size(), 0xFFFF}));

    RecordWriter header;
    WriteCentralHeader(header, h);
    if (engine_.SpanningMode() == smNone) {
        Stage(header.data(), staging);
        PlaceHeader(*stream, staging);
        Stage(std::string_view(name).substr(0, h.NameLength), staging);
        Stage(std::string_view(extra).substr(0, h.ExtraLength), staging);
        Stage(std::string_view(entry.Detail().Comment).substr(0, h.CommentLength), staging);
        if (staging.Size() >= StagingBlock)
            Flush(stream, staging);
        return;
    }
    Put(header.data(), stream, h.NameLength + h.ExtraLength, &staging);
    PlaceHeader(*stream, staging);
    Put(name.substr(0, h.NameLength), stream, 0, &staging);

    Put(extra.substr(0, h.ExtraLength), stream, 0, &staging);
    Put(std::string(entry.Detail().Comment.View().substr(0, h.CommentLength)), stream, 0, &staging);
}

void TZADirWriter::Write(vcl::TStream* stream) {
    vcl::TStream* s = stream ? stream : engine_.ArchiveStream();
    if (!s)
        throw EZAException(zeWriteError, engine_.Component());
    const std::int64_t d = s->Seek(0, vcl::TSeekOrigin::soEnd);
    TEndOfCentralDir& end = dir_.EndRecord;
    dir_.DirStart = d;
    written_ = 0;
    firstPlaced_ = false;
    lastHeaderVolume_ = -1;
    headersOnLastVolume_ = 0;
    // Without entries the directory is empty where it would have begun.
    firstVolume_ = std::max(engine_.Volumes.Info.Number, 0);
    firstOffset_ = d;

    vcl::TMemoryStream staging;
    const std::int32_t count = dir_.Directory.Count();
    try {
        for (std::int32_t i = 0; i < count; ++i)
            WriteEntry(dir_.Directory.ItemPtr(i), s, staging);
    } catch (...) {
        try {
            Flush(s, staging);
        } catch (...) {
            // The first failure is the one to report.
        }
        throw;
    }
    Flush(s, staging);

    // Across volumes the stream position only tells where the last volume stands, so the size
    // is the bytes written, and the directory begins where its first header went, which may be
    // the next volume when it did not fit behind the entries' data.
    const std::int64_t size = written_;
    const std::int32_t lastVolume = std::max(engine_.Volumes.Info.Number, 0);
    // Entries whose header stands on the volume that holds the end record.
    const std::int32_t onLastVolume = lastHeaderVolume_ == lastVolume ? headersOnLastVolume_ : 0;
    const std::int32_t onDisk = lastVolume == firstVolume_ ? count : onLastVolume;
    end.CentralDirDisk = Field16(firstVolume_);
    end.EntriesOnDisk = Field16(onDisk);
    end.TotalEntries = Field16(count);
    end.CentralDirSize = Field32(size);
    end.CentralDirOffset = Field32(firstOffset_);
    end.CommentLength =
        static_cast<std::uint16_t>(std::min<std::size_t>(dir_.ArcComment.size(), 0xFFFF));
    end.DiskNumber = Field16(engine_.Volumes.Info.Number);

    const std::int64_t p = s->Position();
    dir_.IsZip64 = p >= std::int64_t{Zip64Marker32} || count >= 65535 ||
                   firstOffset_ >= std::int64_t{Zip64Marker32} ||
                   size >= std::int64_t{Zip64Marker32};
    if (dir_.IsZip64) {
        // The disk fields carry the real volume numbers, so that a multi-volume Zip64 archive
        // reads back; on one volume they are 0, 0 and 1.
        TZip64EndOfCentralDir& z = dir_.Zip64EndRecord;
        z = TZip64EndOfCentralDir{};
        z.DiskNumber = static_cast<std::uint32_t>(lastVolume);
        z.CentralDirDisk = static_cast<std::uint32_t>(firstVolume_);
        z.EntriesOnDisk = static_cast<std::uint64_t>(onDisk);
        z.TotalEntries = static_cast<std::uint64_t>(count);
        z.CentralDirSize = static_cast<std::uint64_t>(size);
        z.CentralDirOffset = static_cast<std::uint64_t>(firstOffset_);
        TZip64EndLocator& l = dir_.Zip64Locator;
        l = TZip64EndLocator{};
        l.Zip64EndDisk = static_cast<std::uint32_t>(lastVolume);
        l.Zip64EndOffset = static_cast<std::uint64_t>(p);
        l.TotalDisks = static_cast<std::uint32_t>(lastVolume) + 1;
        RecordWriter w;
        z.Write(w);
        l.Write(w);
        s->WriteBuffer(w.data().data(), static_cast<std::int64_t>(w.size()));
    }
    RecordWriter w;
    end.Write(w);
    w.bytes(std::string_view(dir_.ArcComment).substr(0, end.CommentLength));
    s->WriteBuffer(w.data().data(), static_cast<std::int64_t>(w.size()));

    FinishVolumes();
}

void TZADirWriter::FinishVolumes() {
    if (engine_.SpanningMode() == smNone || engine_.Volumes.CurrentVolumeName == engine_.FileName())
        return;
    engine_.FreeArchiveStream();
    std::string final = engine_.FileName();
    engine_.GetVolumeFileName(final, -1, false);
    if (final != engine_.Volumes.CurrentVolumeName) {
        vcl::DeleteFile(final);
        if (!vcl::RenameFile(engine_.Volumes.CurrentVolumeName, final))
            final = engine_.Volumes.CurrentVolumeName; // the set stays readable under the old name
    }
    engine_.ReplaceArchiveStream(
        std::make_unique<vcl::TFileStream>(final, vcl::fmOpenReadWrite | vcl::fmShareDenyNone));
    engine_.Volumes.CurrentVolumeName = final;
}

} // namespace zip
