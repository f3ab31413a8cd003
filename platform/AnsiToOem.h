// Entry names written in the OEM code page (CP850) when an archive keeps its names that way.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// UTF-8 text as CP850 bytes. Returns false, with oem holding a '?' for every character that
// CP850 has no place for, when the text cannot be written in CP850 exactly; bytes that are not
// valid UTF-8 are taken over as they stand.
bool AnsiToOem(std::string_view ansi, std::string& oem);

} // namespace platform
