// The entry search behind FindFirst and FindNext.
#pragma once

#include "zip/ZipArchiver.h"

namespace zip {

// Fills the reported fields of item from a directory entry (the search state is left alone).
void FillArchiveItem(const TDirItem& entry, TZAArchiveItem& item);

} // namespace zip
