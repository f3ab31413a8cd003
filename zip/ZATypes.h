// The engine's enumerations. Their order gives the stored values (from 0), which forms
// stream and directory entries carry, so new values go at the end only.
#pragma once

#include <cstdint>

namespace zip {

enum TZACompressionLevel : std::uint8_t { clNone, clFastest, clNormal, clMax };

enum TZAProcessOperation : std::uint8_t {
    poAdd,
    poMove,
    poDelete,
    poUpdate,
    poExtract,
    poTest,
    poRename,
    poChangeAttr,
    poChangeComment,
    poMakeSFX
};

enum TZAProgressPhase : std::uint8_t { ppStart, ppProcess, ppEnd };

enum TZAAction : std::uint8_t { fxaRetry, fxaIgnore, fxaAbort };

enum TZAOverwriteMode : std::uint8_t { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };

enum TZAFileShareMode : std::uint8_t {
    smShareCompat,
    smShareExclusive,
    smShareDenyWrite,
    smShareDenyRead,
    smShareDenyNone
};

enum TZAStorePathMode : std::uint8_t { spNoPath, spRelativePath, spFullPath, spFullPathWithDrive };

enum TZip64Mode : std::uint8_t { zmDisabled, zmAuto, zmAlways };

enum TZASpanningMode : std::uint8_t { smNone, smSpanning, smSplitting };

enum TZAVolumeSize : std::uint8_t {
    vsAutoDetect,
    vsCustom,
    vs1_44MB,
    vs100MB,
    vs200MB,
    vs250MB,
    vs600MB,
    vs650MB,
    vs700MB,
    vs4700MB
};

enum TZAVolumeKind : std::uint8_t { vkFirst, vkLast, vkCustom, vkUnknown };

// MS-DOS attributes: the low byte of an entry's external attributes.
inline constexpr std::uint32_t faReadOnly = 0x01;
inline constexpr std::uint32_t faHidden = 0x02;
inline constexpr std::uint32_t faSysFile = 0x04;
inline constexpr std::uint32_t faVolumeID = 0x08;
inline constexpr std::uint32_t faDirectory = 0x10;
inline constexpr std::uint32_t faArchive = 0x20;

// Search attribute sets (the SearchAttr of FindFirst, ExtractFiles and TestFiles). An entry
// with one of faSearchedAttributes is found only when the set admits it; the others never
// keep an entry out.
inline constexpr std::uint32_t faSearchedAttributes =
    faHidden | faSysFile | faVolumeID | faDirectory;
// Every entry, whatever its attributes: the six above with normal (0x80), compressed (0x800)
// and not content-indexed (0x2000), the set the updater extracts with.
inline constexpr std::int32_t faAllEntries = 0x28BF;

} // namespace zip
