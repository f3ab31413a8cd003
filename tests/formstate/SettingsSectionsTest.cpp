#include "formstate/SettingsSections.h"
#include "support/TempDir.h"

#include "vcl/Forms.h"

#include <gtest/gtest.h>

using namespace testsupport;
using namespace formstate;

namespace {

class SettingsSectionsTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string file = dir / "serie.ini";
    vcl::TIniFile ini{file};
};

TEST_F(SettingsSectionsTest, ListsLoadUpToTheFirstMissingLine) {
    struct Case {
        const char* name;
        const char* section;
        std::vector<std::string> lines;
        int itemIndex;
    } cases[] = {
        {"gap after L1", "[S]\nL0=a\nL1=b\nL3=d\nItemIndex=4\n", {"a", "b"}, 4},
        {"no L0", "[S]\nL1=b\nL2=c\n", {}, 0},
        {"empty lines", "[S]\nL0=\nL1=x\nL2=\n", {"", "x", ""}, 0},
        {"no section", "[Other]\nL0=a\n", {}, 0},
        {"names in other case", "[s]\nl0=a\nitemindex=0x1F\n", {"a"}, 31},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(file, c.section);
        vcl::TStringList list({"stale"});
        int index = -99;
        ChargeListe(ini, "S", list, index);
        EXPECT_EQ(list.Lines(), c.lines);
        EXPECT_EQ(index, c.itemIndex);
    }
}

TEST_F(SettingsSectionsTest, ASavedListReplacesALongerOne) {
    SauveListe(ini, "S", vcl::TStringList({"1", "2", "3"}), 2);
    SauveListe(ini, "S", vcl::TStringList({"only"}), 0);
    EXPECT_EQ(ReadFile(file), "[S]\nL0=only\nItemIndex=0\n");
}

class GridTest : public SettingsSectionsTest {
protected:
    vcl::TApplication app;
    vcl::TForm* form = vcl::Create<vcl::TForm>(&app);
    vcl::TStringGrid* grid = vcl::Create<vcl::TStringGrid>(form);
};

TEST_F(GridTest, BlankCellsGetNoKey) {
    grid->SetCells(2, 2, "  \t ");
    SauveGrille(ini, "G", *grid);
    EXPECT_EQ(ReadFile(file), "[G]\nCOLCOUNT=5\nROWCOUNT=5\nCOL=1\nROW=1\nTAG=0\n");

    grid->SetCells(0, 0, "stale");
    ChargeGrille(ini, "G", *grid);
    EXPECT_EQ(grid->Cells(0, 0), ""); // every cell is set, missing keys to ""
}

TEST_F(GridTest, ASectionWithoutColumnCountLeavesTheGrid) {
    WriteFile(file, "[G]\nROWCOUNT=2\nC0L0=x\n");
    grid->SetCells(0, 0, "kept");
    ChargeGrille(ini, "G", *grid);
    EXPECT_EQ(grid->RowCount(), 5);
    EXPECT_EQ(grid->Cells(0, 0), "kept");
}

TEST_F(GridTest, CellsAreKeyedByColumnThenRow) {
    WriteFile(file,
              "[G]\nCOLCOUNT=3\nROWCOUNT=6\nCOL=2\nROW=5\nTAG=-1\nC2L5=corner\nC0L0=origin\n");
    ChargeGrille(ini, "G", *grid);
    EXPECT_EQ(grid->Cells(2, 5), "corner");
    EXPECT_EQ(grid->Cells(0, 0), "origin");
    EXPECT_EQ(grid->Col(), 2);
    EXPECT_EQ(grid->Row(), 5);
    EXPECT_EQ(grid->Tag(), -1);
}

} // namespace
