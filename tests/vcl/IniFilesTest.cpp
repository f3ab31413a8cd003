#include "vcl/IniFiles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace vcl;
using namespace testsupport;

namespace {

TEST(IniFile, TypedValuesFollowTheFrameworkEncodings) {
    TempDir dir;
    WriteFile(dir / "s.ini",
              "[S]\nhex=0x1F\nHEX2=0XfF\nletters=abc\nneg=-12\nshort=0x\nbool=7\nzero=0\n");
    TIniFile ini(dir / "s.ini");
    EXPECT_EQ(ini.ReadInteger("S", "hex", 0), 31);
    EXPECT_EQ(ini.ReadInteger("s", "hex2", 0), 255);
    EXPECT_EQ(ini.ReadInteger("S", "letters", 5), 5);
    EXPECT_EQ(ini.ReadInteger("S", "neg", 0), -12);
    EXPECT_EQ(ini.ReadInteger("S", "short", 3), 3);
    EXPECT_TRUE(ini.ReadBool("S", "bool", false));
    EXPECT_FALSE(ini.ReadBool("S", "zero", true));
    EXPECT_TRUE(ini.ReadBool("S", "missing", true));
    EXPECT_TRUE(ini.ValueExists("s", "LETTERS"));
    EXPECT_FALSE(ini.ValueExists("S", "lett"));
    EXPECT_TRUE(ini.SectionExists("S"));

    ini.WriteBool("S", "b", true);
    ini.WriteInteger("S", "i", -3);
    EXPECT_EQ(ini.ReadString("S", "b", ""), "1");
    EXPECT_EQ(ini.ReadString("S", "i", ""), "-3");
}

TEST(IniFile, ARefusedWriteRaisesTheFrameworksError) {
    TempDir dir;
    TIniFile ini(dir / "missing/s.ini");
    try {
        ini.WriteString("S", "k", "v");
        FAIL();
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Impossible d'écrire dans " + dir / "missing/s.ini");
    }
    EXPECT_NO_THROW(ini.EraseSection("S")); // nothing to erase
}

} // namespace
