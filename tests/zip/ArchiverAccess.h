// Opens the archiver's protected parts to the tests: the dispatchers, the volume operations
// and the state that only the opening steps set.
#pragma once

#include "zip/ZAExcept.h"
#include "zip/ZipArchiver.h"

#include <memory>

namespace ziptest {

// The native code of the EZAException that f raises; -1 when it raises none.
template <class F> std::int32_t NativeErrorOf(F f) {
    try {
        f();
    } catch (const zip::EZAException& e) {
        return e.NativeError();
    }
    return -1;
}

class TTestArchiver : public zip::TZipArchiver {
public:
    using TZipArchiver::TZipArchiver;

    using TZABaseArchiver::CopyToVolumes;
    using TZABaseArchiver::DoConfirmOverwrite;
    using TZABaseArchiver::DoConfirmProcessFile;
    using TZABaseArchiver::DoCopyTempFileProgress;
    using TZABaseArchiver::DoDiskFull;
    using TZABaseArchiver::DoExtractFile;
    using TZABaseArchiver::DoFileProgress;
    using TZABaseArchiver::DoOverallProgress;
    using TZABaseArchiver::DoPassword;
    using TZABaseArchiver::DoProcessFileFailure;
    using TZABaseArchiver::DoRequestBlankVolume;
    using TZABaseArchiver::DoRequestFirstVolume;
    using TZABaseArchiver::DoRequestLastVolume;
    using TZABaseArchiver::DoRequestMiddleVolume;
    using TZABaseArchiver::DoStoreFile;
    using TZABaseArchiver::DoUnpublishedEvent;
    using TZABaseArchiver::GetVolumeFileName;
    using TZABaseArchiver::OpenVolume;
    using TZABaseArchiver::WriteBufferToVolumes;
    using TZABaseArchiver::WriteToVolumes;

    std::uint16_t CompressionMethodCode() const { return FCompressionMethod; }
    std::uint16_t OpenMode() const { return FOpenMode; }
    void SetOpenMode(std::uint16_t mode) { FOpenMode = mode; }
    zip::TZAVolumeNumberInfo& VolumeInfo() { return FVolumes.Info; }
    const std::string& CurrentVolumeName() const { return FVolumes.CurrentVolumeName; }
    void SetOpenCorruptedArchives(bool value) { FOpenCorruptedArchives = value; }
    void SetPrefixSize(std::int64_t size) {
        FDirManager = std::make_unique<zip::TZADirManager>();
        FDirManager->PrefixSize = size;
    }
    void SetUnpublishedHandler(zip::TZAUnpublishedEvent handler) {
        FOnUnpublishedEvent = std::move(handler);
    }
    // Stands in for the opening steps: an open archive on the given stream.
    void PretendOpen(std::unique_ptr<vcl::TStream> stream) {
        FArchiveStream = std::move(stream);
        FDirManager = std::make_unique<zip::TZADirManager>();
        FActive = true;
    }
};

} // namespace ziptest
