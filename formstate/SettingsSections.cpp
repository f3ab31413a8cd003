#include "formstate/SettingsSections.h"

#include "vcl/SysUtils.h"

namespace formstate {

namespace {
std::string LineKey(int i) {
    return "L" + std::to_string(i);
}
std::string CellKey(int col, int row) {
    return "C" + std::to_string(col) + "L" + std::to_string(row);
}
} // namespace

void SauveListe(vcl::TIniFile& Ini, const std::string& Section, const vcl::TStrings& List,
                int ItemIndex) {
    Ini.EraseSection(Section);
    for (int i = 0; i < List.Count(); ++i)
        Ini.WriteString(Section, LineKey(i), List.Get(i));
    Ini.WriteInteger(Section, "ItemIndex", ItemIndex);
}

void ChargeListe(const vcl::TIniFile& Ini, const std::string& Section, vcl::TStrings& List,
                 int& ItemIndex) {
    List.Clear();
    for (int i = 0; Ini.ValueExists(Section, LineKey(i)); ++i)
        List.Add(Ini.ReadString(Section, LineKey(i), ""));
    ItemIndex = Ini.ReadInteger(Section, "ItemIndex", 0);
}

void SauveGrille(vcl::TIniFile& Ini, const std::string& Section, const vcl::TStringGrid& Grid) {
    Ini.EraseSection(Section);
    Ini.WriteInteger(Section, "COLCOUNT", Grid.ColCount());
    Ini.WriteInteger(Section, "ROWCOUNT", Grid.RowCount());
    Ini.WriteInteger(Section, "COL", Grid.Col());
    Ini.WriteInteger(Section, "ROW", Grid.Row());
    Ini.WriteInteger(Section, "TAG", static_cast<int>(Grid.Tag()));
    for (int r = 0; r < Grid.RowCount(); ++r)
        for (int c = 0; c < Grid.ColCount(); ++c)
            if (std::string cell = Grid.Cells(c, r); !vcl::Trim(cell).empty())
                Ini.WriteString(Section, CellKey(c, r), cell);
}

void ChargeGrille(const vcl::TIniFile& Ini, const std::string& Section, vcl::TStringGrid& Grid) {
    if (!Ini.ValueExists(Section, "COLCOUNT"))
        return;
    Grid.SetColCount(Ini.ReadInteger(Section, "COLCOUNT", Grid.ColCount()));
    Grid.SetRowCount(Ini.ReadInteger(Section, "ROWCOUNT", Grid.RowCount()));
    Grid.SetCol(Ini.ReadInteger(Section, "COL", Grid.Col()));
    Grid.SetRow(Ini.ReadInteger(Section, "ROW", Grid.Row()));
    Grid.SetTag(Ini.ReadInteger(Section, "TAG", static_cast<int>(Grid.Tag())));
    for (int r = 0; r < Grid.RowCount(); ++r)
        for (int c = 0; c < Grid.ColCount(); ++c)
            Grid.SetCells(c, r, Ini.ReadString(Section, CellKey(c, r), ""));
}

} // namespace formstate
