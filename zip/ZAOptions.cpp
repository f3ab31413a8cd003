#include "zip/ZAOptions.h"

#include "vcl/SysUtils.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace zip {

namespace {

std::string BoolText(bool value) {
    return value ? "True" : "False";
}

template <std::size_t N> std::string EnumText(const std::array<std::string_view, N>& names, int v) {
    return std::string(names.at(static_cast<std::size_t>(v)));
}

constexpr std::array<std::string_view, 4> StorePathNames = {"spNoPath", "spRelativePath",
                                                            "spFullPath", "spFullPathWithDrive"};
constexpr std::array<std::string_view, 5> ShareModeNames = {
    "smShareCompat", "smShareExclusive", "smShareDenyWrite", "smShareDenyRead", "smShareDenyNone"};
constexpr std::array<std::string_view, 5> OverwriteModeNames = {"omPrompt", "omAlways", "omNever",
                                                                "omIfNewer", "omIfOlder"};
constexpr std::array<std::string_view, 10> VolumeSizeNames = {
    "vsAutoDetect", "vsCustom", "vs1_44MB", "vs100MB", "vs200MB",
    "vs250MB",      "vs600MB",  "vs650MB",  "vs700MB", "vs4700MB"};

constexpr std::int64_t MiB = 1048576;

} // namespace

void TZAOptions::Assign(const vcl::TPersistent& source) {
    if (auto* other = dynamic_cast<const TZAOptions*>(&source)) {
        Recurse = other->Recurse;
        StorePath = other->StorePath;
        ShareMode = other->ShareMode;
        OverwriteMode = other->OverwriteMode;
        CreateDirs = other->CreateDirs;
        ReplaceReadOnly = other->ReplaceReadOnly;
        SetAttributes = other->SetAttributes;
        SearchAttr = other->SearchAttr;
        FlushBuffers = other->FlushBuffers;
        OEMFileNames = other->OEMFileNames;
        return;
    }
    vcl::TPersistent::Assign(source);
}

std::vector<vcl::TPublishedProperty> TZAOptions::PublishedProperties() const {
    return {
        {"Recurse", BoolText(Recurse), "True"},
        {"StorePath", EnumText(StorePathNames, StorePath), "spRelativePath"},
        {"ShareMode", EnumText(ShareModeNames, ShareMode), "smShareDenyNone"},
        {"OverwriteMode", EnumText(OverwriteModeNames, OverwriteMode), "omAlways"},
        {"CreateDirs", BoolText(CreateDirs), "True"},
        {"ReplaceReadOnly", BoolText(ReplaceReadOnly), "True"},
        {"SetAttributes", BoolText(SetAttributes), "True"},
        {"SearchAttr", vcl::IntToStr(SearchAttr), vcl::IntToStr(faAllEntries)},
        {"FlushBuffers", BoolText(FlushBuffers), std::nullopt},
        {"OEMFileNames", BoolText(OEMFileNames), std::nullopt},
    };
}

void TZASpanningOptions::Assign(const vcl::TPersistent& source) {
    if (auto* other = dynamic_cast<const TZASpanningOptions*>(&source)) {
        AdvancedNaming = other->AdvancedNaming;
        FirstVolumeSize = other->FirstVolumeSize;
        VolumeSize = other->VolumeSize;
        // A copy, not a new setting: the source's value stands as it is.
        customVolumeSize_ = other->customVolumeSize_;
        return;
    }
    vcl::TPersistent::Assign(source);
}

std::vector<vcl::TPublishedProperty> TZASpanningOptions::PublishedProperties() const {
    return {
        {"AdvancedNaming", BoolText(AdvancedNaming), std::nullopt},
        {"FirstVolumeSize", vcl::IntToStr(FirstVolumeSize), std::nullopt},
        {"VolumeSize", EnumText(VolumeSizeNames, VolumeSize), std::nullopt},
        {"CustomVolumeSize", vcl::IntToStr(customVolumeSize_), std::nullopt},
    };
}

void TZASpanningOptions::SetCustomVolumeSize(std::int64_t value) {
    customVolumeSize_ = std::max(value, MinCustomVolumeSize);
}

std::int64_t VolumeSizeBytes(TZAVolumeSize size) {
    switch (size) {
    case vsAutoDetect:
        return -1;
    case vsCustom:
        return 0;
    case vs1_44MB:
        return 1457664; // what a formatted diskette holds for files, not 1474560
    case vs100MB:
        return 100 * MiB;
    case vs200MB:
        return 200 * MiB;
    case vs250MB:
        return 250 * MiB;
    case vs600MB:
        return 600 * MiB;
    case vs650MB:
        return 650 * MiB;
    case vs700MB:
        return 700 * MiB;
    case vs4700MB:
        return 4700 * MiB;
    }
    return -1;
}

std::int64_t TZASpanningOptions::GetVolumeSize(const TZAVolumeNumberInfo& volume) const {
    if (volume.IsFirst() && FirstVolumeSize > 0)
        return FirstVolumeSize;
    // A custom limit below the minimum (the constructor's 0 included) would leave volumes
    // too small for any data, so the writer would never finish: it counts as the minimum.
    if (VolumeSize == vsCustom)
        return std::max(customVolumeSize_, MinCustomVolumeSize);
    return VolumeSizeBytes(VolumeSize);
}

void TZAVolumeNumberInfo::Reset() {
    Kind = vkUnknown;
    Number = -1;
    LastNumber = -1;
}

void TZAVolumeNumberInfo::SetFirst(bool value) {
    if (value) {
        Number = 0;
        Kind = vkFirst;
    }
}

bool TZAVolumeNumberInfo::IsLast() const {
    return LastNumber == -1 ? Kind == vkLast : Number == LastNumber;
}

void TZAVolumeNumberInfo::SetLast(bool value) {
    if (value) {
        Number = LastNumber;
        Kind = vkLast;
    }
}

void TZAVolumeNumberInfo::SetNumber(std::int32_t n) {
    Kind = vkCustom;
    Number = n;
}

bool TZAVolumeNumberInfo::SameVolume(const TZAVolumeNumberInfo& other) const {
    if (IsLast())
        return other.IsLast();
    if (IsFirst())
        return other.IsFirst();
    if (Number >= 0)
        return Number == other.Number;
    return Kind == other.Kind;
}

} // namespace zip
