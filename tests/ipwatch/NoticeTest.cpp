#include "KestrovaFixture.h"
#include "support/X11Look.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <csignal>
#include <cstdlib>

using namespace testsupport;
using namespace vcl;

namespace {

class NoticeTest : public KestrovaTest {
protected:
    void SetUp() override {
        KestrovaTest::SetUp();
        Start();
        form2->OnShow = [this](TObject*) { journal.push_back("show"); };
        form2->OnHide = [this](TObject*) { journal.push_back("hide"); };
    }

    // Lets the 100-ms timer fire; its tick runs the whole slide in.
    void AwaitSlideIn() {
        ASSERT_TRUE(PumpUntil([this] { return !form2->Timer2->Enabled(); }));
    }

    void ExpectUpInTheCorner() {
        EXPECT_TRUE(form2->Visible());
        EXPECT_EQ(form2->ClientWidth(), 181);
        EXPECT_EQ(form2->ClientHeight(), ipwatch::HauteurInitiale + 2);
        EXPECT_EQ(form2->Left(), Screen().WorkAreaRect().Right - 181);
        EXPECT_EQ(form2->Top() + form2->Height(), Screen().WorkAreaRect().Bottom);
        EXPECT_EQ(form2->FormStyle(), TFormStyle::fsStayOnTop);
    }

    std::vector<std::string> journal;
};

TEST_F(NoticeTest, TheWindowIsMadeHiddenAtItsDesignSize) {
    EXPECT_FALSE(form2->Visible());
    // No frame, above the other windows, a tool window of the program without a task-bar
    // button.
    const Qt::WindowFlags flags = form2->Widget()->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(form2->Widget()->windowType(), Qt::Tool);
    EXPECT_EQ(form1->Widget()->windowType(), Qt::Window);
    EXPECT_EQ(ipwatch::HauteurInitiale, 116);
    EXPECT_EQ(form2->ClientWidth(), 181);
    EXPECT_EQ(form2->Caption(), " Messages");
    EXPECT_FALSE(form2->Timer1->Enabled());
    EXPECT_FALSE(form2->Timer2->Enabled());
    EXPECT_EQ(form2->Timer1->Interval(), 30000u);
    EXPECT_EQ(form2->Timer2->Interval(), 100u);
}

TEST_F(NoticeTest, ANoticeSlidesInToTheWorkAreasBottomAtTheScreensRightEdge) {
    ipwatch::Form2->AfficheMessage("Erreur : Pas de réponse !", "Vérifier la connexion Internet");
    EXPECT_EQ(form2->Titre->Caption(), "Erreur : Pas de réponse !");
    EXPECT_EQ(form2->Texte->Caption(), "Vérifier la connexion Internet");
    EXPECT_TRUE(form2->Visible());
    EXPECT_TRUE(form2->Timer1->Active());
    EXPECT_TRUE(form2->Timer2->Active());
    AwaitSlideIn();
    ExpectUpInTheCorner();
    EXPECT_TRUE(form2->Timer1->Active());
}

TEST_F(NoticeTest, ASecondNoticeSlidesInAnewButGoesAwayWithTheFirstOnesTime) {
    form2->AfficheMessage("12/05/2024 10:00:00", "Votre IP : 192.0.2.7");
    AwaitSlideIn();
    int remaining = form2->Timer1->RemainingTime();
    journal.clear();

    form2->AfficheMessage("12/05/2024 10:03:00", "Votre IP : 192.0.2.8");
    EXPECT_EQ(journal, (std::vector<std::string>{"hide", "show"}));
    EXPECT_EQ(form2->Texte->Caption(), "Votre IP : 192.0.2.8");
    AwaitSlideIn();
    ExpectUpInTheCorner();
    // The slide took at least 117 steps of 10 ms, and the period was not started anew.
    EXPECT_LT(form2->Timer1->RemainingTime(), remaining - 1000);
}

TEST_F(NoticeTest, TheShownTimeEndsWithASlideOutAndTheWindowClosed) {
    form2->AfficheMessage("Essai", "Ceci est un essai");
    AwaitSlideIn();
    int bottom = form2->Top() + form2->Height();
    form2->Timer1Timer(form2->Timer1);
    EXPECT_FALSE(form2->Visible());
    EXPECT_EQ(form2->ClientHeight(), 1);
    EXPECT_EQ(form2->Top() + form2->Height(), bottom);
    EXPECT_FALSE(form2->Timer1->Enabled());
    EXPECT_FALSE(form2->Timer2->Enabled());
}

TEST_F(NoticeTest, TheCloseButtonClosesAtOnceAndTheNextNoticeStartsAfresh) {
    struct Moment {
        const char* name;
        bool slidIn;
    };
    for (Moment m : {Moment{"before the slide in", false}, Moment{"while up", true}}) {
        SCOPED_TRACE(m.name);
        form2->AfficheMessage("Essai", "Ceci est un essai");
        if (m.slidIn)
            AwaitSlideIn();
        form2->SpeedButton1->Click();
        EXPECT_FALSE(form2->Visible());
        EXPECT_FALSE(form2->Timer1->Enabled());
        EXPECT_FALSE(form2->Timer2->Enabled());
        EXPECT_FALSE(app->Terminated());
    }
    form2->AfficheMessage("Essai", "Ceci est un essai");
    EXPECT_GT(form2->Timer1->RemainingTime(), 29000);
    AwaitSlideIn();
    ExpectUpInTheCorner();
}

// Every notice's texts stand whole inside the window, the title clear of the close button,
// with this platform's fonts: "Vérifier la connexion Internet" was cut at the window's edge
// and "Erreur : Pas de réponse !" ran under the close button.
TEST_F(NoticeTest, EveryNoticeShowsItsTextsWholeInsideTheWindow) {
    const char* notices[][2] = {
        {"31/12/2024 23:59:58", "Votre IP : 255.255.255.255"},
        {"Erreur : Pas de réponse !", "Vérifier la connexion Internet"},
        {"E-mail : Pas de réponse !", "Vérifier la connexion Internet"},
        {"Essai", "Ceci est un essai"},
    };
    // The room a label's text takes at the label's width.
    auto room = [](TLabel* label) {
        auto* widget = static_cast<QLabel*>(label->Widget());
        return QFontMetrics(widget->font())
            .boundingRect(QRect(0, 0, widget->width(), 1000), Qt::TextWordWrap, widget->text())
            .size();
    };
    for (const auto& notice : notices) {
        SCOPED_TRACE(notice[0]);
        form2->AfficheMessage(notice[0], notice[1]);
        AwaitSlideIn();
        TLabel* titre = form2->Titre;
        TLabel* texte = form2->Texte;
        EXPECT_LE(titre->Left() + titre->Width(), form2->SpeedButton1->Left());
        EXPECT_LE(texte->Left() + texte->Width(), form2->ClientWidth());
        EXPECT_LE(titre->Top() + titre->Height(), texte->Top());
        EXPECT_LE(texte->Top() + texte->Height(), ipwatch::HauteurInitiale);
        for (TLabel* label : {titre, texte}) {
            EXPECT_LE(room(label).width(), label->Width()) << label->Caption();
            EXPECT_LE(room(label).height(), label->Height()) << label->Caption();
        }
    }
}

} // namespace

namespace {

// Waits until the X server has carried out every request of the program's own connection.
void RoundTrip() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_NE(x11, nullptr);
    xcb_connection_t* c = x11->connection();
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// On a desktop with a window manager and a panel along the bottom edge (ipwatch_on_a_desktop):
// the notice has no frame, stays above the other windows, keeps out of task bars, and ends
// in the bottom right corner of the work area, above the panel.
TEST_F(NoticeTest, OnADesktopWithAPanelTheNoticeEndsInTheCornerAboveIt) {
    if (!DesktopHas("panel"))
        GTEST_SKIP() << "needs a window manager and a panel";
    X11Look look;
    const TRect area = Screen().WorkAreaRect();
    ASSERT_LT(area.Bottom, Screen().Height()) << "the work area leaves the panel out";
    form2->AfficheMessage("12/05/2024 10:00:00", "Votre IP : 192.0.2.7");
    AwaitSlideIn();
    const auto window = static_cast<xcb_window_t>(form2->Widget()->winId());
    std::vector<std::string> state;
    ASSERT_TRUE(PumpUntil([&] {
        state = look.AtomNames(window, "_NET_WM_STATE");
        return !look.Values(window, "_NET_FRAME_EXTENTS").empty();
    }));
    EXPECT_EQ(look.Values(window, "_NET_FRAME_EXTENTS"), (std::vector<std::uint32_t>{0, 0, 0, 0}));
    for (const char* s : {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR"})
        EXPECT_NE(std::find(state.begin(), state.end(), s), state.end()) << s;
    const X11Look::Rect on = look.OnScreen(window);
    EXPECT_EQ(on.right, area.Right);
    EXPECT_EQ(on.bottom, area.Bottom);
    EXPECT_EQ(on.bottom - on.top, ipwatch::HauteurInitiale + 2);
    // A second notice comes the same way: the state is told at every show. The window
    // manager sees the hide only after the show has asked for the state again, as a busy one
    // does: it clears the state of a window it no longer manages, so the show must also ask
    // once the window is mapped.
    const char* manager = std::getenv("KESTROVA_WINDOW_MANAGER");
    ASSERT_NE(manager, nullptr);
    const pid_t wm = static_cast<pid_t>(std::atol(manager));
    ASSERT_EQ(::kill(wm, SIGSTOP), 0);
    form2->SpeedButton1->Click();
    form2->AfficheMessage("12/05/2024 10:03:00", "Votre IP : 192.0.2.8");
    QCoreApplication::processEvents();
    RoundTrip(); // the server has done all of it before the window manager wakes
    ASSERT_EQ(::kill(wm, SIGCONT), 0);
    AwaitSlideIn();
    ASSERT_TRUE(PumpUntil([&] {
        state = look.AtomNames(window, "_NET_WM_STATE");
        return std::find(state.begin(), state.end(), "_NET_WM_STATE_SKIP_TASKBAR") != state.end();
    }));
    EXPECT_EQ(look.OnScreen(window).bottom, area.Bottom);
}

} // namespace
