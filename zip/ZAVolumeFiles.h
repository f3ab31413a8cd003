// The files and disks of split and spanned sets: what names them, where they are, how much
// room a disk has left.
#pragma once

#include <cstdint>
#include <string>

namespace zip {

// The self-extractor name test: the extension, in lower case, begins with ".exe".
bool IsExeFileName(const std::string& fileName);
// The bytes available to the caller on the volume that holds path.
std::int64_t GetDiskFreeBytes(const std::string& path);
// The label a spanned set's disk gets: "pkback# 001" for the first volume.
std::string DiskLabel(std::int32_t volumeNumber);
// The file that holds a volume: the name itself, else a file of that name in another letter
// case in the same folder (Info-ZIP writes "x.z01" where the engine asks for "x.Z01"); "" when
// there is none.
std::string ExistingVolumeFile(const std::string& fileName);

} // namespace zip
