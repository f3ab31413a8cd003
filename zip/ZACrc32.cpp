#include "zip/ZACrc32.h"

#if ZIP_CRC32_ISAL
#include <isa-l/crc.h>
#else
#include <zlib.h>
#endif

namespace zip {

std::uint32_t UpdateCrc32(std::uint32_t crc, const void* buffer, std::int64_t count) {
    if (!buffer || count <= 0)
        return crc;
        // zlib's crc32 (and ISA-L's, built with its codec) computes the same function,
        // word-parallel or carry-less, and inverts on the way in and out; undoing both inversions
        // leaves the plain running update.
#if ZIP_CRC32_ISAL
    return ~crc32_gzip_refl(~crc, static_cast<const unsigned char*>(buffer),
                            static_cast<std::uint64_t>(count));
#else
    uLong zcrc = crc32_z(~crc & 0xFFFFFFFFu, static_cast<const Bytef*>(buffer),
                         static_cast<z_size_t>(count));
    return ~static_cast<std::uint32_t>(zcrc);
#endif
}

} // namespace zip
