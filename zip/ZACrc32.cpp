#include "zip/ZACrc32.h"

#include <zlib.h>

namespace zip {

std::uint32_t UpdateCrc32(std::uint32_t crc, const void* buffer, std::int64_t count) {
    if (!buffer || count <= 0)
        return crc;
    // zlib's crc32 computes the same function, word-parallel, and inverts on the way in and
    // out; undoing both inversions leaves the plain running update.
    uLong zcrc = crc32_z(~crc & 0xFFFFFFFFu, static_cast<const Bytef*>(buffer),
                         static_cast<z_size_t>(count));
    return ~static_cast<std::uint32_t>(zcrc);
}

} // namespace zip
