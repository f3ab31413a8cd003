// What the engine's parts (directory reader and writer, entry reader and writer, volumes, the
// update pass) see of the archiver that runs them: its settings, its open archive, the events
// they fire, the volume I/O, and the state a run shares between them. The parts take this
// instead of the component, whose public face is the caller's; each archiver owns one.
#pragma once

#include "vcl/Classes.h"
#include "vcl/Streams.h"
#include "zip/ZAOptions.h"
#include "zip/ZAProgressState.h"
#include "zip/ZATypes.h"
#include "zip/ZAVolumeState.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zip {

class TZABaseArchiver;
class TZADirManager;
struct TDirItem;
struct TZAEntryBuffers;
struct TZADecoded;
class TZDeflater;
class TZAEntryStarts;

class TZAEngine {
public:
    explicit TZAEngine(TZABaseArchiver& archiver);
    ~TZAEngine();
    TZAEngine(const TZAEngine&) = delete;
    TZAEngine& operator=(const TZAEngine&) = delete;

    // The engine of an archiver: for the engine's own code and its tests.
    static TZAEngine& Of(TZABaseArchiver& archiver);

    // A run's counters and cancel flag, and the volume being read or written.
    TZAProgressState Progress;
    TZAVolumeState Volumes;

    // The component, whose Name every EZAException of the engine begins with.
    const vcl::TComponent* Component() const;

    // Settings.
    const TZAOptions& Options() const;
    const TZASpanningOptions& SpanningOptions() const;
    const std::string& FileName() const;
    // The password prompt answers into it.
    std::string& Password();
    const std::string& SFXStub() const;
    TZASpanningMode SpanningMode() const;
    bool InMemory() const;
    // True selects the standard record signatures, False the alternate set.
    bool ZipFormat() const;
    TZip64Mode Zip64Mode() const;
    // Brings the compression method code of new entries up to date with the settings.
    void UpdateCompressionMethod();

    // The open archive.
    vcl::TStream* ArchiveStream() const;
    // The stream becomes the archive stream, the archiver's own to free.
    void ReplaceArchiveStream(std::unique_ptr<vcl::TStream> stream);
    // As ReplaceArchiveStream, handing the previous stream back instead of freeing it.
    std::unique_ptr<vcl::TStream> SwapArchiveStream(std::unique_ptr<vcl::TStream> stream);
    void FreeArchiveStream();
    TZADirManager* DirManager() const;
    // The entry reader's inflater and buffers, made on first use and kept between entries.
    TZAEntryBuffers& EntryBuffers();
    // The entry writer's deflater at a level, reset for a new entry: made on first use and kept
    // while the level stays, so that many small files do not each set one up.
    TZDeflater& Deflater(int level);
    // Where every entry starts, while a run reads entries (none otherwise).
    std::shared_ptr<const TZAEntryStarts> EntryStarts() const;

    // The events the parts fire, through the archiver's dispatchers.
    void DoOverallProgress(double progress, TZAProcessOperation operation, TZAProgressPhase phase,
                           bool& cancel);
    void DoFileProgress(const std::string& fileName, double progress, TZAProcessOperation operation,
                        TZAProgressPhase phase, bool& cancel);
    void DoPassword(const std::string& fileName, std::string& newPassword, bool& skipFile);
    void DoProcessFileFailure(const std::string& fileName, TZAProcessOperation operation,
                              std::int32_t nativeError, std::int32_t errorCode,
                              const std::string& errorMessage, TZAAction& action);
    void DoDiskFull(std::int32_t volumeNumber, const std::string& volumeFileName, bool& cancel);

    // Volumes (numbers 0-based, -1 the last one).
    void GetVolumeFileName(std::string& fileName, std::int32_t volumeNumber, bool checkExists);
    void OpenVolume(const TZAVolumeNumberInfo& info);
    void WriteBufferToVolumes(const void* buffer, std::int32_t count, vcl::TStream*& stream,
                              TZAVolumeNumberInfo& info, std::int32_t keepTogether,
                              vcl::TStream* staging);
    void CopyToVolumes(vcl::TStream& source, vcl::TStream*& dest, TZAVolumeNumberInfo& info,
                       bool& cancel, std::int64_t count, std::int32_t keepTogether,
                       vcl::TStream* staging, bool showProgress);

    // Writes the central directory, the Zip64 records when needed, the end record and the
    // archive comment at the end of stream (the archive stream when none is given).
    void WriteCentralDir(vcl::TStream* stream = nullptr);
    // Writes the source's data for entry to output and fills in its CRC-32 and sizes; False
    // when a progress event cancelled.
    bool CompressStream(vcl::TStream& source, vcl::TStream& output, TDirItem& entry);
    // Decodes the entry whose local header stands at archive's position into dest; True when
    // all of it arrived with the expected size and CRC.
    bool DecompressStream(vcl::TStream& archive, vcl::TStream& dest, const TDirItem& item);
    // Gives dest the bytes of item decoded ahead of its turn, with the events and the answer
    // DecompressStream would have given.
    bool ReplayDecoded(vcl::TStream& dest, const TDirItem& item, const TZADecoded& decoded);
    // A new, empty file "FC….TMP" in TempDir, or in the system's temporary folder.
    std::string MakeTempFileName();

private:
    TZABaseArchiver& a_;
    std::unique_ptr<TZAEntryBuffers> entryBuffers_;
    std::unique_ptr<TZDeflater> deflater_;
};

} // namespace zip
