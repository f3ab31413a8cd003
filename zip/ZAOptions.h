// The archiver's settings: how files are stored, found and extracted (TZAOptions), how
// volumes are named and sized (TZASpanningOptions), and which volume is meant
// (TZAVolumeNumberInfo).
#pragma once

#include "vcl/Persistent.h"
#include "zip/ZATypes.h"

#include <cstdint>

namespace zip {

class TZAOptions : public vcl::TPersistent {
public:
    TZAOptions() = default;

    void Assign(const vcl::TPersistent& source) override;
    std::string ClassName() const override { return "TZAOptions"; }
    std::vector<vcl::TPublishedProperty> PublishedProperties() const override;

    // Published, in this order; plain fields.
    bool Recurse = true;
    TZAStorePathMode StorePath = spRelativePath;
    TZAFileShareMode ShareMode = smShareDenyNone;
    TZAOverwriteMode OverwriteMode = omAlways;
    bool CreateDirs = true;
    bool ReplaceReadOnly = true;
    bool SetAttributes = true;
    // Streamed and copied only: the archive operations take their attribute mask as an
    // argument.
    std::int32_t SearchAttr = faAllEntries;
    bool FlushBuffers = true;
    bool OEMFileNames = true;
};

class TZAVolumeNumberInfo;

class TZASpanningOptions : public vcl::TPersistent {
public:
    // Smallest custom volume: a smaller limit could not hold a volume's own records.
    static constexpr std::int64_t MinCustomVolumeSize = 65536;

    TZASpanningOptions() = default;

    void Assign(const vcl::TPersistent& source) override;
    std::string ClassName() const override { return "TZASpanningOptions"; }
    std::vector<vcl::TPublishedProperty> PublishedProperties() const override;

    std::int64_t CustomVolumeSize() const { return customVolumeSize_; }
    // Values under MinCustomVolumeSize, negative ones included, store the minimum.
    void SetCustomVolumeSize(std::int64_t value);

    // The size limit in bytes for a volume; -1 means as much as the medium has free.
    std::int64_t GetVolumeSize(const TZAVolumeNumberInfo& volume) const;

    bool AdvancedNaming = true;
    std::int64_t FirstVolumeSize = 0;
    TZAVolumeSize VolumeSize = vsAutoDetect;

private:
    // The constructor's 0 bypasses the setter's minimum; GetVolumeSize applies it.
    std::int64_t customVolumeSize_ = 0;
};

// The preset limit of a volume size, -1 for vsAutoDetect; vsCustom has no preset (0).
std::int64_t VolumeSizeBytes(TZAVolumeSize size);

// A volume of a multi-volume archive: first, last or numbered (0-based), or not yet known.
class TZAVolumeNumberInfo : public vcl::TObject {
public:
    TZAVolumeNumberInfo() { Reset(); }

    void Reset();
    bool IsFirst() const { return Number == 0; }
    void SetFirst(bool value);
    bool IsLast() const;
    void SetLast(bool value);
    void SetNumber(std::int32_t n);
    bool SameVolume(const TZAVolumeNumberInfo& other) const;

    TZAVolumeKind Kind = vkUnknown;
    std::int32_t Number = -1;
    // -1 until the reader learns it from the end record or the Zip64 locator.
    std::int32_t LastNumber = -1;
};

} // namespace zip
