// Opening a document or starting a program by file name, as the desktop shell does.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Performs the verb "open" (in any case) on a file: an executable file is started directly,
// with no arguments, in a session of its own, and not waited for; any other existing file
// goes to the desktop's opener (xdg-open) when there is one. Returns whether something was
// started. Never shows anything of its own, whatever fails.
bool ShellExecute(std::string_view verb, const std::string& file);

} // namespace platform
