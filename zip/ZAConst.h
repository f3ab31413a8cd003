// The engine's message table and the map from native error codes to its entries.
#pragma once

#include <string_view>

namespace zip {

constexpr int ZAMessageCount = 34;

// The message index for a native error code: 0 ("Unknown error") for a code the map does not
// know, -1 for the codes that carry no text.
int ZAMessageIndex(int nativeCode);

// The text at a message index; empty for -1 or any index outside the table.
std::string_view ZAMessageText(int index);

} // namespace zip
