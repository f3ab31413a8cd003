// Available physical memory, the figure the archive reader sizes its decompression steps by.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

// MemAvailable of /proc/meminfo, lowered to the headroom (limit minus usage) of the memory
// cgroup the process runs in and of each cgroup above it, when one sets a limit. 0 when no
// figure can be read. The figure is read again at most every 100 ms.
std::int64_t AvailablePhysicalMemory();

// The parts, for tests: the MemAvailable figure of a /proc/meminfo text, in bytes.
std::optional<std::int64_t> ParseMemAvailable(std::string_view meminfo);
// A cgroup's headroom from its limit file ("max" or bytes) and its usage file; nothing
// when the limit is unset or either text is not a number.
std::optional<std::int64_t> CgroupHeadroom(std::string_view limit, std::string_view usage);

} // namespace platform
