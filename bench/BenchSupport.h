// What the benchmark programs share: their test data, best-of-n timing and the figure line.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// Text-like data: words drawn at random from a small vocabulary, so it deflates about as
// well as documents and programs do (roughly 3:1), not like zeros or noise.
inline std::string TextData(std::size_t size, std::uint32_t seed = 42) {
    const char* words[] = {"archive ", "entry ", "volume ", "header ", "deflate ", "the ",
                           "of ",      "and ",   "data\n",  "0x1F ",   "name=",    "size: "};
    std::mt19937 generator(seed);
    std::string data;
    data.reserve(size + 16);
    while (data.size() < size) {
        data += words[generator() % 12];
        if (generator() % 8 == 0)
            data.push_back(static_cast<char>(generator()));
    }
    data.resize(size);
    return data;
}

// The fastest of runs timings of work, in seconds.
inline double BestSeconds(int runs, const std::function<void()>& work) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

// The middle value, or the mean of the two middle ones; 0 for none.
inline double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One figure line: both throughputs and how many times faster the engine is.
inline void Report(const char* what, std::size_t bytes, double engine, double zlib) {
    const double mb = static_cast<double>(bytes) / 1e6;
    std::printf("%-34s engine %8.1f MB/s   zlib %8.1f MB/s   ratio %.2f\n", what, mb / engine,
                mb / zlib, zlib / engine);
}

} // namespace bench
