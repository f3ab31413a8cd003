#include "ArchiveFloor.h"

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>
#if BENCH_HAVE_ISAL
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#endif

namespace bench {

namespace {

// The decoders write into one buffer of this size, as a tool writing its output in steps
// would: the floor then measures decoding, not page faults of a huge output block.
constexpr std::size_t StepSize = 256 * 1024;

std::uint32_t U16(const std::uint8_t* p) {
    return p[0] | (std::uint32_t{p[1]} << 8);
}
std::uint32_t U32(const std::uint8_t* p) {
    return U16(p) | (U16(p + 2) << 16);
}

// A read-only map of a whole file.
class Mapped {
public:
    explicit Mapped(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (fd >= 0)
                ::close(fd);
            return;
        }
        size_ = static_cast<std::size_t>(st.st_size);
        void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        ::close(fd);
        if (p != MAP_FAILED)
            data_ = static_cast<const std::uint8_t*>(p);
    }
    ~Mapped() {
        if (data_)
            ::munmap(const_cast<std::uint8_t*>(data_), size_);
    }
    Mapped(const Mapped&) = delete;
    Mapped& operator=(const Mapped&) = delete;
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

struct Entry {
    const std::uint8_t* data;
    std::size_t compressed;
    std::size_t uncompressed;
    std::uint32_t method;
    std::uint32_t crc;
};

// The entries of a plain archive (no Zip64, no prefix, one volume): the benchmark's own
// archives are all of that kind.
bool ReadEntries(const Mapped& map, std::vector<Entry>& entries) {
    const std::uint8_t* base = map.data();
    const std::size_t size = map.size();
    if (!base || size < 22)
        return false;
    std::size_t end = size - 22;
    while (U32(base + end) != 0x06054b50) {
        if (end == 0 || size - end > 65557)
            return false;
        --end;
    }
    const std::size_t count = U16(base + end + 10);
    std::size_t at = U32(base + end + 16);
    for (std::size_t i = 0; i < count; ++i) {
        if (at + 46 > size || U32(base + at) != 0x02014b50)
            return false;
        const std::uint8_t* h = base + at;
        const std::size_t local = U32(h + 42);
        if (local + 30 > size)
            return false;
        const std::uint8_t* l = base + local;
        Entry e{l + 30 + U16(l + 26) + U16(l + 28), U32(h + 20), U32(h + 24), U16(h + 10),
                U32(h + 16)};
        if (static_cast<std::size_t>(e.data - base) + e.compressed > size)
            return false;
        entries.push_back(e);
        at += 46 + U16(h + 28) + U16(h + 30) + U16(h + 32);
    }
    return true;
}

} // namespace

FloorResult ZlibFloor(const std::string& archive) {
    FloorResult result;
    Mapped map(archive);
    std::vector<Entry> entries;
    if (!ReadEntries(map, entries))
        return result;
    std::vector<Bytef> out(StepSize);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return result;
    bool ok = true;
    for (const Entry& e : entries) {
        uLong crc = crc32(0, nullptr, 0);
        std::size_t made = 0;
        if (e.method == 0) {
            crc = crc32_z(crc, e.data, e.compressed);
            made = e.compressed;
        } else {
            inflateReset(&z);
            z.next_in = const_cast<Bytef*>(e.data);
            z.avail_in = static_cast<uInt>(e.compressed);
            int r = Z_OK;
            while (r == Z_OK) {
                z.next_out = out.data();
                z.avail_out = static_cast<uInt>(out.size());
                r = inflate(&z, Z_NO_FLUSH);
                const std::size_t n = out.size() - z.avail_out;
                crc = crc32_z(crc, out.data(), n);
                made += n;
            }
            ok = ok && r == Z_STREAM_END;
        }
        ok = ok && made == e.uncompressed && crc == e.crc;
        result.outputBytes += made;
    }
    inflateEnd(&z);
    result.entries = entries.size();
    result.ok = ok;
    return result;
}

#if BENCH_HAVE_ISAL
bool IsalFloorBuilt() {
    return true;
}

FloorResult IsalFloor(const std::string& archive) {
    FloorResult result;
    Mapped map(archive);
    std::vector<Entry> entries;
    if (!ReadEntries(map, entries))
        return result;
    std::vector<std::uint8_t> out(StepSize);
    auto state = std::make_unique<inflate_state>();
    bool ok = true;
    for (const Entry& e : entries) {
        std::uint32_t crc = 0;
        std::size_t made = 0;
        if (e.method == 0) {
            crc = crc32_gzip_refl(crc, e.data, e.compressed);
            made = e.compressed;
        } else {
            isal_inflate_init(state.get());
            state->next_in = const_cast<std::uint8_t*>(e.data);
            state->avail_in = static_cast<std::uint32_t>(e.compressed);
            int r = ISAL_DECOMP_OK;
            while (r == ISAL_DECOMP_OK && state->block_state != ISAL_BLOCK_FINISH) {
                state->next_out = out.data();
                state->avail_out = static_cast<std::uint32_t>(out.size());
                r = isal_inflate(state.get());
                const std::size_t n = out.size() - state->avail_out;
                if (n == 0 && state->block_state != ISAL_BLOCK_FINISH)
                    break;
                crc = crc32_gzip_refl(crc, out.data(), n);
                made += n;
            }
            ok = ok && state->block_state == ISAL_BLOCK_FINISH;
        }
        ok = ok && made == e.uncompressed && crc == e.crc;
        result.outputBytes += made;
    }
    result.entries = entries.size();
    result.ok = ok;
    return result;
}
#else
bool IsalFloorBuilt() {
    return false;
}

FloorResult IsalFloor(const std::string&) {
    return {};
}
#endif

} // namespace bench
