// The fixed 46-byte part of a central directory header, field by field in file order. The
// record code reads and writes it; the directory keeps one per entry.
#pragma once

#include <cstdint>

namespace zip {

// Markers: the real value stands in the Zip64 extra field or the Zip64 end record.
inline constexpr std::uint32_t Zip64Marker32 = 0xFFFFFFFF;
inline constexpr std::uint16_t Zip64Marker16 = 0xFFFF;

struct TZACentralHeader {
    static constexpr std::int32_t Size = 46;

    std::uint32_t Signature = 0;
    std::uint16_t VersionMadeBy = 0;
    std::uint16_t VersionNeeded = 0;
    std::uint16_t Flags = 0;
    std::uint16_t Method = 0;
    std::uint16_t Time = 0;
    std::uint16_t Date = 0;
    std::uint32_t Crc32 = 0;
    std::uint32_t CompressedSize = 0;   // 0xFFFFFFFF: the Zip64 value holds it
    std::uint32_t UncompressedSize = 0; // 0xFFFFFFFF: the Zip64 value holds it
    std::uint16_t NameLength = 0;
    std::uint16_t ExtraLength = 0;
    std::uint16_t CommentLength = 0;
    std::uint16_t DiskNumberStart = 0; // 0xFFFF: the Zip64 value holds it
    std::uint16_t InternalAttributes = 0;
    std::uint32_t ExternalAttributes = 0;
    std::uint32_t LocalHeaderOffset = 0; // 0xFFFFFFFF: the Zip64 value holds it
};

} // namespace zip
