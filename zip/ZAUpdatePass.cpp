#include "zip/ZAUpdatePass.h"

#include "platform/TempFiles.h"
#include "platform/Volumes.h"
#include "vcl/SysUtils.h"
#include "zip/ZADirManager.h"
#include "zip/ZADirWriter.h"
#include "zip/ZAEntryWriter.h"
#include "zip/ZAExcept.h"
#include "zip/ZAStrFunc.h"
#include "zip/ZipArchiver.h"

#include <algorithm>
#include <system_error>

namespace zip {

namespace {

std::int64_t LocalOffsetOf(const TDirItem& e) {
    return static_cast<std::int64_t>(e.LocalHeaderOffset);
}

std::int64_t CompressedSizeOf(const TDirItem& e) {
    return static_cast<std::int64_t>(e.CompressedSize);
}

// The entry's local-header offset, with the marker and the Zip64 value when it needs them.
void SetLocalOffset(TDirItem& e, std::int64_t offset, bool always) {
    if (offset >= std::int64_t{Zip64Marker32} || always) {
        e.Zip64 = true;
        e.CentralHeader.LocalHeaderOffset = Zip64Marker32;
        e.Zip64LocalHeaderOffset = static_cast<std::uint64_t>(offset);
    } else {
        e.CentralHeader.LocalHeaderOffset = static_cast<std::uint32_t>(offset);
    }
    e.ResolveZip64();
}

bool KeepsData(TZAProcessOperation op) {
    return op == poRename || op == poChangeAttr || op == poChangeComment;
}

// Copies count bytes in bounded steps; a source that ends early raises the read error.
void CopyBytes(vcl::TStream& to, vcl::TStream& from, std::int64_t count) {
    if (count > 0)
        to.CopyFrom(from, count);
}

} // namespace

std::int32_t FindFirstChangedEntry(const TZADirArray& saved, const TZADirArray& live) {
    const std::int32_t n = std::min(saved.Count(), live.Count());
    auto& s = const_cast<TZADirArray&>(saved);
    auto& l = const_cast<TZADirArray&>(live);
    for (std::int32_t j = 0; j < n; ++j)
        if (s.ItemPtr(j).StoredName != l.ItemPtr(j).StoredName || l.ItemPtr(j).NewData)
            return j;
    return n;
}

TZAUpdatePass::TZAUpdatePass(TZABaseArchiver& owner, TZAProgressState& progress,
                             TZAVolumeState& volumes)
    : a_(owner), progress_(progress), volumes_(volumes), dir_(*owner.DirManager()) {
}

TZAUpdatePass::~TZAUpdatePass() {
    sourceFile_.reset();
    if (!keepTail_)
        DeleteTailFile();
}

bool TZAUpdatePass::Stopped() const {
    return progress_.Cancel || action_ == fxaAbort;
}

std::int64_t TZAUpdatePass::StartOffset(std::int32_t first) const {
    auto& saved = dir_.SavedDirectory;
    if (first < saved.Count())
        return LocalOffsetOf(saved.ItemPtr(first));
    if (saved.Count() == 0)
        return dir_.PrefixSize;
    // Where the old directory really begins. The end record's offset can leave out a
    // self-extractor prefix, and a rebuilt directory has no end record at all; cutting
    // there would cut into the entries.
    return dir_.DirStart;
}

void TZAUpdatePass::Run() {
    progress_.BeginRun();

    TZADirArray& live = dir_.Directory;
    TZADirArray& saved = dir_.SavedDirectory;
    std::int32_t firstNew = -1;
    for (std::int32_t i = 0; i < live.Count(); ++i)
        if (live.ItemPtr(i).NewData) {
            ++progress_.ProcessedFileCount;
            if (firstNew < 0)
                firstNew = i;
        }
    const std::int32_t first = FindFirstChangedEntry(saved, live);
    operation_ = firstNew >= 0 ? live.ItemPtr(firstNew).Operation : poDelete;

    a_.DoOverallProgress(0.0, operation_, ppStart, progress_.Cancel);
    if (progress_.Cancel)
        return;

    vcl::TStream* archive = a_.ArchiveStream();
    start_ = StartOffset(first);
    savedEnd_ = dir_.EndRecord;
    savedZip64End_ = dir_.Zip64EndRecord;
    savedLocator_ = dir_.Zip64Locator;
    savedDirStart_ = dir_.DirStart;
    savedIsZip64 = dir_.IsZip64;
    // Everything from the start offset on is kept aside, the old directory included, so that
    // a rollback gives back the very bytes the archive had.
    if (start_ < archive->Size())
        SaveArchiveTail();

    action_ = fxaIgnore;
    volumes_.Info.SetNumber(0);
    try {
        archive->SetSize(start_);
        touched_ = true;
        archive->SetPosition(start_);
        if (a_.SpanningMode() == smSpanning && IsFloppyDrive(a_.FileName()))
            staging_ = std::make_unique<vcl::TMemoryStream>();

        std::int32_t i = first;
        while (i < live.Count() && !progress_.Cancel) {
            bool ok = true;
            do {
                action_ = fxaIgnore;
                ok = true;
                TDirItem& e = live.ItemPtr(i);
                if (e.NewData && !KeepsData(e.Operation))
                    ok = AddFileToArchive(i);
                else
                    CopyEntry(i, false);
            } while (action_ == fxaRetry);
            if (Stopped())
                break;
            TDirItem& e = live.ItemPtr(i);
            if (ok) {
                if (e.NewData)
                    ++progress_.ProcessedFileNo;
                ++i;
            } else if (e.Operation == poAdd || !HasOldEntry(e)) {
                // A new entry that could not be written is left out; a moved-in file with no
                // old entry counts as new, so its source is then not deleted either.
                live.Delete(i);
            } else {
                CopyEntry(i, true);
                ++i;
            }
        }
        if (staging_) {
            if (!Stopped() && staging_->Size() > 0) {
                vcl::TStream* stream = a_.ArchiveStream();
                a_.WriteBufferToVolumes(staging_->Memory(),
                                        static_cast<std::int32_t>(staging_->Size()), stream,
                                        volumes_.Info, 0, nullptr);
            }
            staging_.reset();
        }
        if (!Stopped()) {
            a_.WriteCentralDir(a_.ArchiveStream());
            committed_ = true;
        }
    } catch (...) {
        staging_.reset();
        RollbackUpdate();
        throw;
    }

    if (!committed_) {
        RollbackUpdate();
        return;
    }
    // From here on the new archive holds everything: moved sources may already be gone, so a
    // later abort or cancel keeps it rather than bringing the old bytes back.
    DeleteTailFile();
    DeleteMovedSources();
    bool cancel = progress_.Cancel;
    a_.DoOverallProgress(100.0, operation_, ppEnd, cancel);
    Commit();
}

void TZAUpdatePass::Commit() {
    TZADirArray& live = dir_.Directory;
    for (std::int32_t i = 0; i < live.Count(); ++i) {
        TDirItem& e = live.ItemPtr(i);
        e.NewData = false;
        e.PrevStoredName.clear();
        e.ReleaseSourceStream();
    }
    if (a_.Options().FlushBuffers)
        if (auto* file = dynamic_cast<vcl::THandleStream*>(a_.ArchiveStream()))
            file->Flush();
}

void TZAUpdatePass::DeleteMovedSources() {
    TZADirArray& live = dir_.Directory;
    for (std::int32_t i = 0; i < live.Count() && action_ != fxaAbort; ++i) {
        TDirItem& e = live.ItemPtr(i);
        if (!e.NewData || e.Operation != poMove ||
            (e.CentralHeader.ExternalAttributes & faDirectory))
            continue;
        for (;;) {
            if (vcl::DeleteFile(e.SourceFileName))
                break;
            EZAException failure = EZAException::CreateFmt(27, {e.SourceFileName}, &a_);
            action_ = fxaIgnore;
            a_.DoProcessFileFailure(e.SourceFileName, poMove, failure.NativeError(),
                                    failure.ErrorCode(), failure.Message(), action_);
            if (action_ != fxaRetry)
                break;
        }
    }
}

void TZAUpdatePass::SaveArchiveTail() {
    tailName_ = a_.MakeTempFileName();
    tail_ = std::make_unique<vcl::TFileStream>(tailName_, vcl::fmCreate);
    vcl::TStream& archive = *a_.ArchiveStream();
    archive.SetPosition(start_);
    CopyBytes(*tail_, archive, archive.Size() - start_);
}

void TZAUpdatePass::RestoreArchiveTail() {
    vcl::TStream& archive = *a_.ArchiveStream();
    // Until the old bytes are back, the tail file is their only copy.
    keepTail_ = true;
    archive.SetSize(start_);
    archive.SetPosition(start_);
    tail_->SetPosition(0);
    CopyBytes(archive, *tail_, tail_->Size());
    keepTail_ = false;
    DeleteTailFile();
}

void TZAUpdatePass::DeleteTailFile() {
    tail_.reset();
    if (!tailName_.empty()) {
        vcl::DeleteFile(tailName_);
        tailName_.clear();
    }
}

void TZAUpdatePass::RollbackUpdate() {
    dir_.Directory.Assign(dir_.SavedDirectory);
    dir_.EndRecord = savedEnd_;
    dir_.Zip64EndRecord = savedZip64End_;
    dir_.Zip64Locator = savedLocator_;
    dir_.DirStart = savedDirStart_;
    dir_.IsZip64 = savedIsZip64;
    if (!a_.ArchiveStream())
        return;
    // An archive that could not even be cut (opened read-only, say) still holds its old bytes:
    // there is nothing to put back, and the tail copy is not needed.
    if (!touched_) {
        DeleteTailFile();
        return;
    }
    if (tail_) {
        RestoreArchiveTail();
        return;
    }
    a_.ArchiveStream()->SetSize(start_);
    a_.WriteCentralDir(a_.ArchiveStream());
}

bool TZAUpdatePass::HasOldEntry(const TDirItem& e) const {
    const std::string& name =
        e.NewData && e.Operation == poRename ? e.PrevStoredName : e.StoredName;
    auto& saved = dir_.SavedDirectory;
    for (std::int32_t j = 0; j < saved.Count(); ++j)
        if (saved.ItemPtr(j).StoredName == name)
            return true;
    return false;
}

void TZAUpdatePass::CopyEntry(std::int32_t i, bool keepOld) {
    TDirItem& e = dir_.Directory.ItemPtr(i);
    // A renamed entry is found by its old name: a saved entry that already bears the new
    // name is another entry.
    const bool rename = e.NewData && e.Operation == poRename && !keepOld;
    const std::string name = e.NewData && e.Operation == poRename ? e.PrevStoredName : e.StoredName;
    auto& saved = dir_.SavedDirectory;
    std::int32_t found = -1;
    for (std::int32_t j = 0; j < saved.Count() && found < 0; ++j)
        if (saved.ItemPtr(j).StoredName == name)
            found = j;
    if (found < 0)
        throw EZAException(7, &a_);
    const TDirItem& old = saved.ItemPtr(found);
    if (keepOld || e.Operation == poUpdate)
        e = old;
    if (!tail_)
        throw EZAException(7, &a_);

    const std::int64_t from = LocalOffsetOf(old) - start_;
    if (from < 0)
        throw EZAException(7, &a_); // only entries from the start offset on are in the tail
    vcl::TStream& archive = *a_.ArchiveStream();
    SetLocalOffset(e, archive.Position(), false);

    tail_->SetPosition(from);
    std::uint8_t raw[TLocalFileHeader::Size];
    tail_->ReadBuffer(raw, sizeof raw);
    RecordReader r(raw, sizeof raw);
    TLocalFileHeader local = TLocalFileHeader::Read(r);
    // An offset that does not lead to a local header (a damaged directory, or one that left
    // out a prefix) would copy foreign bytes as the entry.
    if (local.Signature != StandardSignatures.LocalHeader &&
        local.Signature != AlternateSignatures.LocalHeader)
        throw EZAException(35, &a_);
    const std::int64_t data = CompressedSizeOf(old);
    if (rename) {
        ChooseNameEncoding(e, a_.Options().OEMFileNames);
        local.Flags |= e.CentralHeader.Flags & FlagUtf8Names;
        const std::string bytes = EntryNameBytes(e, a_.Options().OEMFileNames);
        const std::uint16_t oldLength = local.NameLength;
        local.NameLength = static_cast<std::uint16_t>(std::min<std::size_t>(bytes.size(), 0xFFFF));
        RecordWriter w;
        local.Write(w);
        w.bytes(std::string_view(bytes).substr(0, local.NameLength));
        archive.WriteBuffer(w.data().data(), static_cast<std::int64_t>(w.size()));
        tail_->Seek(oldLength, vcl::TSeekOrigin::soCurrent);
    } else {
        archive.WriteBuffer(raw, sizeof raw);
        CopyBytes(archive, *tail_, local.NameLength);
    }
    CopyBytes(archive, *tail_, std::int64_t{local.ExtraLength} + data);
    // An entry written with a data descriptor keeps it: its local header holds no sizes.
    if (old.CentralHeader.Flags & FlagDataDescriptor) {
        const bool zip64 = old.CentralHeader.CompressedSize == Zip64Marker32 ||
                           old.CentralHeader.UncompressedSize == Zip64Marker32;
        std::int64_t length = zip64 ? 20 : 12;
        std::uint8_t sig[4] = {};
        const std::int64_t at = tail_->Position();
        if (tail_->Read(sig, 4) == 4 && RecordReader(sig, 4).u32() == DataDescriptorSignature)
            length += 4;
        tail_->SetPosition(at);
        length = std::min(length, tail_->Size() - at);
        CopyBytes(archive, *tail_, length);
    }
}

void TZAUpdatePass::ReleaseEntrySource(TDirItem& e, bool done) {
    if (e.SourceStream) {
        // An owned stream stays for a retry until the entry is finished with.
        if (done && e.OwnsStream)
            e.ReleaseSourceStream();
        else
            e.SourceStream->SetPosition(sourcePosition_);
    }
    sourceFile_.reset();
}

bool TZAUpdatePass::AddFileToArchive(std::int32_t i) {
    a_.UpdateCompressionMethod();
    TDirItem& e = dir_.Directory.ItemPtr(i);
    const std::string eventName =
        e.Operation == poAdd || e.Operation == poMove ? e.SourceFileName : e.StoredName;
    a_.DoFileProgress(eventName, 0.0, e.Operation, ppStart, progress_.Cancel);
    if (progress_.Cancel)
        return false;

    vcl::TStream& archive = *a_.ArchiveStream();
    const std::int64_t entryStart = archive.Position();
    try {
        e.Zip64 = false;
        vcl::TStream* source = nullptr;
        if (e.SourceStream) {
            sourcePosition_ = e.SourceStream->Position();
            e.SourceStream->SetPosition(e.SourceStart);
            source = e.SourceStream.get();
        } else if (!(e.CentralHeader.ExternalAttributes & faDirectory)) {
            try {
                sourceFile_ = std::make_unique<vcl::TFileStream>(
                    e.SourceFileName,
                    vcl::fmOpenRead | ShareModeToFileMode(a_.Options().ShareMode));
            } catch (const vcl::EStreamError&) {
                throw EZAException::CreateFmt(33, {e.SourceFileName}, &a_);
            }
            source = sourceFile_.get();
        }
        std::int64_t headerSize = 0;
        WriteEntry(e, source, headerSize);
        if (progress_.Cancel) {
            ReleaseEntrySource(e, false);
            return false;
        }
        ReleaseEntrySource(e, true);
        a_.DoFileProgress(eventName, 100.0, e.Operation, ppEnd, progress_.Cancel);
        if (copyCancel_) {
            action_ = fxaAbort;
            return false;
        }
        return true;
    } catch (const EZAException& failure) {
        ReleaseEntrySource(e, false);
        if (!a_.ArchiveStream()) {
            action_ = fxaAbort;
            return false;
        }
        // What the failed entry left in the archive goes, so a retry or the next entry
        // starts where this one did.
        if (a_.SpanningMode() == smNone) {
            a_.ArchiveStream()->SetSize(entryStart);
            a_.ArchiveStream()->SetPosition(entryStart);
        }
        a_.DoProcessFileFailure(e.Operation == poUpdate ? e.StoredName : e.SourceFileName,
                                e.Operation, failure.NativeError(), failure.ErrorCode(),
                                failure.Message(), action_);
        return false;
    } catch (...) {
        ReleaseEntrySource(e, false);
        throw;
    }
}

void TZAUpdatePass::WriteEntry(TDirItem& e, vcl::TStream* source, std::int64_t& headerSize) {
    const TZip64Mode mode = a_.Zip64Setting();
    const bool always = mode == zmAlways;
    const bool alternate = dir_.EndRecord.Signature == AlternateSignatures.EndOfCentralDir;
    const bool oem = a_.Options().OEMFileNames;
    TZACentralHeader& c = e.CentralHeader;
    const bool multiVolume = a_.SpanningMode() != smNone;
    vcl::TStream& archive = *a_.ArchiveStream();

    SetLocalOffset(e, archive.Position(), always);
    const std::int64_t sourceSize = source ? source->Size() : 0;
    if (source) {
        // The flag follows what the writer does: it encrypts exactly when there is a password.
        if (e.Password.empty())
            c.Flags &= static_cast<std::uint16_t>(~FlagEncrypted);
        else
            c.Flags |= FlagEncrypted;
    }
    ChooseNameEncoding(e, oem);

    TLocalFileHeader lh;
    lh.Signature = SignatureSetOf(dir_.EndRecord.Signature).LocalHeader;
    const std::uint16_t version =
        EntryVersion(e.Zip64 || sourceSize >= std::int64_t{Zip64Marker32}, oem, alternate);
    c.VersionNeeded = version;
    c.VersionMadeBy = version;
    lh.VersionNeeded = version;
    lh.Flags = c.Flags;
    lh.Method = c.Method;
    lh.Time = c.Time;
    lh.Date = c.Date;
    lh.Crc32 = c.Crc32;
    lh.CompressedSize = 0;
    if (source && (sourceSize >= std::int64_t{Zip64Marker32} || always)) {
        e.Zip64 = true;
        lh.UncompressedSize = Zip64Marker32;
    } else {
        lh.UncompressedSize = static_cast<std::uint32_t>(sourceSize);
    }
    const std::string name = EntryNameBytes(e, oem);
    lh.NameLength = static_cast<std::uint16_t>(std::min<std::size_t>(name.size(), 0xFFFF));
    lh.ExtraLength = 0;
    if (mode == zmDisabled && e.Zip64)
        throw EZAException::CreateFmt(43, {e.SourceFileName}, &a_);

    // In multi-volume mode the entry is made whole in a file of its own first, so that its
    // local header can be kept on one volume.
    std::string entryFileName;
    std::unique_ptr<vcl::TFileStream> entryFile;
    struct Remove {
        std::unique_ptr<vcl::TFileStream>& file;
        std::string& name;
        ~Remove() {
            file.reset();
            if (!name.empty())
                vcl::DeleteFile(name);
        }
    } remove{entryFile, entryFileName};
    if (multiVolume) {
        entryFileName = a_.MakeTempFileName();
        entryFile = std::make_unique<vcl::TFileStream>(entryFileName, vcl::fmCreate);
    }
    vcl::TStream& out = multiVolume ? *entryFile : archive;
    const std::int64_t headerAt = out.Position();

    RecordWriter w;
    lh.Write(w);
    w.bytes(std::string_view(name).substr(0, lh.NameLength));
    headerSize = static_cast<std::int64_t>(w.size());
    const bool localZip64 = lh.UncompressedSize == Zip64Marker32;
    if (localZip64) {
        lh.ExtraLength = 20;
        w.bytes(std::string(20, '\0')); // room for the Zip64 record once the sizes are known
        headerSize += 20;
    }
    out.WriteBuffer(w.data().data(), static_cast<std::int64_t>(w.size()));

    if (source && a_.CompressStream(*source, out, e)) {
        lh.Crc32 = c.Crc32;
        const std::int64_t compressed = CompressedSizeOf(e);
        // With a Zip64 record both local size fields defer to it, as readers require.
        lh.CompressedSize = c.CompressedSize == Zip64Marker32 || always || localZip64
                                ? Zip64Marker32
                                : c.CompressedSize;
        if (sourceSize == 0 && a_.ZipFormat())
            lh.Method = MethodStored;
        lh.Flags = c.Flags;
        const std::int64_t end = out.Position();
        out.SetPosition(headerAt);
        RecordWriter again;
        lh.Write(again);
        out.WriteBuffer(again.data().data(), static_cast<std::int64_t>(again.size()));
        out.Seek(lh.NameLength, vcl::TSeekOrigin::soCurrent);
        if (localZip64) {
            const std::string z64 = BuildLocalZip64Extra(static_cast<std::uint64_t>(sourceSize),
                                                         static_cast<std::uint64_t>(compressed));
            out.WriteBuffer(z64.data(), static_cast<std::int64_t>(z64.size()));
        }
        out.SetPosition(end);
    }
    if (progress_.Cancel)
        return;
    out.Seek(0, vcl::TSeekOrigin::soEnd);

    if (multiVolume) {
        entryFile->SetPosition(0);
        vcl::TStream* dest = a_.ArchiveStream();
        bool noCancel = false;
        a_.CopyToVolumes(*entryFile, dest, volumes_.Info, noCancel, headerSize, 0, staging_.get(),
                         false);
        const std::int32_t volume = volumes_.Info.Number;
        if (volume > 65534) {
            c.DiskNumberStart = Zip64Marker16;
            e.Zip64DiskNumberStart = volume;
        } else {
            c.DiskNumberStart = static_cast<std::uint16_t>(std::max(volume, 0));
        }
        e.ResolveZip64();
        const std::int64_t at =
            staging_ ? dest->Position() + staging_->Position() : dest->Position();
        SetLocalOffset(e, at - headerSize, always);
        a_.CopyToVolumes(*entryFile, dest, volumes_.Info, copyCancel_, -1, -1, staging_.get(),
                         true);
    }
}

std::string TZABaseArchiver::MakeTempFileName() {
    std::string folder = vcl::Trim(TempDir).empty() ? platform::TempPath() : TempDir;
    // The platform's temporary-file call takes a folder of at most 255 characters.
    if (folder.size() > 255)
        throw EZAException::CreateFmt(19, {folder}, this);
    try {
        return platform::CreateTempFile(folder, "FC");
    } catch (const std::system_error&) {
        throw EZAException::CreateFmt(19, {vcl::IncludeTrailingPathDelimiter(folder) + "FC"}, this);
    }
}

void TZABaseArchiver::ApplyUpdates() {
    if (FUpdateCounter <= 0)
        return;
    FUpdateCounter = 0;
    if (!FDirManager || !FArchiveStream)
        throw EZAException(13, this);
    if (FSpanningMode != smNone && FDirManager->SavedDirectory.Count() > 0)
        throw EZAException(52, this);
    TZAUpdatePass(*this, FProgress, FVolumes).Run();
}

} // namespace zip
