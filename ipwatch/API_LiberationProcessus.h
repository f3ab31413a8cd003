// Working-set trimming: the program, hidden in the tray most of its life, hands its memory
// back to the system whenever it goes back to waiting.
#pragma once

#include <string>

namespace ipwatch {

// Empties the working set of the first running process (in pid order) whose executable
// file is named exactly ExeName, case included. Reports nothing, whatever fails.
void LibereMemoireProcessus(const std::string& ExeName);

} // namespace ipwatch
