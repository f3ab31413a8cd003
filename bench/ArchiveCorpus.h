// The benchmark's data, made reproducibly from seeds in a folder: a mixed corpus (text,
// structured binary records, random bytes, folders of many sizes), many small text files,
// and one large text file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace bench {

struct TreeFigures {
    std::size_t files = 0;
    std::uint64_t bytes = 0;
};

// Files of 256 B to 512 KiB (log-uniform) until about totalBytes: half text, a third
// structured binary, the rest random, spread over nested folders.
TreeFigures MakeMixedCorpus(const std::filesystem::path& root, std::uint64_t totalBytes,
                            std::uint32_t seed);
// count text files of 1 to 8 KB in 100 folders.
TreeFigures MakeSmallFiles(const std::filesystem::path& root, std::size_t count,
                           std::uint32_t seed);
// One text file of bytes bytes.
TreeFigures MakeBigFile(const std::filesystem::path& file, std::uint64_t bytes);

// Fixed-size binary records (counters, slowly moving measurements, a few tags), so it deflates
// like tables and logs of a program do.
std::string StructuredData(std::size_t size, std::uint32_t seed);
std::string RandomData(std::size_t size, std::uint32_t seed);

} // namespace bench
