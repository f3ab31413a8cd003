#include "zip/ZAEngine.h"

#include "platform/TempFiles.h"
#include "vcl/SysUtils.h"
#include "zip/ZADirManager.h"
#include "zip/ZADirWriter.h"
#include "zip/ZAEntryReader.h"
#include "zip/ZAEntryWriter.h"
#include "zip/ZAExcept.h"
#include "zip/ZipArchiver.h"

#include <system_error>

namespace zip {

TZAEngine::TZAEngine(TZABaseArchiver& archiver) : a_(archiver) {
}

TZAEngine::~TZAEngine() = default;

TZAEngine& TZAEngine::Of(TZABaseArchiver& archiver) {
    return *archiver.FEngine;
}

const vcl::TComponent* TZAEngine::Component() const {
    return &a_;
}

const TZAOptions& TZAEngine::Options() const {
    return *a_.FOptions;
}

const TZASpanningOptions& TZAEngine::SpanningOptions() const {
    return *a_.FSpanningOptions;
}

const std::string& TZAEngine::FileName() const {
    return a_.FFileName;
}

std::string& TZAEngine::Password() {
    return a_.Password;
}

const std::string& TZAEngine::SFXStub() const {
    return a_.SFXStub;
}

TZASpanningMode TZAEngine::SpanningMode() const {
    return a_.FSpanningMode;
}

bool TZAEngine::InMemory() const {
    return a_.FInMemory;
}

bool TZAEngine::ZipFormat() const {
    return a_.FZipFormat;
}

TZip64Mode TZAEngine::Zip64Mode() const {
    return a_.FZip64Mode;
}

void TZAEngine::UpdateCompressionMethod() {
    a_.UpdateCompressionMethod();
}

vcl::TStream* TZAEngine::ArchiveStream() const {
    return a_.FArchiveStream.get();
}

void TZAEngine::ReplaceArchiveStream(std::unique_ptr<vcl::TStream> stream) {
    a_.FreeArchiveStream();
    a_.FCustomStream = false;
    a_.FArchiveStream = std::move(stream);
}

std::unique_ptr<vcl::TStream> TZAEngine::SwapArchiveStream(std::unique_ptr<vcl::TStream> stream) {
    std::swap(a_.FArchiveStream, stream);
    return stream;
}

void TZAEngine::FreeArchiveStream() {
    a_.FreeArchiveStream();
}

TZADirManager* TZAEngine::DirManager() const {
    return a_.FDirManager.get();
}

TZAEntryBuffers& TZAEngine::EntryBuffers() {
    if (!entryBuffers_)
        entryBuffers_ = std::make_unique<TZAEntryBuffers>();
    return *entryBuffers_;
}

TZDeflater& TZAEngine::Deflater(int level) {
    if (deflater_ && deflater_->Level() == level)
        deflater_->Reset();
    else
        deflater_ = std::make_unique<TZDeflater>(level);
    return *deflater_;
}

std::shared_ptr<const TZAEntryStarts> TZAEngine::EntryStarts() const {
    return a_.FEntryStarts;
}

void TZAEngine::DoOverallProgress(double progress, TZAProcessOperation operation,
                                  TZAProgressPhase phase, bool& cancel) {
    a_.DoOverallProgress(progress, operation, phase, cancel);
}

void TZAEngine::DoFileProgress(const std::string& fileName, double progress,
                               TZAProcessOperation operation, TZAProgressPhase phase,
                               bool& cancel) {
    a_.DoFileProgress(fileName, progress, operation, phase, cancel);
}

void TZAEngine::DoPassword(const std::string& fileName, std::string& newPassword, bool& skipFile) {
    a_.DoPassword(fileName, newPassword, skipFile);
}

void TZAEngine::DoProcessFileFailure(const std::string& fileName, TZAProcessOperation operation,
                                     std::int32_t nativeError, std::int32_t errorCode,
                                     const std::string& errorMessage, TZAAction& action) {
    a_.DoProcessFileFailure(fileName, operation, nativeError, errorCode, errorMessage, action);
}

void TZAEngine::DoDiskFull(std::int32_t volumeNumber, const std::string& volumeFileName,
                           bool& cancel) {
    a_.DoDiskFull(volumeNumber, volumeFileName, cancel);
}

void TZAEngine::GetVolumeFileName(std::string& fileName, std::int32_t volumeNumber,
                                  bool checkExists) {
    a_.GetVolumeFileName(fileName, volumeNumber, checkExists);
}

void TZAEngine::OpenVolume(const TZAVolumeNumberInfo& info) {
    a_.OpenVolume(info);
}

void TZAEngine::WriteBufferToVolumes(const void* buffer, std::int32_t count, vcl::TStream*& stream,
                                     TZAVolumeNumberInfo& info, std::int32_t keepTogether,
                                     vcl::TStream* staging) {
    a_.WriteBufferToVolumes(buffer, count, stream, info, keepTogether, staging);
}

void TZAEngine::CopyToVolumes(vcl::TStream& source, vcl::TStream*& dest, TZAVolumeNumberInfo& info,
                              bool& cancel, std::int64_t count, std::int32_t keepTogether,
                              vcl::TStream* staging, bool showProgress) {
    a_.CopyToVolumes(source, dest, info, cancel, count, keepTogether, staging, showProgress);
}

void TZAEngine::WriteCentralDir(vcl::TStream* stream) {
    if (!a_.FDirManager)
        a_.FDirManager = std::make_unique<TZADirManager>();
    TZADirWriter(*this, *a_.FDirManager).Write(stream);
}

bool TZAEngine::CompressStream(vcl::TStream& source, vcl::TStream& output, TDirItem& entry) {
    return TZAEntryWriter(*this, source, output, entry).Run();
}

bool TZAEngine::DecompressStream(vcl::TStream& archive, vcl::TStream& dest, const TDirItem& item) {
    return TZAEntryReader(*this, &archive, dest, item).Run();
}

bool TZAEngine::ReplayDecoded(vcl::TStream& dest, const TDirItem& item, const TZADecoded& decoded) {
    return TZAEntryReader(*this, nullptr, dest, item).Replay(decoded);
}

std::string TZAEngine::MakeTempFileName() {
    const std::string& tempDir = a_.TempDir;
    std::string folder = vcl::Trim(tempDir).empty() ? platform::TempPath() : tempDir;
    // The platform's temporary-file call takes a folder of at most 255 characters.
    if (folder.size() > 255)
        throw EZAException::CreateFmt(zeCannotCreateFile, {folder}, &a_);
    try {
        return platform::CreateTempFile(folder, "FC");
    } catch (const std::system_error&) {
        throw EZAException::CreateFmt(zeCannotCreateFile,
                                      {vcl::IncludeTrailingPathDelimiter(folder) + "FC"}, &a_);
    }
}

} // namespace zip
