#include "zip/ZAUpdatePass.h"

#include "platform/TempFiles.h"
#include "platform/Volumes.h"
#include "vcl/SysUtils.h"
#include "zip/ZADirManager.h"
#include "zip/ZADirWriter.h"
#include "zip/ZAEngine.h"
#include "zip/ZAEntryWriter.h"
#include "zip/ZAExcept.h"
#include "zip/ZANames.h"
#include "zip/ZARecords.h"
#include "zip/ZASiblingFile.h"
#include "zip/ZAStrFunc.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
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
    e.CentralHeader.LocalHeaderOffset = always ? Zip64Marker32 : Field32(offset);
    if (e.CentralHeader.LocalHeaderOffset == Zip64Marker32) {
        e.Zip64 = true;
        e.LocalHeaderOffset = static_cast<std::uint64_t>(offset);
    }
    e.ResolveZip64();
}

// Entries up to this size are written in one piece.
constexpr std::int64_t SmallEntryBytes = std::int64_t{1} << 20;
// Old entries from this size on are copied file to file.
constexpr std::int64_t FileCopyBytes = std::int64_t{1} << 20;

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
    // An entry taken out moves the next one, maybe of the same name, into its place: the
    // link to the saved copy tells them apart.
    for (std::int32_t j = 0; j < n; ++j) {
        const TDirItem& e = l.ItemPtr(j);
        if (e.Origin != j || e.StoredName != s.ItemPtr(j).StoredName || e.NewData)
            return j;
    }
    return n;
}

TZAUpdatePass::TZAUpdatePass(TZAEngine& engine)
    : a_(engine), progress_(engine.Progress), volumes_(engine.Volumes), dir_(*engine.DirManager()) {
}

TZAUpdatePass::~TZAUpdatePass() {
    sourceFile_.reset();
}

bool TZAUpdatePass::Stopped() const {
    return progress_.Cancel || action_ == fxaAbort;
}

std::int64_t TZAUpdatePass::HeadEnd(std::int32_t& first) const {
    auto& saved = dir_.SavedDirectory;
    if (saved.Count() == 0)
        return dir_.PrefixSize;
    // The entries before first stay where they are, so they must all lie before the head's
    // end: the directory's order need not be the file's, and an unchanged entry that stands
    // after a changed one in the file is copied like the ones after it.
    for (;;) {
        // Where the old directory really begins. The end record's offset can leave out a
        // self-extractor prefix, and a rebuilt directory has no end record at all.
        std::int64_t head = dir_.DirStart;
        for (std::int32_t j = first; j < saved.Count(); ++j)
            head = std::min(head, LocalOffsetOf(saved.ItemPtr(j)));
        std::int32_t earlier = first;
        for (std::int32_t j = 0; j < first && earlier == first; ++j)
            if (LocalOffsetOf(saved.ItemPtr(j)) >= head)
                earlier = j;
        if (earlier == first)
            return head;
        first = earlier;
    }
}

EZAException TZAUpdatePass::WriteFailure(const std::string& detail) const {
    EZAException failure(zeWriteError, a_.Component());
    failure.WithCause(detail);
    return failure;
}

std::string TZAUpdatePass::FailureCause(const std::exception& e) const {
    if (target_ && target_->Error() != 0)
        return std::strerror(target_->Error());
    return e.what();
}

bool TZAUpdatePass::DiskFullRetry() {
    if (!target_ || target_->Error() != ENOSPC)
        return false;
    target_->ClearError();
    bool cancel = false;
    a_.DoDiskFull(0, a_.FileName(), cancel);
    return !cancel;
}

void TZAUpdatePass::CopyHead() {
    vcl::TStream& archive = *a_.ArchiveStream();
    if (direct_) {
        // A new multi-volume set holds nothing yet that could be lost.
        archive.SetSize(start_);
        touched_ = true;
        archive.SetPosition(start_);
        return;
    }
    std::unique_ptr<vcl::TStream> target;
    auto* file = dynamic_cast<vcl::THandleStream*>(&archive);
    if (file && !a_.InMemory()) {
        try {
            target_ = new TZASiblingFile(a_.FileName(), file->Handle());
        } catch (const std::system_error& e) {
            EZAException failure =
                EZAException::CreateFmt(zeCannotCreateFile, {a_.FileName()}, a_.Component());
            throw failure.WithCause(std::strerror(e.code().value()));
        }
        target.reset(target_);
        while (!target_->CopyHead(file->Handle(), start_))
            if (!DiskFullRetry())
                throw WriteFailure(std::strerror(target_->Error()));
    } else {
        target = std::make_unique<vcl::TMemoryStream>();
        archive.SetPosition(0);
        CopyBytes(*target, archive, start_);
    }
    target->SetPosition(start_);
    old_ = a_.SwapArchiveStream(std::move(target));
    touched_ = true;
}

void TZAUpdatePass::PublishTarget() {
    if (direct_ || !old_)
        return;
    if (target_) {
        try {
            target_->Publish();
        } catch (const std::system_error& e) {
            throw WriteFailure(std::strerror(e.code().value()));
        }
    }
    // The new archive is in place; the old one goes with its stream.
    old_.reset();
    target_ = nullptr;
}

template <class Step> void TZAUpdatePass::Retrying(Step step) {
    vcl::TStream& out = *a_.ArchiveStream();
    const std::int64_t at = out.Position();
    for (;;) {
        try {
            step();
            return;
        } catch (const vcl::EStreamError& e) {
            const std::string cause = FailureCause(e);
            if (!DiskFullRetry())
                throw WriteFailure(cause);
            out.SetSize(at);
            out.SetPosition(at);
        }
    }
}

std::int32_t TZAUpdatePass::CountChanges() {
    TZADirArray& live = dir_.Directory;
    std::int32_t firstNew = -1;
    for (std::int32_t i = 0; i < live.Count(); ++i)
        if (live.ItemPtr(i).NewData) {
            ++progress_.ProcessedFileCount;
            if (firstNew < 0)
                firstNew = i;
        }
    operation_ = firstNew >= 0 ? live.ItemPtr(firstNew).Operation : poDelete;
    return FindFirstChangedEntry(dir_.SavedDirectory, live);
}

void TZAUpdatePass::SaveDirectoryRecords() {
    savedEnd_ = dir_.EndRecord;
    savedZip64End_ = dir_.Zip64EndRecord;
    savedLocator_ = dir_.Zip64Locator;
    savedDirStart_ = dir_.DirStart;
    savedIsZip64 = dir_.IsZip64;
}

void TZAUpdatePass::RewriteEntries(std::int32_t first) {
    TZADirArray& live = dir_.Directory;
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
                Retrying([&] { CopyEntry(i, false); });
        } while (action_ == fxaRetry);
        if (Stopped())
            break;
        TDirItem& e = live.ItemPtr(i);
        if (ok) {
            if (e.NewData)
                ++progress_.ProcessedFileNo;
            ++i;
        } else if (!HasOldEntry(e)) {
            // A new entry that could not be written is left out; a moved-in file with no old
            // entry counts as new, so its source is then not deleted either.
            live.Delete(i);
        } else {
            // Ignored: the entry stays as it was, whatever name its change would have given it.
            Retrying([&] { CopyEntry(i, true); });
            ++i;
        }
    }
    if (staging_) {
        if (!Stopped() && staging_->Size() > 0) {
            vcl::TStream* stream = a_.ArchiveStream();
            a_.WriteBufferToVolumes(staging_->Memory(), static_cast<std::int32_t>(staging_->Size()),
                                    stream, volumes_.Info, 0, nullptr);
        }
        staging_.reset();
    }
}

void TZAUpdatePass::WriteDirectory() {
    Retrying([&] { a_.WriteCentralDir(a_.ArchiveStream()); });
    PublishTarget();
    committed_ = true;
}

void TZAUpdatePass::Run() {
    progress_.BeginRun();
    std::int32_t first = CountChanges();
    a_.DoOverallProgress(0.0, operation_, ppStart, progress_.Cancel);
    if (progress_.Cancel)
        return;

    direct_ = a_.SpanningMode() != smNone;
    start_ = HeadEnd(first);
    SaveDirectoryRecords();
    action_ = fxaIgnore;
    volumes_.Info.SetNumber(0);
    try {
        CopyHead();
        if (a_.SpanningMode() == smSpanning && IsFloppyDrive(a_.FileName()))
            staging_ = std::make_unique<vcl::TMemoryStream>();
        RewriteEntries(first);
        if (!Stopped())
            WriteDirectory();
    } catch (...) {
        staging_.reset();
        RollbackUpdate();
        throw;
    }
    if (!committed_) {
        RollbackUpdate();
        return;
    }
    Commit();
}

void TZAUpdatePass::Commit() {
    // From here on the new archive holds everything: moved sources may already be gone, so a
    // later abort or cancel keeps it.
    DeleteMovedSources();
    bool cancel = progress_.Cancel;
    a_.DoOverallProgress(100.0, operation_, ppEnd, cancel);
    TZADirArray& live = dir_.Directory;
    for (std::int32_t i = 0; i < live.Count(); ++i) {
        TDirItem& e = live.ItemPtr(i);
        e.NewData = false;
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
            if (vcl::DeleteFile(e.Source().SourceFileName))
                break;
            EZAException failure = EZAException::CreateFmt(
                zeCannotDeleteFile, {e.Source().SourceFileName}, a_.Component());
            action_ = fxaIgnore;
            a_.DoProcessFileFailure(e.Source().SourceFileName, poMove, failure.NativeError(),
                                    failure.ErrorCode(), failure.Message(), action_);
            if (action_ != fxaRetry)
                break;
        }
    }
}

void TZAUpdatePass::RollbackUpdate() {
    dir_.Directory.Assign(dir_.SavedDirectory);
    dir_.EndRecord = savedEnd_;
    dir_.Zip64EndRecord = savedZip64End_;
    dir_.Zip64Locator = savedLocator_;
    dir_.DirStart = savedDirStart_;
    dir_.IsZip64 = savedIsZip64;
    if (old_) {
        // The old archive was never touched: it only comes back as the archive stream, and
        // the new one goes (an unnamed file with its descriptor, a hidden one by its name).
        a_.SwapArchiveStream(std::move(old_)).reset();
        target_ = nullptr;
        return;
    }
    if (!direct_ || !touched_ || !a_.ArchiveStream())
        return;
    a_.ArchiveStream()->SetSize(start_);
    a_.WriteCentralDir(a_.ArchiveStream());
}

std::int32_t TZAUpdatePass::OldEntryOf(const TDirItem& e) const {
    return e.Origin >= 0 && e.Origin < dir_.SavedDirectory.Count() ? e.Origin : -1;
}

bool TZAUpdatePass::HasOldEntry(const TDirItem& e) const {
    // A file added under a name that was already stored replaced that entry.
    return e.Operation != poAdd && OldEntryOf(e) >= 0;
}

void TZAUpdatePass::CopyEntry(std::int32_t i, bool keepOld) {
    TDirItem& e = dir_.Directory.ItemPtr(i);
    const bool rename = e.NewData && e.Operation == poRename && !keepOld;
    const std::int32_t found = OldEntryOf(e);
    if (found < 0 || !old_)
        throw EZAException(zeNoOldEntry, a_.Component());
    const TDirItem& old = dir_.SavedDirectory.ItemPtr(found);
    if (keepOld || e.Operation == poUpdate)
        e = old;

    vcl::TStream& archive = *a_.ArchiveStream();
    vcl::TStream& from = *old_;
    SetLocalOffset(e, archive.Position(), false);

    from.SetPosition(LocalOffsetOf(old));
    std::uint8_t raw[TLocalFileHeader::Size];
    from.ReadBuffer(raw, sizeof raw);
    RecordReader r(raw, sizeof raw);
    TLocalFileHeader local = TLocalFileHeader::Read(r);
    // An offset that does not lead to a local header (a damaged directory, or one that left
    // out a prefix) would copy foreign bytes as the entry.
    if (local.Signature != StandardSignatures.LocalHeader &&
        local.Signature != AlternateSignatures.LocalHeader)
        throw EZAException(zeInvalidArchive, a_.Component());
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
        from.Seek(oldLength, vcl::TSeekOrigin::soCurrent);
    } else {
        archive.WriteBuffer(raw, sizeof raw);
        CopyBytes(archive, from, local.NameLength);
    }
    // The local extra field tells whether a data descriptor carries 8-byte sizes.
    std::string extra(local.ExtraLength, '\0');
    if (!extra.empty())
        from.ReadBuffer(extra.data(), static_cast<std::int64_t>(extra.size()));
    archive.WriteBuffer(extra.data(), static_cast<std::int64_t>(extra.size()));
    CopyOldData(archive, data);
    // An entry written with a data descriptor keeps it: its local header holds no sizes.
    if (old.CentralHeader.Flags & FlagDataDescriptor) {
        const std::int64_t at = from.Position();
        char d[24] = {};
        const std::int64_t got = std::max<std::int64_t>(from.Read(d, sizeof d), 0);
        from.SetPosition(at);
        const std::size_t length =
            DataDescriptorLength(std::string_view(d, static_cast<std::size_t>(got)), old,
                                 HasExtraField(extra, Zip64ExtraId));
        CopyBytes(archive, from, static_cast<std::int64_t>(length));
    }
}

void TZAUpdatePass::CopyOldData(vcl::TStream& archive, std::int64_t count) {
    auto* old = dynamic_cast<vcl::THandleStream*>(old_.get());
    // A small entry costs fewer calls through the streams than a copy set up for it.
    if (!old || !target_ || &archive != static_cast<vcl::TStream*>(target_) ||
        count < FileCopyBytes) {
        CopyBytes(archive, *old_, count);
        return;
    }
    if (!target_->Copy(old->Handle(), old->Position(), count)) {
        if (target_->Error() != 0)
            throw vcl::EWriteError();
        throw vcl::EReadError(); // the old archive ended inside the entry
    }
    old->Seek(count, vcl::TSeekOrigin::soCurrent);
}

void TZAUpdatePass::ReleaseEntrySource(TDirItem& e, bool done) {
    if (const TDirItemSource& from = e.Source(); from.SourceStream) {
        // An owned stream stays for a retry until the entry is finished with.
        if (done && from.OwnsStream)
            e.ReleaseSourceStream();
        else
            from.SourceStream->SetPosition(sourcePosition_);
    }
    sourceFile_.reset();
}

bool TZAUpdatePass::AddFileToArchive(std::int32_t i) {
    a_.UpdateCompressionMethod();
    TDirItem& e = dir_.Directory.ItemPtr(i);
    const TDirItemSource& from = e.Source();
    const std::string eventName =
        e.Operation == poAdd || e.Operation == poMove ? from.SourceFileName : e.StoredName.str();
    a_.DoFileProgress(eventName, 0.0, e.Operation, ppStart, progress_.Cancel);
    if (progress_.Cancel)
        return false;

    vcl::TStream& archive = *a_.ArchiveStream();
    const std::int64_t entryStart = archive.Position();
    try {
        e.Zip64 = false;
        vcl::TStream* source = nullptr;
        if (from.SourceStream) {
            sourcePosition_ = from.SourceStream->Position();
            from.SourceStream->SetPosition(from.SourceStart);
            source = from.SourceStream.get();
        } else if (!(e.CentralHeader.ExternalAttributes & faDirectory)) {
            try {
                sourceFile_ = std::make_unique<vcl::TFileStream>(
                    from.SourceFileName,
                    vcl::fmOpenRead | ShareModeToFileMode(a_.Options().ShareMode));
            } catch (const vcl::EStreamError&) {
                const int error = errno;
                EZAException failure = EZAException::CreateFmt(
                    zeCannotOpenFile, {from.SourceFileName}, a_.Component());
                throw failure.WithCause(std::strerror(error));
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
    } catch (...) {
        // A write that failed, whatever the layer that saw it first (the entry writer reports
        // a short write as a short count or a compression error), names its cause; a full
        // disk may be freed and the entry tried again.
        if (target_ && target_->Error() != 0) {
            const std::string cause = std::strerror(target_->Error());
            if (DiskFullRetry()) {
                ReleaseEntrySource(e, false);
                a_.ArchiveStream()->SetSize(entryStart);
                a_.ArchiveStream()->SetPosition(entryStart);
                action_ = fxaRetry;
                return false;
            }
            return EntryFailed(e, entryStart, WriteFailure(cause));
        }
        try {
            throw;
        } catch (const EZAException& failure) {
            return EntryFailed(e, entryStart, failure);
        } catch (...) {
            // A source that cannot be read, and every other error, ends the pass.
            ReleaseEntrySource(e, false);
            throw;
        }
    }
}

bool TZAUpdatePass::EntryFailed(TDirItem& e, std::int64_t entryStart, const EZAException& failure) {
    ReleaseEntrySource(e, false);
    if (target_)
        target_->ClearError();
    if (!a_.ArchiveStream()) {
        action_ = fxaAbort;
        return false;
    }
    // What the failed entry left in the archive goes, so a retry or the next entry starts
    // where this one did.
    if (a_.SpanningMode() == smNone) {
        a_.ArchiveStream()->SetSize(entryStart);
        a_.ArchiveStream()->SetPosition(entryStart);
    }
    a_.DoProcessFileFailure(
        e.Operation == poUpdate ? e.StoredName.str() : e.Source().SourceFileName, e.Operation,
        failure.NativeError(), failure.ErrorCode(), failure.Message(), action_);
    return false;
}

TZAUpdatePass::TLocalRecord TZAUpdatePass::StartLocalRecord(TDirItem& e, vcl::TStream* source) {
    const TZip64Mode mode = a_.Zip64Mode();
    const bool always = mode == zmAlways;
    const bool oem = a_.Options().OEMFileNames;
    TZACentralHeader& c = e.CentralHeader;
    TLocalRecord local;

    SetLocalOffset(e, a_.ArchiveStream()->Position(), always);
    local.SourceSize = source ? source->Size() : 0;
    if (source) {
        // The flag follows what the writer does: it encrypts exactly when there is a password.
        if (e.Source().Password.empty())
            c.Flags &= static_cast<std::uint16_t>(~FlagEncrypted);
        else
            c.Flags |= FlagEncrypted;
    }
    ChooseNameEncoding(e, oem);

    // The local Zip64 record is reserved whenever either size may pass the limit: a stored,
    // encrypted source just under it has compressed data beyond it, whose size the 32-bit
    // local field cannot hold. Zip64 disabled keeps to the source's own size
    // (zeZip64DisabledCompress then comes from the writer should the data pass the limit).
    const bool beyond = local.SourceSize >= std::int64_t{Zip64Marker32};
    local.Zip64Room =
        source &&
        (beyond || always ||
         (mode != zmDisabled && MayPassZip64Limit(local.SourceSize, !e.Source().Password.empty())));
    const bool alternate = dir_.EndRecord.Signature == AlternateSignatures.EndOfCentralDir;
    const std::uint16_t version = EntryVersion(e.Zip64 || local.Zip64Room, oem, alternate);
    c.VersionNeeded = version;
    // An entry made from a file here keeps the host Unix with the version.
    c.VersionMadeBy =
        MadeByHost(c.VersionMadeBy) == HostUnix ? UnixVersionMadeBy(version) : version;
    if (local.Zip64Room)
        e.Zip64 = beyond || always || e.Zip64;
    if (mode == zmDisabled && e.Zip64)
        throw EZAException::CreateFmt(zeZip64DisabledAdd, {e.Source().SourceFileName},
                                      a_.Component());

    // Sizes come after the data; the uncompressed one now, unless the Zip64 field holds it.
    local.Header = LocalHeaderOf(c);
    local.Header.Signature = SignatureSetOf(dir_.EndRecord.Signature).LocalHeader;
    local.Header.CompressedSize = 0;
    local.Header.UncompressedSize =
        local.Zip64Room ? Zip64Marker32 : static_cast<std::uint32_t>(local.SourceSize);
    local.Name = EntryNameBytes(e, oem);
    // The extended timestamp stands in the local header too, after the Zip64 room.
    if (const TZAExtraField* timestamp =
            FindExtraField(e.Detail().ExtraFields, ExtendedTimestampExtraId))
        local.Extra.push_back(*timestamp);
    return local;
}

void TZAUpdatePass::FinishLocalRecord(vcl::TStream& out, std::int64_t headerAt, TLocalRecord& local,
                                      const TDirItem& e) {
    const TZACentralHeader& c = e.CentralHeader;
    TLocalFileHeader& lh = local.Header;
    lh.Crc32 = c.Crc32;
    // With a Zip64 record both local size fields defer to it, as readers require.
    lh.CompressedSize =
        c.CompressedSize == Zip64Marker32 || a_.Zip64Mode() == zmAlways || local.Zip64Room
            ? Zip64Marker32
            : c.CompressedSize;
    if (local.SourceSize == 0 && a_.ZipFormat())
        lh.Method = MethodStored;
    lh.Flags = c.Flags;
    TZip64Values sizes;
    sizes.UncompressedSize = static_cast<std::uint64_t>(local.SourceSize);
    sizes.CompressedSize = static_cast<std::uint64_t>(CompressedSizeOf(e));
    const std::string record = BuildLocalRecord(lh, local.Name, local.Extra, sizes);
    const std::int64_t end = out.Position();
    out.SetPosition(headerAt);
    out.WriteBuffer(record.data(), static_cast<std::int64_t>(record.size()));
    out.SetPosition(end);
}

void TZAUpdatePass::CopyEntryToVolumes(vcl::TStream& entryFile, TDirItem& e,
                                       std::int64_t headerSize) {
    entryFile.SetPosition(0);
    vcl::TStream* dest = a_.ArchiveStream();
    // The whole local header part lands on one volume.
    bool noCancel = false;
    a_.CopyToVolumes(entryFile, dest, volumes_.Info, noCancel, headerSize, 0, staging_.get(),
                     false);
    const std::int32_t volume = volumes_.Info.Number;
    e.CentralHeader.DiskNumberStart = Field16(volume);
    if (e.CentralHeader.DiskNumberStart == Zip64Marker16)
        e.SetZip64DiskNumberStart(static_cast<std::uint32_t>(volume));
    e.ResolveZip64();
    const std::int64_t at = staging_ ? dest->Position() + staging_->Position() : dest->Position();
    SetLocalOffset(e, at - headerSize, a_.Zip64Mode() == zmAlways);
    a_.CopyToVolumes(entryFile, dest, volumes_.Info, copyCancel_, -1, -1, staging_.get(), true);
}

void TZAUpdatePass::WriteEntry(TDirItem& e, vcl::TStream* source, std::int64_t& headerSize) {
    TLocalRecord local = StartLocalRecord(e, source);

    // In multi-volume mode the entry is made whole in a file of its own first, so that its
    // local header can be kept on one volume.
    const bool multiVolume = a_.SpanningMode() != smNone;
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
    // A small entry is made whole in memory and written in one piece, its header already
    // holding the sizes.
    const bool small = !multiVolume && source && local.SourceSize <= SmallEntryBytes;
    if (small)
        smallEntry_.SetSize(0);
    vcl::TStream& out = small ? smallEntry_ : multiVolume ? *entryFile : *a_.ArchiveStream();

    // The header as far as it is known, the data, then the header again with the sizes.
    const std::int64_t headerAt = out.Position();
    const std::string record = BuildLocalRecord(local.Header, local.Name, local.Extra);
    headerSize = static_cast<std::int64_t>(record.size());
    out.WriteBuffer(record.data(), headerSize);
    if (source && a_.CompressStream(*source, out, e))
        FinishLocalRecord(out, headerAt, local, e);
    if (progress_.Cancel)
        return;
    if (small) {
        a_.ArchiveStream()->WriteBuffer(smallEntry_.Memory(), smallEntry_.Size());
        return;
    }
    out.Seek(0, vcl::TSeekOrigin::soEnd);

    if (multiVolume)
        CopyEntryToVolumes(*entryFile, e, headerSize);
}

} // namespace zip
