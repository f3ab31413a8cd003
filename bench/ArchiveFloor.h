// The floor of extraction: every entry of an archive decoded from the mapped file with a
// codec called directly (raw inflate for deflated entries, a copy for stored ones) and its
// CRC-32 computed, nothing written. No tool can extract faster than its codec decodes.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

struct FloorResult {
    bool ok = false;               // every entry decoded to its size and CRC
    std::size_t entries = 0;       // entries in the directory
    std::uint64_t outputBytes = 0; // uncompressed bytes of all entries
};

// zlib's inflate and crc32.
FloorResult ZlibFloor(const std::string& archive);
// ISA-L's igzip raw inflate and its CRC-32; ok false when the benchmark was built without it.
FloorResult IsalFloor(const std::string& archive);
bool IsalFloorBuilt();

} // namespace bench
