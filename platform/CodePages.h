// The OEM code page of archive entry names. Names are UTF-8 inside the programs; archives
// written by DOS-era tools hold them in CP850, and archives that keep their names that way are
// written in it.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// CP850 bytes as UTF-8. A byte the conversion cannot take is kept as it stands.
std::string OemToAnsi(std::string_view oem);

// UTF-8 text as CP850 bytes. Returns false, with oem holding a '?' for every character that
// CP850 has no place for, when the text cannot be written in CP850 exactly; bytes that are not
// valid UTF-8 are taken over as they stand.
bool AnsiToOem(std::string_view ansi, std::string& oem);

} // namespace platform
