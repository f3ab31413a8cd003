#include "ArchiveCorpus.h"

#include "BenchSupport.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>

namespace bench {

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, const std::string& data) {
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<long>(data.size()));
}

} // namespace

std::string StructuredData(std::size_t size, std::uint32_t seed) {
    static const char tags[][8] = {"OK     ", "RETRY  ", "TIMEOUT", "MOVED  "};
    std::mt19937 generator(seed);
    std::string data;
    data.reserve(size + 32);
    std::uint32_t id = generator() % 100000, stamp = 1700000000;
    double level = 20.0;
    while (data.size() < size) {
        char record[32] = {};
        ++id;
        stamp += generator() % 5;
        level += (static_cast<int>(generator() % 201) - 100) / 1000.0;
        const float value = static_cast<float>(level);
        std::memcpy(record, &id, 4);
        std::memcpy(record + 4, &stamp, 4);
        std::memcpy(record + 8, &value, 4);
        const std::uint16_t port = static_cast<std::uint16_t>(8000 + generator() % 4);
        std::memcpy(record + 12, &port, 2);
        std::memcpy(record + 16, tags[generator() % 4], 8);
        data.append(record, sizeof record);
    }
    data.resize(size);
    return data;
}

std::string RandomData(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::string data(size + 4, '\0');
    for (std::size_t i = 0; i < size; i += 4) {
        const std::uint32_t word = generator();
        std::memcpy(&data[i], &word, 4);
    }
    data.resize(size);
    return data;
}

TreeFigures MakeMixedCorpus(const fs::path& root, std::uint64_t totalBytes, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> logSize(std::log(256.0), std::log(512.0 * 1024));
    TreeFigures made;
    while (made.bytes < totalBytes) {
        const auto size = static_cast<std::size_t>(std::exp(logSize(generator)));
        const std::uint32_t kind = generator() % 6, dataSeed = generator();
        const fs::path folder =
            root / ("p" + std::to_string(made.files % 7)) / ("q" + std::to_string(made.files % 31));
        fs::create_directories(folder);
        const std::string name = "f" + std::to_string(made.files);
        if (kind < 3)
            WriteFile(folder / (name + ".txt"), TextData(size, dataSeed));
        else if (kind < 5)
            WriteFile(folder / (name + ".dat"), StructuredData(size, dataSeed));
        else
            WriteFile(folder / (name + ".bin"), RandomData(size, dataSeed));
        ++made.files;
        made.bytes += size;
    }
    return made;
}

TreeFigures MakeSmallFiles(const fs::path& root, std::size_t count, std::uint32_t seed) {
    std::mt19937 generator(seed);
    TreeFigures made;
    for (std::size_t i = 0; i < count; ++i) {
        const fs::path folder = root / ("d" + std::to_string(i % 100));
        if (i < 100)
            fs::create_directories(folder);
        const std::size_t size = 1000 + generator() % 7001;
        WriteFile(folder / ("f" + std::to_string(i) + ".txt"), TextData(size, generator()));
        ++made.files;
        made.bytes += size;
    }
    return made;
}

TreeFigures MakeBigFile(const fs::path& file, std::uint64_t bytes) {
    fs::create_directories(file.parent_path());
    WriteFile(file, TextData(static_cast<std::size_t>(bytes), 42));
    return {1, bytes};
}

} // namespace bench
