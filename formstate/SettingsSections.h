// List and grid sections of the settings file: a list as "L0", "L1", ... and "ItemIndex";
// a grid as its counts, current cell and Tag, then "C<col>L<row>" for each non-blank cell.
// Each section is erased before it is written, so no key of a longer list survives.
#pragma once

#include "vcl/Classes.h"
#include "vcl/Grids.h"
#include "vcl/IniFiles.h"

#include <string>

namespace formstate {

void SauveListe(vcl::TIniFile& Ini, const std::string& Section, const vcl::TStrings& List,
                int ItemIndex);
// Clears List, then reads "L0", "L1", ... up to the first missing index; returns "ItemIndex".
void ChargeListe(const vcl::TIniFile& Ini, const std::string& Section, vcl::TStrings& List,
                 int& ItemIndex);

void SauveGrille(vcl::TIniFile& Ini, const std::string& Section, const vcl::TStringGrid& Grid);
// Does nothing unless "COLCOUNT" is there. A current cell the grid refuses ends the load
// there, with the counts already applied.
void ChargeGrille(const vcl::TIniFile& Ini, const std::string& Section, vcl::TStringGrid& Grid);

} // namespace formstate
