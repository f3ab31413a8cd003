// Built into a folder of its own, where neither the updater nor the help file stands.
#include "KestrovaFixture.h"

#include "platform/SpecialFolders.h"
#include "vcl/SysUtils.h"

using namespace testsupport;

namespace {

class MissingFilesTest : public KestrovaTest {};

TEST_F(MissingFilesTest, AMissingUpdaterOrHelpFileGivesNoMessage) {
    ASSERT_FALSE(vcl::FileExists(platform::ProgramFolder() + "Tamrel.exe"));
    ASSERT_FALSE(vcl::FileExists(platform::ProgramFolder() + "Kestrova.chm"));
    Start();
    form1->Button11->Click();
    form1->SpeedButton2->Click();
    app->ProcessMessages();
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_TRUE(form1->Visible());
}

} // namespace
