#include "KestrovaFixture.h"

#include "platform/SpecialFolders.h"
#include "support/X11Look.h"
#include "vcl/IniFiles.h"
#include "vcl/QtPresenter.h"
#include "vcl/SysUtils.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

using namespace testsupport;
using namespace vcl;

namespace {

class MainWindowTest : public KestrovaTest {
protected:
    // Behind the tray icon, or minimized on a desktop without a notification area.
    bool HiddenToTray() const {
        return form1->RxTrayIcon1->Showing() ? !form1->Visible()
                                             : form1->Visible() && form1->Widget()->isMinimized();
    }
};

// The keys of the main window's section, in file order.
std::vector<std::string> Keys(const std::string& file) {
    TStringList names;
    TIniFile(file).ReadSection("Form1", names);
    return names.Lines();
}

const std::vector<std::string> kSavedKeys = {
    "qv_fenetre",   "qv_email",    "qv_urlc",   "qv_dyndns",  "qv_noip",     "user_name",
    "mot_de_passe", "qv_ovh",      "Smtp_qv",   "Email_v",    "Email_D",     "Sujet_qv",
    "qv_url",       "password_ip", "Login_ip",  "domaine_ip", "password_no", "login_no",
    "domaine_no",   "domaine_ovh", "ident_ovh", "passe_ovh"};

TEST_F(MainWindowTest, FirstStartShowsTheOvhPageWithOnlyTheNoticeAndOvhOptionsTicked) {
    Start();
    EXPECT_EQ(app->MainForm(), form1);
    EXPECT_TRUE(form1->Visible());
    EXPECT_TRUE(app->ShowMainForm);
    EXPECT_EQ(form1->Caption(), "Kestrova");
    EXPECT_EQ(form1->PageControl1->ActivePage(), form1->TabSheet7);
    EXPECT_EQ(form1->PageControl1->ActivePage()->Caption(), "Ovh");
    std::map<std::string, bool> expected = {{"qv_fenetre", true}, {"qv_email", false},
                                            {"qv_urlc", false},   {"qv_dyndns", false},
                                            {"qv_noip", false},   {"qv_ovh", true}};
    for (const auto& [name, ticked] : expected) {
        auto* box = dynamic_cast<TCheckBox*>(form1->FindComponent(name));
        ASSERT_NE(box, nullptr) << name;
        EXPECT_EQ(box->Checked(), ticked) << name;
    }
    EXPECT_EQ(form1->qv_url->Text(), "http://");
    EXPECT_FALSE(form2->Visible());
    EXPECT_FALSE(SettingsExist());
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(MainWindowTest, PagesAndSettingsControlsStandWhereTheUserLooksForThem) {
    Start();
    std::vector<std::string> pages;
    for (int i = 0; i < form1->PageControl1->PageCount(); ++i)
        pages.push_back(form1->PageControl1->Pages(i)->Caption());
    EXPECT_EQ(pages, (std::vector<std::string>{"IP", "Options", "E-mail", "URL", "Dyndns", "No-IP",
                                               "Ovh", "A propos"}));
    const std::map<std::string, std::string> pageOf = {
        {"qv_fenetre", "Options"}, {"qv_email", "Options"},     {"qv_urlc", "Options"},
        {"qv_dyndns", "Options"},  {"qv_noip", "Options"},      {"qv_ovh", "Options"},
        {"user_name", "Options"},  {"mot_de_passe", "Options"}, {"Smtp_qv", "E-mail"},
        {"Email_v", "E-mail"},     {"Email_D", "E-mail"},       {"Sujet_qv", "E-mail"},
        {"Message_qv", "E-mail"},  {"qv_url", "URL"},           {"Login_ip", "Dyndns"},
        {"password_ip", "Dyndns"}, {"domaine_ip", "Dyndns"},    {"login_no", "No-IP"},
        {"password_no", "No-IP"},  {"domaine_no", "No-IP"},     {"ident_ovh", "Ovh"},
        {"passe_ovh", "Ovh"},      {"domaine_ovh", "Ovh"},      {"memo1", "IP"},
        {"Memo2", "URL"},          {"Memo3", "Dyndns"},         {"Memo4", "No-IP"},
        {"Memo5", "Ovh"}};
    for (const auto& [name, page] : pageOf) {
        auto* control = dynamic_cast<TControl*>(form1->FindComponent(name));
        ASSERT_NE(control, nullptr) << name;
        TControl* p = control->Parent();
        while (p && !dynamic_cast<TTabSheet*>(p))
            p = p->Parent();
        ASSERT_NE(p, nullptr) << name;
        EXPECT_EQ(static_cast<TTabSheet*>(p)->Caption(), page) << name;
    }
    // Only the settings carry "_" in their names: nothing else is ever saved.
    std::vector<std::string> underscored;
    for (int i = 0; i < form1->ComponentCount(); ++i)
        if (form1->Components(i)->Name().find('_') != std::string::npos)
            underscored.push_back(form1->Components(i)->Name());
    std::vector<std::string> settings = kSavedKeys;
    settings.insert(settings.begin() + 12, "Message_qv");
    EXPECT_EQ(underscored, settings);
}

// A fixed-single window: shrinking it used to hide the bottom buttons.
TEST_F(MainWindowTest, TheWindowCanNeitherBeResizedNorMaximized) {
    Start();
    QWidget* window = form1->Widget();
    EXPECT_EQ(window->size(), QSize(406, 322));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    window->resize(300, 200);
    EXPECT_EQ(window->size(), QSize(406, 322));
    EXPECT_TRUE(form1->BitBtn3->Widget()->geometry().bottom() < window->height());
}

TEST_F(MainWindowTest, HiddenButtonsNeverShow) {
    Start();
    for (TButton* b : {form1->Button1, form1->Button2, form1->Button3, form1->Button4,
                       form1->Button6, form1->Button9, form1->Button10, form1->Button14}) {
        SCOPED_TRACE(b->Name());
        EXPECT_FALSE(b->Visible());
        for (TTabSheet* page :
             {form1->TabSheet2, form1->TabSheet5, form1->TabSheet6, form1->TabSheet7}) {
            form1->PageControl1->SetActivePage(page);
            EXPECT_FALSE(b->Showing());
        }
    }
    for (TControl* c :
         {static_cast<TControl*>(form1->BitBtn1), static_cast<TControl*>(form1->BitBtn2),
          static_cast<TControl*>(form1->SpeedButton2), static_cast<TControl*>(form1->BitBtn3)})
        EXPECT_TRUE(c->Showing()) << c->Name();
    EXPECT_EQ(form1->SpeedButton2->Hint(), "Aide");
}

TEST_F(MainWindowTest, MenuTrayAndTimerAreSetUpAtCreation) {
    Start();
    std::vector<std::string> captions;
    for (int i = 0; i < form1->PopupMenu1->Count(); ++i) {
        TMenuItem* item = form1->PopupMenu1->Items(i);
        captions.push_back(item->Caption());
        EXPECT_EQ(item->Bitmap().Empty(), item->IsSeparator()) << item->Caption();
    }
    EXPECT_EQ(captions, (std::vector<std::string>{"Afficher", "Réduire", "-", "Envoi E-mail",
                                                  "Envoi URL", "-", "Quitter"}));
    EXPECT_EQ(form1->PopupMenu(), form1->PopupMenu1);
    EXPECT_EQ(form1->RxTrayIcon1->PopupMenu(), form1->PopupMenu1);
    EXPECT_EQ(form1->RxTrayIcon1->Hint(), "Kestrova");
    EXPECT_FALSE(form1->RxTrayIcon1->Icon().Empty());
    EXPECT_EQ(form1->Timer1->Interval(), 180000u);
    EXPECT_TRUE(form1->Timer1->Enabled());
    EXPECT_GT(form1->Timer1->RemainingTime(), 170000);
}

// The offscreen desktop has no notification area, like GNOME without an extension: the
// window, which would go to the tray, stays in view, for otherwise nothing of the program
// could be reached.
TEST_F(MainWindowTest, StartWithSettingsRewritesThemAtOnceAndWithoutATrayShowsTheWindow) {
    WriteFile(home.SettingsFile(), "[Form1]\nqv_email=1\nSmtp_qv=smtp.test\nqv_ovh=0\n"
                                   "[Form1Message_qv]\nL0=bonjour\nItemIndex=0\n");
    Start();
    ASSERT_FALSE(form1->RxTrayIcon1->Showing());
    EXPECT_TRUE(form1->Visible());
    EXPECT_TRUE(app->ShowMainForm);
    EXPECT_EQ(form1->RxTrayIcon1->Hint(), "Kestrova");
    EXPECT_TRUE(form1->qv_email->Checked());
    EXPECT_FALSE(form1->qv_ovh->Checked());
    EXPECT_TRUE(form1->qv_noip->Checked()); // no saved value: ticked
    EXPECT_EQ(form1->Message_qv->Lines().Lines(), std::vector<std::string>{"bonjour"});
    // Every setting is in the file now, in the window's order.
    EXPECT_EQ(Keys(home.SettingsFile()),
              (std::vector<std::string>{"qv_email",     "Smtp_qv",     "qv_ovh",     "qv_fenetre",
                                        "qv_urlc",      "qv_dyndns",   "qv_noip",    "user_name",
                                        "mot_de_passe", "Email_v",     "Email_D",    "Sujet_qv",
                                        "qv_url",       "password_ip", "Login_ip",   "domaine_ip",
                                        "password_no",  "login_no",    "domaine_no", "domaine_ovh",
                                        "ident_ovh",    "passe_ovh"}));
    TIniFile ini(home.SettingsFile());
    EXPECT_EQ(ini.ReadString("Form1", "Smtp_qv", ""), "smtp.test");
    EXPECT_EQ(ini.ReadString("Form1Message_qv", "L0", ""), "bonjour");
    EXPECT_TRUE(dialogs->shown.empty());
}

// Where the desktop has a notification area, a start with settings goes straight to the tray:
// the window stays hidden behind the icon. The offscreen desktop has none; the test runs for
// real on a private X display with a tray (ipwatch_start_with_a_tray), which says so in
// KESTROVA_DESKTOP.
TEST_F(MainWindowTest, StartWithSettingsOnADesktopWithATrayHidesTheWindowBehindTheIcon) {
    const bool trayDesktop = DesktopHas("tray");
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        ASSERT_FALSE(trayDesktop) << "the desktop made for this test has no tray";
        GTEST_SKIP() << "this desktop has no notification area";
    }
    WriteFile(home.SettingsFile(), "[Form1]\nqv_email=1\nqv_ovh=0\n");
    Start();
    EXPECT_TRUE(form1->RxTrayIcon1->Showing());
    EXPECT_EQ(form1->RxTrayIcon1->Hint(), "Kestrova");
    EXPECT_FALSE(form1->Visible());
    EXPECT_FALSE(app->ShowMainForm);
    EXPECT_TRUE(form1->qv_email->Checked());
    EXPECT_FALSE(form1->qv_ovh->Checked());
    EXPECT_EQ(Keys(home.SettingsFile()).size(), kSavedKeys.size()) << "rewritten at once";
    // The icon's left click brings the window.
    form1->RxTrayIcon1->Click();
    EXPECT_TRUE(form1->Visible());
    EXPECT_TRUE(dialogs->shown.empty());
}

// Without a notification area a hidden window could only be killed: hiding to the tray
// minimizes it instead, by the window's button and by the menu alike.
TEST_F(MainWindowTest, WithoutANotificationAreaHidingToTheTrayMinimizesTheWindow) {
    if (QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "this desktop has a notification area";
    struct Case {
        const char* name;
        std::function<void(ipwatch::TForm1&)> press;
    };
    const Case cases[] = {
        {"the window's Réduire", [](ipwatch::TForm1& f) { f.BitBtn2->Click(); }},
        {"the menu's Réduire", [](ipwatch::TForm1& f) { f.Rduire1->Click(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start();
        c.press(*form1);
        app->ProcessMessages();
        EXPECT_TRUE(form1->Visible());
        EXPECT_TRUE(form1->Widget()->isMinimized());
        EXPECT_TRUE(app->ShowMainForm);
        // The window comes back as from the tray.
        form1->Button1Click(form1);
        EXPECT_FALSE(form1->Widget()->isMinimized());
    }
}

// The notification area goes away while the window hides behind its icon (a panel that
// crashed, a desktop changed): the window comes back, or nothing of the program would be left
// to reach. On a private X display whose only tray is the test's (ipwatch_tray_goes_away).
TEST_F(MainWindowTest, ATrayThatGoesAwayBringsTheHiddenWindowBack) {
    if (!DesktopHas("x11") || DesktopHas("tray"))
        GTEST_SKIP() << "needs an X display without a notification area of its own";
    X11Look look;
    auto tray = std::make_unique<FakeTray>(look);
    ASSERT_TRUE(PumpUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
    WriteFile(home.SettingsFile(), "[Form1]\nqv_email=1\n");
    Start();
    ASSERT_TRUE(form1->RxTrayIcon1->Showing());
    EXPECT_FALSE(form1->Visible());
    tray.reset();
    EXPECT_TRUE(PumpUntil([this] { return form1->Visible(); }, 5000));
    EXPECT_FALSE(form1->RxTrayIcon1->Available());
    EXPECT_FALSE(form1->Widget()->isMinimized());
}

// Under a real window manager (openbox) a fixed window offers no maximize and no resize, the
// main window and a message box alike. openbox still draws a maximize button beside the
// minimize one, disabled (its title bars keep every button in place): the offered actions
// are what a click can do.
TEST_F(MainWindowTest, OnADesktopWithAWindowManagerFixedWindowsOfferNoMaximize) {
    if (!DesktopHas("window-manager"))
        GTEST_SKIP() << "needs a window manager";
    X11Look look;
    Start();
    auto offered = [&look](QWidget* window) {
        std::vector<std::string> actions;
        PumpUntil([&] {
            actions = look.AtomNames(static_cast<xcb_window_t>(window->winId()),
                                     "_NET_WM_ALLOWED_ACTIONS");
            return !actions.empty();
        });
        return actions;
    };
    auto maximizes = [](const std::vector<std::string>& actions) {
        for (const char* a : {"_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT",
                              "_NET_WM_ACTION_RESIZE"})
            if (std::find(actions.begin(), actions.end(), a) != actions.end())
                return true;
        return false;
    };
    const auto main = offered(form1->Widget());
    ASSERT_FALSE(main.empty());
    EXPECT_FALSE(maximizes(main));
    EXPECT_NE(std::find(main.begin(), main.end(), "_NET_WM_ACTION_MINIMIZE"), main.end());
    // A real message box, as the program shows them.
    std::vector<std::string> box;
    {
        TPresenterScope real(std::make_unique<TQtPresenter>());
        QTimer::singleShot(0, [&] {
            QWidget* shown = QApplication::activeModalWidget();
            if (!shown)
                return;
            box = offered(shown);
            shown->close();
        });
        ShowMessage("Un message");
    }
    ASSERT_FALSE(box.empty());
    EXPECT_FALSE(maximizes(box));
}

// The settings folder is a file (so every start is a first one): each button that saves tells
// it once, with the file and the reason, and then does what it was pressed for.
TEST_F(MainWindowTest, EveryButtonThatSavesTellsOnceThatTheSettingsCannotBeWritten) {
    struct Case {
        const char* name;
        TBitBtn* ipwatch::TForm1::*button;
        bool ends;
    };
    const Case cases[] = {
        {"Enregister, which saves twice", &ipwatch::TForm1::BitBtn1, false},
        {"Réduire", &ipwatch::TForm1::BitBtn2, false},
        {"Quitter", &ipwatch::TForm1::BitBtn3, true},
    };
    const std::string told =
        "Vos paramètres n'ont pas été enregistrés.\rImpossible d'écrire dans " +
        home.SettingsFile() + " :\r" + std::strerror(ENOTDIR) + ".";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(home.SettingsFolder());
        WriteFile(home.SettingsFolder(), "not a folder");
        Start();
        dialogs->shown.clear();
        (form1->*c.button)->Click();
        app->ProcessMessages();
        ASSERT_EQ(dialogs->shown.size(), 1u);
        EXPECT_EQ(dialogs->shown[0].text, told);
        EXPECT_EQ(dialogs->shown[0].caption, "Kestrova");
        EXPECT_EQ(app->Terminated(), c.ends);
        EXPECT_EQ(ReadFile(home.SettingsFolder()), "not a folder");
    }
}

TEST_F(MainWindowTest, TheFirstSaveWritesTheKeysInTheWindowsOrder) {
    Start();
    form1->BitBtn2->Click();
    EXPECT_EQ(Keys(home.SettingsFile()), kSavedKeys);
    // The result memos and the spare edit boxes are not settings.
    TStringList sections;
    TIniFile(home.SettingsFile()).ReadSections(sections);
    EXPECT_EQ(sections.Lines(), (std::vector<std::string>{"Form1", "Form1Message_qv"}));
}

TEST_F(MainWindowTest, OnlyTheWindowsOwnButtonsWriteTheSettings) {
    Start();
    WriteCounter writes(home.SettingsFolder());

    form1->Rduire1->Click(); // the tray menu's "Réduire": hides only
    EXPECT_TRUE(HiddenToTray());
    EXPECT_EQ(app->ShowMainForm, form1->Visible());
    EXPECT_EQ(writes.Take(), 0);
    EXPECT_FALSE(SettingsExist());

    form1->Afficher1->Click();
    EXPECT_TRUE(form1->Visible());
    form1->BitBtn2->Click(); // the button "Réduire": writes, then hides
    EXPECT_TRUE(HiddenToTray());
    EXPECT_EQ(app->ShowMainForm, form1->Visible());
    EXPECT_TRUE(SettingsExist());
    writes.Take(); // the first save also makes the file's sections

    form1->RxTrayIcon1->Click();
    EXPECT_TRUE(form1->Visible());
    EXPECT_FALSE(form1->Widget()->isMinimized());
    EXPECT_TRUE(app->ShowMainForm);
    form1->BitBtn2->Click();
    int oneSave = writes.Take();
    EXPECT_EQ(oneSave, 1) << "one save replaces the file once, with every value in it";

    form1->Timer1->SetInterval(180000);
    int remaining = form1->Timer1->RemainingTime();
    form1->BitBtn1->Click(); // "Enregister": saves twice, the timer goes on
    EXPECT_EQ(writes.Take(), 2 * oneSave);
    EXPECT_TRUE(HiddenToTray());
    EXPECT_TRUE(form1->Timer1->Enabled());
    EXPECT_LE(form1->Timer1->RemainingTime(), remaining);
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(MainWindowTest, QuittingStopsTheTimerThenWritesTheSettings) {
    struct Road {
        const char* name;
        std::function<void(ipwatch::TForm1&)> quit;
    };
    for (const Road& road : {Road{"button", [](ipwatch::TForm1& f) { f.BitBtn3->Click(); }},
                             Road{"menu", [](ipwatch::TForm1& f) { f.Quitter1->Click(); }},
                             Road{"close box", [](ipwatch::TForm1& f) { f.Widget()->close(); }}}) {
        SCOPED_TRACE(road.name);
        vcl::DeleteFile(home.SettingsFile());
        Start();
        form1->Smtp_qv->SetText(std::string("smtp.") + road.name);
        bool stoppedAndSaved = false;
        // Runs after the window's own close handling and the settings save.
        auto chain = form1->OnClose;
        form1->OnClose = [&](TObject* s, TCloseAction& a) {
            chain(s, a);
            stoppedAndSaved = !form1->Timer1->Enabled() && SettingsExist();
        };
        road.quit(*form1);
        EXPECT_TRUE(app->Terminated());
        EXPECT_TRUE(stoppedAndSaved);
        EXPECT_EQ(TIniFile(home.SettingsFile()).ReadString("Form1", "Smtp_qv", ""),
                  std::string("smtp.") + road.name);
    }
}

TEST_F(MainWindowTest, TheUpdaterStartsFromTheProgramsFolderWithoutArguments) {
    ASSERT_TRUE(FileExists(platform::ProgramFolder() + "Tamrel.exe"));
    TempDir dir;
    std::string record = dir / "started";
    setenv("KESTROVA_START_RECORD", record.c_str(), 1);
    Start();
    form1->Button11->Click();
    for (int i = 0; i < 500 && !Exists(record); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    unsetenv("KESTROVA_START_RECORD");
    EXPECT_EQ(ReadFile(record), "arguments=0 own-session=1\n");
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(MainWindowTest, AMissingHelpFileGivesNoMessage) {
    ASSERT_FALSE(FileExists(platform::ProgramFolder() + "Kestrova.chm"));
    Start();
    form1->SpeedButton2->Click();
    app->ProcessMessages();
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(MainWindowTest, TheTestNoticeComesUp) {
    Start();
    form1->Button6->Click();
    EXPECT_EQ(form2->Titre->Caption(), "Essai");
    EXPECT_EQ(form2->Texte->Caption(), "Ceci est un essai");
    EXPECT_TRUE(form2->Visible());
}

} // namespace
