#include "platform/Random.h"

#include <cerrno>
#include <sys/random.h>
#include <system_error>

namespace platform {

void RandomBytes(void* buffer, std::size_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        ssize_t got = ::getrandom(out, count, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        out += got;
        count -= static_cast<std::size_t>(got);
    }
}

} // namespace platform
