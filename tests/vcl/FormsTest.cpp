#include "vcl/Forms.h"
#include "vcl/Dialogs.h"
#include "vcl/Menus.h"
#include "vcl/StdCtrls.h"
#include "vcl/SysUtils.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <gtest/gtest.h>
#include <memory>

using namespace vcl;

namespace {

std::vector<std::string> journal;

// A component that notes when its after-load notification comes.
class TProbe : public TComponent {
public:
    using TComponent::TComponent;
    void Loaded() override {
        journal.push_back("Loaded " + Name() +
                          (Application().MainForm() ? " (main form set)" : ""));
    }
};

class TOrderForm : public TForm {
public:
    explicit TOrderForm(TComponent* owner) : TForm(owner) {
        SetName("OrderForm");
        journal.push_back("properties");
        OnCreate = [](TObject*) { journal.push_back("OnCreate"); };
        for (const char* name : {"first", "second"}) {
            auto* p = Create<TProbe>(this);
            p->SetName(name);
            journal.push_back(std::string("created ") + name);
        }
    }
    void Loaded() override { journal.push_back("Loaded form"); }
};

TEST(Forms, LoadInTheFrameworksOrderAndBecomeMainFormAfterward) {
    journal.clear();
    TApplication app;
    auto* form = app.CreateForm<TOrderForm>();
    EXPECT_EQ(journal, (std::vector<std::string>{"properties", "created first", "created second",
                                                 "Loaded first", "Loaded second", "Loaded form",
                                                 "OnCreate"}));
    EXPECT_EQ(app.MainForm(), form);
    EXPECT_EQ(app.ComponentCount(), 1);
    EXPECT_EQ(app.CreateForm<TOrderForm>() == app.MainForm(), false);
}

TEST(Forms, CloseHidesASecondaryFormAndEndsTheProgramForTheMainOne) {
    TApplication app;
    auto* main = app.CreateForm<TForm>();
    auto* other = app.CreateForm<TForm>();
    other->Show();
    std::vector<TCloseAction> seen;
    other->OnClose = [&](TObject* sender, TCloseAction& action) {
        EXPECT_EQ(sender, other);
        seen.push_back(action);
    };
    other->Close();
    EXPECT_EQ(seen, std::vector<TCloseAction>{TCloseAction::caHide});
    EXPECT_FALSE(other->Visible());
    EXPECT_FALSE(app.Terminated());

    main->Show();
    main->OnCloseQuery = [](TObject*, bool& canClose) { canClose = false; };
    main->Close();
    EXPECT_FALSE(app.Terminated());
    main->OnCloseQuery = nullptr;
    main->OnClose = [](TObject*, TCloseAction& a) { a = TCloseAction::caNone; };
    main->Close();
    EXPECT_FALSE(app.Terminated());
    main->OnClose = nullptr;
    main->Close();
    EXPECT_TRUE(app.Terminated());
}

TEST(Forms, TheWindowsCloseBoxTakesTheFormsCloseRoad) {
    TApplication app;
    auto* main = app.CreateForm<TForm>();
    int closes = 0;
    main->OnClose = [&](TObject*, TCloseAction&) { ++closes; };
    main->Show();
    main->Widget()->close();
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(app.Terminated());
}

// Closing the main form ends the message loop, once the handler that closed it returns: from
// a handler the loop runs, or from one that pumps messages itself (as a request waiting for its
// server does), whatever other windows are in view. A form's window never closes by itself
// (its close is the form's affair), and a quit that first asked every window to close gave up
// on the first one that stayed: a notice shown beside the main window kept the program
// running, and the main form's close ran a second time.
TEST(Forms, ClosingTheMainFormEndsTheMessageLoopWhateverElseIsShown) {
    struct Road {
        const char* name;
        bool fromPump;
        int othersShown;
    };
    for (const Road& road : {Road{"from the loop, alone", false, 0},
                             Road{"from the loop, two other windows shown", false, 2},
                             Road{"from a handler's pump, another window shown", true, 1},
                             Road{"from a handler's pump, two other windows shown", true, 2}}) {
        SCOPED_TRACE(road.name);
        TApplication app;
        auto* main = app.CreateForm<TForm>();
        int closes = 0;
        main->OnClose = [&](TObject*, TCloseAction&) { ++closes; };
        for (int i = 0; i < road.othersShown; ++i)
            app.CreateForm<TForm>()->Show();
        main->Show();
        QObject timers; // the timers go with the round
        bool returned = false, gaveUp = false;
        QTimer::singleShot(0, &timers, [&] {
            if (road.fromPump) {
                QTimer::singleShot(50, &timers, [&] { main->Close(); });
                while (!app.Terminated() && !gaveUp) {
                    app.ProcessMessages();
                    QThread::msleep(5);
                }
            } else {
                main->Close();
            }
            returned = true;
        });
        // Only a loop that failed to end gets here.
        QTimer::singleShot(8000, &timers, [&] {
            gaveUp = true;
            QCoreApplication::exit(1);
        });
        app.Run();
        EXPECT_TRUE(returned);
        EXPECT_FALSE(gaveUp) << "the message loop went on after the main form closed";
        EXPECT_TRUE(app.Terminated());
        EXPECT_EQ(closes, 1);
    }
}

// Only a sizeable border lets the window be resized or maximized: a fixed-single window
// that the user could shrink hid its bottom buttons.
TEST(Forms, OnlyASizeableBorderLetsTheWindowChangeSize) {
    struct Case {
        TFormBorderStyle style;
        bool sizeable;
    } cases[] = {{TFormBorderStyle::bsSingle, false},
                 {TFormBorderStyle::bsDialog, false},
                 {TFormBorderStyle::bsSizeable, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.style));
        TApplication app;
        auto* form = app.CreateForm<TForm>();
        form->SetBorderStyle(c.style);
        form->SetBounds(10, 10, 406, 322); // the designed size, set after the style
        form->Show();
        QWidget* window = form->Widget();
        EXPECT_EQ(window->size(), QSize(406, 322));
        EXPECT_EQ(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint) ||
                      !window->windowFlags().testFlag(Qt::CustomizeWindowHint),
                  c.sizeable)
            << "a maximize button";
        window->resize(200, 100); // as a drag of the border asks
        EXPECT_EQ(window->size() == QSize(406, 322), !c.sizeable);
        form->SetClientHeight(118); // the program itself still sizes it
        EXPECT_EQ(form->ClientHeight(), 118);
        EXPECT_EQ(window->minimumSize() == window->maximumSize(), !c.sizeable);
    }
}

TEST(Forms, AnUncaughtErrorReachesTheStandardErrorBox) {
    TApplication app;
    app.Title = "Kestrova";
    TScriptedDialogs dialogs;
    auto* form = app.CreateForm<TForm>();
    auto* button = Create<TButton>(form);
    button->SetParent(form);
    button->OnClick = [](TObject*) { throw EConvertError("'x' n'est pas une date correcte"); };
    button->Click();
    static_cast<QAbstractButton*>(button->Widget())->click(); // through Qt's own signal too
    button->OnClick = [](TObject*) { throw Exception("ends with a full stop."); };
    button->Click();
    ASSERT_EQ(dialogs->shown.size(), 3u);
    const TDialogRequest& box = dialogs->shown[0];
    EXPECT_EQ(box.caption, "Kestrova");
    EXPECT_EQ(box.text, "'x' n'est pas une date correcte.");
    EXPECT_EQ(box.icon, TDialogIcon::Stop);
    ASSERT_EQ(box.buttons.size(), 1u);
    EXPECT_EQ(box.buttons[0].caption, "OK");
    EXPECT_EQ(dialogs->shown[2].text, "ends with a full stop.");
}

TEST(Forms, OnCreateErrorsAreShownAndTheFormStillExists) {
    TApplication app;
    TScriptedDialogs dialogs;
    struct TFailing : TForm {
        explicit TFailing(TComponent* o) : TForm(o) {
            OnCreate = [](TObject*) { throw Exception("boom"); };
        }
    };
    auto* form = app.CreateForm<TFailing>();
    EXPECT_EQ(app.MainForm(), form);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].text, "boom.");
}

// Nothing a handler raises unwinds into Qt: not a foreign exception, and not an error raised
// when no application exists to show it.
TEST(Forms, EveryErrorOfAHandlerStopsAtTheHandler) {
    struct Case {
        const char* label;
        bool application;
        std::function<void()> raise;
        const char* shown; // the error box's text; nullptr: no box
    };
    const Case cases[] = {
        {"an int, with an application", true, [] { throw 42; }, "Exception inconnue."},
        {"a framework error, without an application", false, [] { throw Exception("boom"); },
         nullptr},
        {"an int, without an application", false, [] { throw 42; }, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TScriptedDialogs dialogs;
        std::unique_ptr<TApplication> app;
        if (c.application)
            app = std::make_unique<TApplication>();
        TComponent owner(nullptr);
        auto* item = Create<TMenuItem>(&owner);
        item->OnClick = [&c](TObject*) { c.raise(); };
        EXPECT_NO_THROW(item->Click());
        EXPECT_NO_THROW(item->Action()->trigger()); // through Qt's own signal too
        if (c.shown) {
            ASSERT_EQ(dialogs->shown.size(), 2u);
            EXPECT_EQ(dialogs->shown[0].text, c.shown);
        } else {
            EXPECT_TRUE(dialogs->shown.empty());
        }
    }
}

} // namespace
