// The OEM code page of archive entry names. Names are UTF-8 inside the programs; archives
// written by DOS-era tools hold them in CP850.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// CP850 bytes as UTF-8. A byte the conversion cannot take is kept as it stands.
std::string OemToAnsi(std::string_view oem);

} // namespace platform
