// Well-known folders: the user's application-data folder and the program's own folder.
#pragma once

#include <string>

namespace platform {

constexpr int CSIDL_PERSONAL = 5;
constexpr int CSIDL_APPDATA = 26;

// The path of a special folder, without a trailing "/": CSIDL_APPDATA is $XDG_CONFIG_HOME,
// else $HOME/.config; CSIDL_PERSONAL is $HOME. Any other folder, or one that cannot be told,
// gives "".
std::string SpecialFolderPath(int csidl);

// The folder of the running executable, with a trailing "/".
std::string ProgramFolder();
// The running executable's full path.
std::string ProgramPath();

} // namespace platform
