#include "platform/Memory.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>

namespace platform {

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        return {};
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::optional<std::int64_t> Number(std::string_view s) {
    s = Trimmed(s);
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (error != std::errc() || end != s.data() + s.size() || value < 0)
        return std::nullopt;
    return value;
}

// v1 sets "no limit" as a huge page-rounded number; anything past 2^62 means the same.
constexpr std::int64_t UnlimitedFloor = std::int64_t{1} << 62;

// The smallest headroom of the cgroup at rel (below root) and of every cgroup above it.
std::optional<std::int64_t> SmallestHeadroom(const std::string& root, std::string rel,
                                             const char* limitFile, const char* usageFile) {
    std::optional<std::int64_t> best;
    for (;;) {
        const std::string dir = root + rel;
        auto room =
            CgroupHeadroom(ReadText(dir + "/" + limitFile), ReadText(dir + "/" + usageFile));
        if (room && (!best || *room < *best))
            best = room;
        if (rel.empty() || rel == "/")
            break;
        auto slash = rel.rfind('/');
        rel.erase(slash == std::string::npos ? 0 : slash);
    }
    return best;
}

// From /proc/self/cgroup: the unified ("0::") path and the v1 memory controller's path.
void CgroupPaths(std::string& unified, std::string& memoryV1) {
    std::istringstream lines(ReadText("/proc/self/cgroup"));
    std::string line;
    while (std::getline(lines, line)) {
        auto first = line.find(':');
        auto second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos)
            continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (line.compare(0, first, "0") == 0 && controllers.empty())
            unified = path;
        std::istringstream names(controllers);
        std::string name;
        while (std::getline(names, name, ','))
            if (name == "memory")
                memoryV1 = path;
    }
}

} // namespace

std::optional<std::int64_t> ParseMemAvailable(std::string_view meminfo) {
    constexpr std::string_view key = "MemAvailable:";
    auto at = meminfo.find(key);
    if (at == std::string_view::npos || (at != 0 && meminfo[at - 1] != '\n'))
        return std::nullopt;
    std::string_view rest = meminfo.substr(at + key.size());
    rest = rest.substr(0, rest.find('\n'));
    rest = Trimmed(rest);
    auto unit = rest.find(' ');
    std::int64_t scale = 1;
    if (unit != std::string_view::npos) {
        if (Trimmed(rest.substr(unit)) != "kB")
            return std::nullopt;
        scale = 1024;
        rest = rest.substr(0, unit);
    }
    auto kb = Number(rest);
    if (!kb || *kb > INT64_MAX / scale)
        return std::nullopt;
    return *kb * scale;
}

std::optional<std::int64_t> CgroupHeadroom(std::string_view limit, std::string_view usage) {
    auto max = Number(limit);
    auto used = Number(usage);
    if (!max || !used || *max >= UnlimitedFloor)
        return std::nullopt;
    return std::max<std::int64_t>(*max - *used, 0);
}

namespace {

std::int64_t ReadAvailablePhysicalMemory() {
    std::int64_t available = ParseMemAvailable(ReadText("/proc/meminfo")).value_or(0);
    std::string unified, memoryV1;
    CgroupPaths(unified, memoryV1);
    std::optional<std::int64_t> room;
    if (!unified.empty())
        room = SmallestHeadroom("/sys/fs/cgroup", unified, "memory.max", "memory.current");
    if (!room && !memoryV1.empty())
        room = SmallestHeadroom("/sys/fs/cgroup/memory", memoryV1, "memory.limit_in_bytes",
                                "memory.usage_in_bytes");
    if (room && (available == 0 || *room < available))
        available = *room;
    return available;
}

} // namespace

std::int64_t AvailablePhysicalMemory() {
    // Reading the figure opens up to a dozen files (some 75 us under a v1 cgroup), and the
    // archive reader asks once per entry: thousands of small entries spent more time here
    // than decoding. A figure a tenth of a second old sizes buffers just as well.
    using Clock = std::chrono::steady_clock;
    static std::mutex lock;
    static Clock::time_point readAt;
    static std::int64_t figure = 0;
    const std::lock_guard<std::mutex> guard(lock);
    const Clock::time_point now = Clock::now();
    if (readAt == Clock::time_point() || now - readAt >= std::chrono::milliseconds(100)) {
        figure = ReadAvailablePhysicalMemory();
        readAt = now;
    }
    return figure;
}

} // namespace platform
