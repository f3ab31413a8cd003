// What the tests of the engine's parts reach beyond the component's public calls: the engine
// behind an archiver (its directory, archive stream, volume I/O and services, as the parts
// themselves use them), and an archiver whose protected dispatchers and guards are callable
// and which can stand in for the opening steps.
#pragma once

#include "zip/ZADirManager.h"
#include "zip/ZAEngine.h"
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

inline zip::TZAEngine& Engine(zip::TZABaseArchiver& archiver) {
    return zip::TZAEngine::Of(archiver);
}
// The open archive's directory, end records and prefix.
inline zip::TZADirManager& Dir(zip::TZABaseArchiver& archiver) {
    return *Engine(archiver).DirManager();
}

class TTestArchiver : public zip::TZipArchiver {
public:
    using TZipArchiver::TZipArchiver;

    using TZABaseArchiver::CheckActive;
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
    using TZABaseArchiver::EnterArchiverLock;
    using TZABaseArchiver::LeaveArchiverLock;
    using TZABaseArchiver::UpdatePending;
    using TZABaseArchiver::WriteToVolumes;

    std::uint16_t CompressionMethodCode() const { return FCompressionMethod; }
    std::uint16_t OpenMode() const { return FOpenMode; }
    void SetOpenMode(std::uint16_t mode) { FOpenMode = mode; }
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
