// Bytes from the kernel's random source, for values that must not be guessable from a clock.
#pragma once

#include <cstddef>

namespace platform {

// Fills count bytes from getrandom(); throws std::system_error when the kernel cannot.
void RandomBytes(void* buffer, std::size_t count);

} // namespace platform
