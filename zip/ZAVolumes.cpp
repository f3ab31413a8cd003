// Volumes of split and spanned sets: their names, getting the one needed through the volume
// requests, and writing across them.
#include "platform/Volumes.h"
#include "vcl/SysUtils.h"
#include "zip/ZADirManager.h"
#include "zip/ZAEngine.h"
#include "zip/ZAExcept.h"
#include "zip/ZAVolumeFiles.h"
#include "zip/ZipArchiver.h"

#include <algorithm>
#include <filesystem>
#include <vector>

namespace zip {

namespace {

constexpr std::int64_t MinBlankVolumeFree = 65536;
constexpr std::int64_t CopyBufferSize = 1000000;

} // namespace

bool IsExeFileName(const std::string& FileName) {
    return vcl::LowerCase(vcl::ExtractFileExt(FileName)).rfind(".exe", 0) == 0;
}

std::int64_t GetDiskFreeBytes(const std::string& Path) {
    return platform::DiskFreeBytes(Path);
}

std::string DiskLabel(std::int32_t VolumeNumber) {
    return "pkback# " + vcl::Format("%.3d", {std::int64_t{VolumeNumber} + 1});
}

std::string ExistingVolumeFile(const std::string& FileName) {
    if (FileName.empty())
        return {};
    if (vcl::FileExists(FileName))
        return FileName;
    std::string folder = vcl::ExtractFilePath(FileName);
    std::string name = vcl::ExtractFileName(FileName);
    std::error_code error;
    std::vector<std::string> matches;
    for (const auto& entry :
         std::filesystem::directory_iterator(folder.empty() ? std::string(".") : folder, error)) {
        std::string candidate = entry.path().filename().string();
        if (vcl::SameText(candidate, name) && entry.is_regular_file(error))
            matches.push_back(candidate);
    }
    if (matches.empty())
        return {};
    std::sort(matches.begin(), matches.end()); // the same answer on every call
    return folder + matches.front();
}

void TZABaseArchiver::GetVolumeFileName(std::string& FileName, std::int32_t VolumeNumber,
                                        bool CheckExists) {
    const std::string folder = vcl::ExtractFilePath(FileName);
    const std::string name = vcl::ExtractFileName(FileName);
    std::string ext = vcl::ExtractFileExt(name);
    const std::string base = name.substr(0, name.size() - ext.size());
    const bool sfx = (FDirManager && FDirManager->PrefixSize != 0) || !SFXStub.empty() ||
                     IsExeFileName(FileName);
    const bool advanced = FSpanningOptions->AdvancedNaming;
    auto numbered = [&] {
        return folder + base + "_" + vcl::Format("%.3u", {std::int64_t{VolumeNumber} + 1}) + ext;
    };

    if (VolumeNumber == -1) {
        // The last volume of a split set is the archive file itself, except behind a stub.
        if (sfx && FSpanningMode == smSplitting)
            FileName = folder + base + (FCompressionMethod >= 252 ? ".ZA" : ".ZIP");
        return;
    }
    if (VolumeNumber < 0)
        return;
    switch (FSpanningMode) {
    case smSpanning: {
        if (sfx)
            ext = ".exe";
        const std::string plain = folder + base + ext;
        const std::string counted = numbered();
        FileName = advanced ? counted : plain;
        if (CheckExists) {
            std::string found = ExistingVolumeFile(FileName);
            if (found.empty())
                found = ExistingVolumeFile(advanced ? plain : counted);
            if (!found.empty())
                FileName = found;
        }
        break;
    }
    case smSplitting:
        if (VolumeNumber == 0 && sfx)
            FileName = folder + base + ".exe";
        else if (advanced)
            FileName = numbered();
        else
            FileName = folder + base + (FCompressionMethod >= 252 ? ".F" : ".Z") +
                       vcl::Format("%.2d", {std::int64_t{VolumeNumber} + 1});
        break;
    case smNone:
        break;
    }
}

void TZABaseArchiver::OpenVolumeStream(const std::string& FileName) {
    FreeArchiveStream();
    FCustomStream = false;
    FArchiveStream = std::make_unique<vcl::TFileStream>(FileName, FOpenMode);
    FEngine->Volumes.CurrentVolumeName = FileName;
}

void TZABaseArchiver::OpenVolume(const TZAVolumeNumberInfo& Info) {
    if (FSpanningMode == smNone) {
        if (!FArchiveStream)
            OpenVolumeStream(FFileName);
        FEngine->Volumes.Info.Number = Info.Number;
        FEngine->Volumes.Info.Kind = Info.Kind;
        return;
    }

    if (FOpenMode == 0xFFFF) {
        FreeArchiveStream();
        const std::int64_t limit = FSpanningOptions->GetVolumeSize(Info);
        std::string name;
        bool cancel = false;
        for (;;) {
            name = FFileName;
            DoRequestBlankVolume(Info.Number, name, cancel);
            if (cancel)
                break;
            std::int64_t free = GetDiskFreeBytes(name);
            if (free > MinBlankVolumeFree && (limit <= 0 || free >= limit))
                break;
            DoDiskFull(Info.Number, name, cancel);
            if (cancel)
                break;
        }
        if (cancel)
            throw EZAException(zeVolumeCancelled, this);
        OpenVolumeStream(name);
        if (FSpanningMode == smSpanning) {
            try {
                platform::SetVolumeLabel(name, DiskLabel(Info.Number));
            } catch (...) {
                // An unlabelled disk is still a usable volume.
            }
        }
        return;
    }

    if (FEngine->Volumes.Info.SameVolume(Info))
        return;
    for (;;) {
        std::string name = FFileName;
        bool cancel = true;
        if (Info.IsFirst())
            DoRequestFirstVolume(name, cancel);
        else if (Info.IsLast())
            DoRequestLastVolume(name, cancel);
        else
            DoRequestMiddleVolume(Info.Number, name, cancel);
        // An empty answer names no volume: reading on from the old one would take its bytes
        // from the start again as if they were the next volume's, so it ends the request.
        if (cancel || name.empty())
            throw EZAException(zeVolumeCancelled, this);
        std::string file = ExistingVolumeFile(name);
        if (!file.empty()) {
            OpenVolumeStream(file);
            FEngine->Volumes.Info.Number = Info.Number;
            FEngine->Volumes.Info.Kind = Info.Kind;
            return;
        }
    }
}

std::int32_t TZABaseArchiver::WriteToVolumes(const void* Buffer, std::int32_t Count,
                                             vcl::TStream*& Stream, TZAVolumeNumberInfo& Info,
                                             std::int32_t KeepTogether, vcl::TStream* Staging) {
    const auto* bytes = static_cast<const std::uint8_t*>(Buffer);
    if (FSpanningMode == smNone)
        return static_cast<std::int32_t>(Stream->Write(Buffer, Count));

    std::int64_t written = 0;
    bool freshVolume = false;
    while (written < Count) {
        const std::int64_t staged = Staging ? Staging->Size() : 0;
        const std::int64_t free = GetDiskFreeBytes(FEngine->Volumes.CurrentVolumeName) - staged;
        const std::int64_t limit = FSpanningOptions->GetVolumeSize(Info);
        const std::int64_t room = limit - Stream->Size() - staged;
        const std::int64_t avail = limit == -1 ? free : std::min(room, free);
        if (avail < 0)
            break;
        const std::int64_t before = written;
        if (KeepTogether == -1 || (Count - written) + KeepTogether <= avail) {
            std::int64_t m = std::min(avail, std::int64_t{Count} - written);
            if (m > 0)
                written += (Staging ? Staging : Stream)->Write(bytes + written, m);
        }
        if (written >= Count)
            break;
        // A piece that does not fit even an empty volume would ask for volumes without end.
        if (freshVolume && written == before)
            break;
        if (Staging) {
            Staging->SetPosition(0);
            Stream->CopyFrom(*Staging, 0);
            Staging->SetSize(0);
        }
        if (FSpanningMode == smSpanning)
            if (auto* file = dynamic_cast<vcl::THandleStream*>(Stream))
                file->Flush();
        Info.SetNumber(Info.Number + 1);
        Stream = nullptr; // the old volume's stream goes with the request
        OpenVolume(Info);
        Stream = FArchiveStream.get();
        freshVolume = true;
    }
    return static_cast<std::int32_t>(written);
}

void TZABaseArchiver::WriteBufferToVolumes(const void* Buffer, std::int32_t Count,
                                           vcl::TStream*& Stream, TZAVolumeNumberInfo& Info,
                                           std::int32_t KeepTogether, vcl::TStream* Staging) {
    if (WriteToVolumes(Buffer, Count, Stream, Info, KeepTogether, Staging) < Count)
        throw EZAException(zeWriteError, this);
}

void TZABaseArchiver::CopyToVolumes(vcl::TStream& Source, vcl::TStream*& Dest,
                                    TZAVolumeNumberInfo& Info, bool& Cancel, std::int64_t Count,
                                    std::int32_t KeepTogether, vcl::TStream* Staging,
                                    bool ShowProgress) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(CopyBufferSize));
    const std::int64_t total = Count == -1 ? Source.Size() - Source.Position() : Count;
    if (ShowProgress) {
        DoCopyTempFileProgress(0, ppStart, Cancel);
        if (Cancel)
            return;
    }
    std::int64_t done = 0;
    while (done < total) {
        const std::int64_t want = std::min(CopyBufferSize, total - done);
        const std::int64_t got = Source.Read(buffer.data(), want);
        // A source that ends early must not be padded out with stale buffer bytes.
        if (got < want)
            throw vcl::EReadError();
        const std::int32_t put = WriteToVolumes(buffer.data(), static_cast<std::int32_t>(got), Dest,
                                                Info, KeepTogether, Staging);
        done += put;
        if (put < got)
            throw EZAException(zeWriteError, this);
        if (ShowProgress) {
            DoCopyTempFileProgress(static_cast<double>(done) / static_cast<double>(total) * 100,
                                   ppProcess, Cancel);
            if (Cancel)
                break;
        }
    }
    if (ShowProgress)
        DoCopyTempFileProgress(100, ppEnd, Cancel);
}

} // namespace zip
