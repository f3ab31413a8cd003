// The fixed 46-byte part of a central directory header, field by field in file order, with the
// markers and the flag bits and methods its fields carry. The record code (ZARecords) reads and
// writes it; the directory keeps one per entry, and the cipher reads the flags.
#pragma once

#include <cstdint>

namespace zip {

// Markers: the real value stands in the Zip64 extra field or the Zip64 end record.
inline constexpr std::uint32_t Zip64Marker32 = 0xFFFFFFFF;
inline constexpr std::uint16_t Zip64Marker16 = 0xFFFF;

// General-purpose flag bits and compression methods the engine interprets.
inline constexpr std::uint16_t FlagEncrypted = 0x0001;
inline constexpr std::uint16_t FlagDataDescriptor = 0x0008;
inline constexpr std::uint16_t FlagUtf8Names = 0x0800;
inline constexpr std::uint16_t MethodStored = 0;
inline constexpr std::uint16_t MethodDeflated = 8;
inline constexpr std::uint16_t MethodDeflate64 = 9;

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

    // The fields in file order, the one list that reading and writing walk (ZARecords).
    template <class Self, class Visit> static void Fields(Self& h, Visit&& f) {
        f(h.Signature), f(h.VersionMadeBy), f(h.VersionNeeded), f(h.Flags), f(h.Method);
        f(h.Time), f(h.Date), f(h.Crc32), f(h.CompressedSize), f(h.UncompressedSize);
        f(h.NameLength), f(h.ExtraLength), f(h.CommentLength), f(h.DiskNumberStart);
        f(h.InternalAttributes), f(h.ExternalAttributes), f(h.LocalHeaderOffset);
    }
};

} // namespace zip
