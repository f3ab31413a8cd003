#include "TestForm.h"
#include "support/TempDir.h"

#include "vcl/DateUtils.h"
#include "vcl/Dialogs.h"
#include "vcl/Forms.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/wait.h>

using namespace testsupport;
using formstate::TSvgEditIni;
using vcl::TCloseAction;

namespace {

class SvgEditIniTest : public ::testing::Test {
protected:
    void SetUp() override {
        vcl::FormatSettings().ShortDateFormat = "dd/mm/yyyy";
        vcl::FormatSettings().LongTimeFormat = "hh:nn:ss";
        vcl::FormatSettings().DateSeparator = '/';
        vcl::FormatSettings().TimeSeparator = ':';
        NewApplication();
    }

    // A fresh application, as at a new start of the program.
    void NewApplication() {
        app.reset();
        app = std::make_unique<vcl::TApplication>();
    }

    TTestForm* Form(std::string name = "Form1", TTestForm::Configure configure = {}) {
        return app->CreateForm<TTestForm>(std::move(name), std::move(configure));
    }

    std::string Settings() const { return ReadFile(home.SettingsFile()); }
    void WriteSettings(const std::string& text) {
        vcl::ForceDirectories(home.SettingsFolder());
        WriteFile(home.SettingsFile(), text);
    }

    // What a save that fails tells the user.
    std::string Refused(int error) const {
        return "Vos paramètres n'ont pas été enregistrés.\rImpossible d'écrire dans " +
               home.SettingsFile() + " :\r" + std::strerror(error) + ".";
    }
    std::vector<std::string> Boxes() {
        std::vector<std::string> texts;
        for (const vcl::TDialogRequest& box : dialogs->shown)
            texts.push_back(box.text);
        return texts;
    }

    ConfigHome home;
    std::unique_ptr<vcl::TApplication> app;
    vcl::TScriptedDialogs dialogs;
};

TEST_F(SvgEditIniTest, FirstStartCreatesThePrivateFolderButNoFileAndAppliesTheDefaults) {
    TTestForm* f = Form();
    EXPECT_TRUE(vcl::DirectoryExists(home.SettingsFolder()));
    EXPECT_EQ(Mode(home.SettingsFolder()), 0700u);
    EXPECT_FALSE(Exists(home.SettingsFile()));

    EXPECT_EQ(f->user_name->Text(), "designed");
    EXPECT_EQ(f->Edit1->Text(), "no underscore");
    EXPECT_TRUE(f->qv_box->Checked());
    EXPECT_TRUE(f->qv_radio->Checked());
    EXPECT_EQ(f->qv_spin->Value(), 0);
    EXPECT_EQ(f->Message_qv->Lines().Count(), 0);
    EXPECT_EQ(f->memo1->Lines().Count(), 0);
    EXPECT_EQ(f->qv_combo->Items().Count(), 0);
    EXPECT_EQ(f->qv_combo->ItemIndex(), -1);
    EXPECT_EQ(f->qv_grid->Cells(1, 1), "designed cell");
    EXPECT_DOUBLE_EQ(f->qv_date->DateTime(), vcl::EncodeDate(2001, 2, 3));
}

TEST_F(SvgEditIniTest, EveryKindSurvivesARestart) {
    TTestForm* f = Form();
    f->user_name->SetText("alice@example.org");
    f->qv_box->SetChecked(false);
    f->qv_radio->SetChecked(false);
    f->qv_spin->SetValue(-42);
    f->Message_qv->Lines().Assign(std::vector<std::string>{"first", "", "third é"});
    f->qv_date->SetDateTime(vcl::EncodeDate(2024, 12, 31) + vcl::EncodeTime(23, 59, 58, 0));
    f->qv_rich->Lines().Assign(std::vector<std::string>{"rich", "text"});
    f->qv_combo->Items().Assign(std::vector<std::string>{"a", "b", "c"});
    f->qv_combo->SetItemIndex(2);
    f->qv_list->Items().Assign(std::vector<std::string>{"x", "y"});
    f->qv_list->SetItemIndex(1);
    f->qv_grid->SetColCount(3);
    f->qv_grid->SetRowCount(4);
    f->qv_grid->SetCol(2);
    f->qv_grid->SetRow(3);
    f->qv_grid->SetTag(77);
    f->qv_grid->SetCells(1, 1, "");
    f->qv_grid->SetCells(0, 3, " padded ");
    f->SvgEditIni1->Sauve();

    NewApplication();
    TTestForm* g = Form();
    EXPECT_EQ(g->user_name->Text(), "alice@example.org");
    EXPECT_FALSE(g->qv_box->Checked());
    EXPECT_FALSE(g->qv_radio->Checked());
    EXPECT_EQ(g->qv_spin->Value(), -42);
    EXPECT_EQ(g->Message_qv->Lines().Lines(), (std::vector<std::string>{"first", "", "third é"}));
    EXPECT_DOUBLE_EQ(g->qv_date->DateTime(),
                     vcl::EncodeDate(2024, 12, 31) + vcl::EncodeTime(23, 59, 58, 0));
    EXPECT_EQ(g->qv_rich->Lines().Lines(), (std::vector<std::string>{"rich", "text"}));
    EXPECT_EQ(g->qv_combo->Items().Lines(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(g->qv_combo->ItemIndex(), 2);
    EXPECT_EQ(g->qv_list->ItemIndex(), 1);
    EXPECT_EQ(g->qv_grid->ColCount(), 3);
    EXPECT_EQ(g->qv_grid->RowCount(), 4);
    EXPECT_EQ(g->qv_grid->Col(), 2);
    EXPECT_EQ(g->qv_grid->Row(), 3);
    EXPECT_EQ(g->qv_grid->Tag(), 77);
    EXPECT_EQ(g->qv_grid->Cells(0, 3), " padded ");
    EXPECT_EQ(g->qv_grid->Cells(1, 1), "");

    // Controls without "_" in their name are never written.
    std::string text = Settings();
    EXPECT_EQ(text.find("Edit1"), std::string::npos);
    EXPECT_EQ(text.find("memo1"), std::string::npos);
    // Single values in creation order, then each list section on its own.
    EXPECT_EQ(text.substr(0, text.find("[Form1Message_qv]")),
              "[Form1]\nuser_name=alice@example.org\nqv_box=0\nqv_radio=0\nqv_spin=-42\n"
              "qv_date=31/12/2024 23:59:58\n");
    EXPECT_NE(text.find("[Form1Message_qv]\nL0=first\nL1=\nL2=third é\nItemIndex=0\n"),
              std::string::npos);
    EXPECT_NE(
        text.find(
            "[Form1qv_grid]\nCOLCOUNT=3\nROWCOUNT=4\nCOL=2\nROW=3\nTAG=77\nC0L3=\" padded \"\n"),
        std::string::npos);
    EXPECT_EQ(Mode(home.SettingsFile()), 0600u);
}

TEST_F(SvgEditIniTest, ControlsWithoutUnderscoreAreRestoredWhenTheFileHasThem) {
    WriteSettings("[Form1]\nEdit1=from the file\n[Form1memo1]\nL0=old result\nItemIndex=0\n");
    TTestForm* f = Form();
    EXPECT_EQ(f->Edit1->Text(), "from the file");
    EXPECT_EQ(f->memo1->Lines().Lines(), std::vector<std::string>{"old result"});
}

TEST_F(SvgEditIniTest, EditBoxesKeepTheirTextOnlyWhenTheKeyIsMissing) {
    WriteSettings("[Form1]\nuser_name=\n");
    EXPECT_EQ(Form()->user_name->Text(), ""); // present and empty: emptied
    NewApplication();
    WriteSettings("[Form1]\nuser_name=%ù@à*£\n");
    EXPECT_EQ(Form()->user_name->Text(), "designed"); // the sentinel itself reads as missing
}

TEST_F(SvgEditIniTest, AFileInTheWindowsProfileFormReadsBack) {
    WriteSettings(
        "; written by hand\r\n[FORM1]\r\n  USER_NAME = bob  \r\nQV_SPIN=0x1F\r\nqv_box = 0\r\n"
        "\r\n[form1MESSAGE_QV]\r\nl0 = hello\r\nL1=\r\n");
    TTestForm* f = Form();
    EXPECT_EQ(f->user_name->Text(), "bob");
    EXPECT_EQ(f->qv_spin->Value(), 31);
    EXPECT_FALSE(f->qv_box->Checked());
    EXPECT_EQ(f->Message_qv->Lines().Lines(), (std::vector<std::string>{"hello", ""}));
}

TEST_F(SvgEditIniTest, ValuesAreReadBackThroughA2048CharacterBuffer) {
    WriteSettings("[Form1]\nuser_name=" + std::string(2048, 'x') + "\nqv_spin=abc\n");
    TTestForm* f = Form();
    EXPECT_EQ(f->user_name->Text(), std::string(2047, 'x'));
    EXPECT_EQ(f->qv_spin->Value(), 0); // letters only: the default
}

TEST_F(SvgEditIniTest, TheLastComponentOnAFormGovernsIt) {
    // Built by hand: the form's own component says "save edit boxes", a later one says no.
    TTestForm* f = Form("Form1", [](TSvgEditIni& first) { first.SauveEdit = true; });
    auto* last = vcl::Create<TSvgEditIni>(f);
    for (bool* s : TTestForm::Switches(*last))
        *s = true;
    last->SauveEdit = false;
    f->user_name->SetText("not saved");
    f->SvgEditIni1->Sauve();
    EXPECT_EQ(Settings().find("user_name"), std::string::npos);
    EXPECT_NE(Settings().find("qv_box=1"), std::string::npos);
    EXPECT_EQ(TSvgEditIni::TrouveSvgEditIni(*f), last);
}

TEST_F(SvgEditIniTest, SwitchedOffKindsAreNeitherSavedNorRestored) {
    WriteSettings("[Form1]\nqv_spin=9\n[Form1Message_qv]\nL0=kept out\n");
    TTestForm* f = Form("Form1", [](TSvgEditIni& c) {
        c.SauveSpinEdit = false;
        c.SauveMemo = false;
    });
    EXPECT_EQ(f->qv_spin->Value(), 5);
    EXPECT_EQ(f->Message_qv->Lines().Lines(), std::vector<std::string>{"designed line"});
}

TEST_F(SvgEditIniTest, ClosingTheMainFormRunsItsOwnHandlerThenSaves) {
    TTestForm* f = Form();
    f->designedAction = TCloseAction::caNone; // the form refuses to close...
    f->user_name->SetText("saved on close");
    f->Close();
    EXPECT_EQ(f->closeCalls, 1);
    EXPECT_NE(Settings().find("user_name=saved on close"), std::string::npos); // ...and still saves
    EXPECT_FALSE(app->Terminated());

    f->designedAction = TCloseAction::caHide;
    f->Close();
    EXPECT_EQ(f->closeCalls, 2);
    EXPECT_TRUE(app->Terminated());
}

TEST_F(SvgEditIniTest, ALaterFormIsWalkedButNotHooked) {
    TTestForm* main = Form();
    TTestForm* second = Form("Form2");
    EXPECT_EQ(app->MainForm(), main);
    second->user_name->SetText("second form");
    second->Close(); // hides it; its component installed no hook
    EXPECT_EQ(second->closeCalls, 1);
    EXPECT_FALSE(Exists(home.SettingsFile()));

    main->SvgEditIni1->Sauve(); // any instance walks every form
    EXPECT_NE(Settings().find("[Form2]\nuser_name=second form\n"), std::string::npos);

    NewApplication();
    Form();
    EXPECT_EQ(Form("Form2")->user_name->Text(), "second form");
}

TEST_F(SvgEditIniTest, AStoredSelectionAppliesOnlyWhenItNamesAnItemOrNone) {
    struct Case {
        const char* name;
        const char* itemIndex;
        int expected;
    } cases[] = {
        {"last item", "2", 2},
        {"equal to the count", "3", -1},
        {"none", "-1", -1},
        {"far below", "-7", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NewApplication();
        WriteSettings(std::string("[Form1qv_combo]\nL0=a\nL1=b\nL2=c\nItemIndex=") + c.itemIndex +
                      "\n");
        TTestForm* f = Form();
        EXPECT_EQ(f->qv_combo->Items().Count(), 3);
        EXPECT_EQ(f->qv_combo->ItemIndex(), c.expected);
    }
}

TEST_F(SvgEditIniTest, AGridRefusingItsStoredCellKeepsTheNewCountsOnly) {
    WriteSettings("[Form1qv_grid]\nCOLCOUNT=3\nROWCOUNT=3\nCOL=9\nROW=1\nTAG=5\nC1L1=never\n");
    TTestForm* f = Form();
    EXPECT_EQ(f->qv_grid->ColCount(), 3);
    EXPECT_EQ(f->qv_grid->RowCount(), 3);
    EXPECT_EQ(f->qv_grid->Tag(), 0);
    EXPECT_EQ(f->qv_grid->Cells(1, 1), "designed cell");
    // The error stays inside the grid's step: the list box after it still loads.
    EXPECT_EQ(f->qv_list->Items().Count(), 0);
}

TEST_F(SvgEditIniTest, ADateThatDoesNotConvertLeavesThePicker) {
    WriteSettings("[Form1]\nqv_date=not a date\n");
    EXPECT_DOUBLE_EQ(Form()->qv_date->DateTime(), vcl::EncodeDate(2001, 2, 3));
}

// A save that cannot be written keeps what the disk holds and says so: once, with the file
// and the system's reason, when the handler that saved returns (a click that saves twice
// tells it once); when the main form closes, at once, as nothing comes after.
TEST_F(SvgEditIniTest, ASaveThatCannotBeWrittenKeepsTheDiskAsItWasAndIsToldOnce) {
    struct Case {
        const char* name;
        int error;
        bool closing;
    };
    const Case cases[] = {
        {"the disk takes no more (a file size limit, even for root)", EFBIG, false},
        {"the settings folder is a file", ENOTDIR, false},
        {"the disk takes no more as the main form closes", EFBIG, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(home.SettingsFolder());
        NewApplication();
        dialogs->shown.clear();
        TTestForm* f = Form();
        f->user_name->SetText("first");
        f->Message_qv->Lines().Add("kept");
        f->SvgEditIni1->Sauve();
        if (c.error == ENOTDIR) {
            std::filesystem::remove_all(home.SettingsFolder());
            WriteFile(home.SettingsFolder(), "a file where the folder goes");
        }
        const std::string before =
            ReadFile(c.error == ENOTDIR ? home.SettingsFolder() : home.SettingsFile());
        f->user_name->SetText("second");
        f->Message_qv->Lines().Clear();
        {
            FileSizeLimit limit(c.error == EFBIG ? 16 : RLIM_INFINITY);
            if (c.closing) {
                f->Close();
                EXPECT_EQ(Boxes(), std::vector<std::string>{Refused(c.error)})
                    << "shown before the program ends";
            } else {
                f->SvgEditIni1->Sauve();
                f->SvgEditIni1->Sauve();
                EXPECT_TRUE(dialogs->shown.empty()) << "not inside the handler";
            }
        }
        app->ProcessMessages();
        ASSERT_EQ(Boxes(), std::vector<std::string>{Refused(c.error)});
        EXPECT_EQ(dialogs->shown.front().caption, app->Title);
        EXPECT_EQ(dialogs->shown.front().icon, vcl::TDialogIcon::Stop);
        EXPECT_EQ(ReadFile(c.error == ENOTDIR ? home.SettingsFolder() : home.SettingsFile()),
                  before);
        if (c.error != ENOTDIR) {
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.SettingsFolder()),
                                    std::filesystem::directory_iterator()),
                      1)
                << "no half-written sibling is left behind";
        }
    }
    // A save that succeeds tells nothing.
    std::filesystem::remove_all(home.SettingsFolder());
    NewApplication();
    dialogs->shown.clear();
    Form()->SvgEditIni1->Sauve();
    app->ProcessMessages();
    EXPECT_TRUE(dialogs->shown.empty());
}

// A folder the program may not write to, and a disk that is full: run in a program of their
// own, on a mount of their own (as root, which no permission stops), or with the folder's
// permissions (as another user).
TEST_F(SvgEditIniTest, AReadOnlyFolderAndAFullDiskAreToldWithTheirReasons) {
    TTestForm* f = Form();
    f->SvgEditIni1->Sauve();
    const std::string before = Settings();
    const std::string folder = home.SettingsFolder();
    struct Case {
        const char* name;
        std::string command;
        int error;
    };
    std::vector<Case> cases;
    const std::string child = std::string(SAVE_CHILD) + " second";
    if (::geteuid() == 0) {
        if (std::system("unshare --mount true 2>/dev/null") != 0)
            GTEST_SKIP() << "no mount namespace for root's read-only folder";
        cases.push_back({"a read-only mount",
                         "unshare --mount sh -c \"mount --bind '" + folder + "' '" + folder +
                             "' && mount -o remount,bind,ro '" + folder + "' && " + child + "\"",
                         EROFS});
        cases.push_back({"a full disk",
                         "unshare --mount sh -c \"cp '" + folder +
                             "/serie.ini' /tmp/kestrova-full.ini && mount -t tmpfs -o "
                             "size=8k,mode=0700 none '" +
                             folder +
                             "' && cp "
                             "/tmp/kestrova-full.ini '" +
                             folder +
                             "/serie.ini' && rm "
                             "/tmp/kestrova-full.ini && (dd if=/dev/zero of='" +
                             folder + "/fill' bs=1k 2>/dev/null; " + child + ")\"",
                         ENOSPC});
    } else {
        cases.push_back(
            {"a folder without write permission",
             "chmod 0500 '" + folder + "' && " + child + "; chmod 0700 '" + folder + "'", EACCES});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FILE* out = ::popen(c.command.c_str(), "r");
        ASSERT_NE(out, nullptr);
        std::string shown;
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, out))
            shown += buffer;
        EXPECT_EQ(::pclose(out), 0) << c.command;
        EXPECT_EQ(shown, Refused(c.error) + "\n");
        EXPECT_EQ(Settings(), before);
    }
}

TEST_F(SvgEditIniTest, AnExistingLooseFileIsTightenedOnTheNextWrite) {
    WriteSettings("[Form1]\nuser_name=x\n");
    ::chmod(home.SettingsFile().c_str(), 0644);
    Form()->SvgEditIni1->Sauve();
    EXPECT_EQ(Mode(home.SettingsFile()), 0600u);
}

// Saved value by value, a disk that took some writes and refused others left a mix: a new
// login beside the old password, a message cut short. A save now lands whole or not at all.
TEST_F(SvgEditIniTest, ASaveTheDiskCannotTakeWholeLeavesTheWholePreviousFile) {
    struct Case {
        const char* name;
        const char* login;
        int lines;
        bool lands;
    } cases[] = {
        {"a longer login, a shorter message: the new file is smaller", "second-login", 1, true},
        {"a longer login and message: the new file is larger", "second-login", 8, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vcl::DeleteFile(home.SettingsFile());
        NewApplication();
        TTestForm* f = Form();
        f->user_name->SetText("first");
        f->Message_qv->Lines().Assign(std::vector<std::string>{"one", "two", "three", "four"});
        f->SvgEditIni1->Sauve();
        const std::string before = Settings();

        f->user_name->SetText(c.login);
        f->Message_qv->Lines().Clear();
        for (int i = 0; i < c.lines; ++i)
            f->Message_qv->Lines().Add("line " + std::to_string(i));
        f->SvgEditIni1->Sauve();
        const std::string after = Settings(); // what the save writes on a roomy disk
        WriteFile(home.SettingsFile(), before);
        {
            FileSizeLimit limit(before.size());
            f->SvgEditIni1->Sauve();
        }
        EXPECT_EQ(Settings(), c.lands ? after : before);
    }
}

// Runs the save child under strace, which kills it when it enters the given system call for
// the when-th time; returns whether it died that way.
class KilledSave {
public:
    static bool Possible() {
        return Exists(kStrace) &&
               std::system((std::string(kStrace) + " -o /dev/null true").c_str()) == 0;
    }
    static bool Run(const char* call, int when, const std::string& arguments) {
        std::string command = std::string(kStrace) + " -o /dev/null -e inject=" + call +
                              ":signal=KILL:when=" + std::to_string(when) + " " + SAVE_CHILD + " " +
                              arguments + " 2>/dev/null";
        int status = std::system(command.c_str());
        return !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

private:
    static constexpr const char* kStrace = "/usr/bin/strace";
};

std::vector<std::string> Copies(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename() != "serie.ini")
            names.push_back(entry.path().filename().string());
    return names;
}

// A kill at any moment of a save leaves the whole old file or the whole new one, and no copy
// of the settings (they hold passwords) outlives the next save. Before the new contents have
// a name nothing of them can stay behind at all.
TEST_F(SvgEditIniTest, AKillDuringASaveLeavesTheWholeOldOrTheWholeNewFile) {
    if (!KilledSave::Possible())
        GTEST_SKIP() << "strace cannot trace here";
    auto save = [](const std::string& arguments) {
        return std::system((std::string(SAVE_CHILD) + " " + arguments).c_str()) == 0;
    };
    const std::string oldValues = "old-login 'old line 1' 'old line 2' 'old line 3'";
    const std::string newValues = "new-login-longer 'new line'";
    vcl::ForceDirectories(home.SettingsFolder());
    ASSERT_TRUE(save(newValues));
    const std::string newFile = Settings();
    ASSERT_TRUE(save(oldValues));
    const std::string oldFile = Settings();

    struct Point {
        const char* call;
        int when;
        bool named; // the new contents may have a name of their own by then
    } points[] = {
        {"fsync", 1, false},                    // the new contents written, not yet on disk
        {"linkat", 1, true},                    // about to be named
        {"rename,renameat,renameat2", 1, true}, // named, about to replace the file
        {"fsync", 2, false},                    // after the replacement
        {"fsync", 3, false},
        {"fsync", 6, false},
    };
    for (const Point& p : points) {
        SCOPED_TRACE(std::string(p.call) + " #" + std::to_string(p.when));
        WriteFile(home.SettingsFile(), oldFile);
        KilledSave::Run(p.call, p.when, newValues);
        const std::string left = Settings();
        EXPECT_TRUE(left == oldFile || left == newFile) << left;
        if (!p.named) {
            EXPECT_EQ(Copies(home.SettingsFolder()), std::vector<std::string>{});
        }
        ASSERT_TRUE(save(newValues));
        EXPECT_EQ(Settings(), newFile);
        EXPECT_EQ(Copies(home.SettingsFolder()), std::vector<std::string>{})
            << "the next save removes what the kill left";
    }
}

} // namespace
