#include "vcl/ComCtrls.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/Grids.h"
#include "vcl/Spin.h"
#include "vcl/StdCtrls.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

using namespace vcl;

namespace {

class ControlsTest : public ::testing::Test {
protected:
    template <class T> T* Make() {
        T* c = Create<T>(form);
        c->SetParent(form);
        return c;
    }
    TApplication app;
    TForm* form = app.CreateForm<TForm>();
};

// Qt's own texts, like an edit box's context menu, are French as every other text the user
// sees; they came in English.
TEST_F(ControlsTest, AnEditBoxsContextMenuIsFrench) {
    auto* edit = Make<TEdit>();
    auto* line = qobject_cast<QLineEdit*>(edit->Widget());
    ASSERT_NE(line, nullptr);
    std::unique_ptr<QMenu> menu(line->createStandardContextMenu());
    std::vector<std::string> texts;
    for (QAction* action : menu->actions())
        if (!action->isSeparator())
            texts.push_back(
                FromQString(action->text()).substr(0, FromQString(action->text()).find('\t')));
    EXPECT_EQ(texts, (std::vector<std::string>{"&Annuler", "&Rétablir", "Co&uper", "Cop&ier",
                                               "Co&ller", "Supprimer", "Tout sélectionner"}));
}

TEST_F(ControlsTest, MemoLinesKeepEmptyLinesAndCountAsTheFrameworkDoes) {
    auto* memo = Make<TMemo>();
    EXPECT_EQ(memo->Lines().Count(), 0);
    memo->Lines().Add("");
    EXPECT_EQ(memo->Lines().Count(), 1);
    memo->Lines().Add("b");
    memo->Lines().Add("");
    EXPECT_EQ(memo->Lines().Lines(), (std::vector<std::string>{"", "b", ""}));
    memo->Lines().Insert(0, "x\r\ny"); // a line holding a break becomes two
    EXPECT_EQ(memo->Lines().Count(), 5);
    memo->Lines().Delete(0);
    memo->Lines().Put(0, "first");
    EXPECT_EQ(memo->Lines().Get(0), "first");
    EXPECT_THROW(memo->Lines().Get(4), EListError);
    memo->SetText("typed without a final break"); // as a user leaves it
    EXPECT_EQ(memo->Lines().Count(), 1);
    memo->Lines().Clear();
    EXPECT_EQ(memo->Text(), "");
}

TEST_F(ControlsTest, ListsStartWithNoSelection) {
    auto* combo = Make<TComboBox>();
    combo->Items().Assign(std::vector<std::string>{"a", "b"});
    EXPECT_EQ(combo->ItemIndex(), -1);
    combo->SetItemIndex(1);
    EXPECT_EQ(combo->Text(), "b");
    combo->SetItemIndex(2); // names no item
    EXPECT_EQ(combo->ItemIndex(), -1);
    auto* list = Make<TListBox>();
    list->Items().Assign(std::vector<std::string>{"a", "b"});
    EXPECT_EQ(list->ItemIndex(), -1);
    list->SetItemIndex(0);
    EXPECT_EQ(list->ItemIndex(), 0);
}

TEST_F(ControlsTest, RadioButtonsCanBeUncheckedOneByOne) {
    auto* a = Make<TRadioButton>();
    auto* b = Make<TRadioButton>();
    a->SetChecked(true);
    b->SetChecked(true);
    EXPECT_FALSE(a->Checked());
    b->SetChecked(false);
    EXPECT_FALSE(b->Checked());
}

TEST_F(ControlsTest, GridCurrentCellMustLieOutsideTheFixedCells) {
    auto* grid = Make<TStringGrid>();
    EXPECT_EQ(grid->ColCount(), 5);
    EXPECT_EQ(grid->Col(), 1);
    EXPECT_THROW(grid->SetCol(0), EInvalidGridOperation);
    EXPECT_THROW(grid->SetRow(5), EInvalidGridOperation);
    grid->SetColCount(2);
    EXPECT_EQ(grid->Col(), 1);
    grid->SetCells(1, 4, "x");
    EXPECT_EQ(grid->Cells(1, 4), "x");
    EXPECT_EQ(grid->Cells(7, 7), "");
}

TEST_F(ControlsTest, SpinEditsAndPickersHoldTheirValues) {
    auto* spin = Make<TSpinEdit>();
    spin->SetValue(-2147483647);
    EXPECT_EQ(spin->Value(), -2147483647);
    auto* picker = Make<TDateTimePicker>();
    TDateTime when = EncodeDate(1999, 12, 31) + EncodeTime(12, 30, 5, 0);
    picker->SetDateTime(when);
    EXPECT_DOUBLE_EQ(picker->DateTime(), when);
}

TEST_F(ControlsTest, ChildControlsFollowTheirOwnVisibleFlag) {
    auto* edit = Make<TEdit>();
    form->Show();
    EXPECT_TRUE(edit->Showing());
    edit->Hide();
    EXPECT_FALSE(edit->Visible());
    EXPECT_FALSE(edit->Showing());
    form->Hide();
    edit->Show();
    EXPECT_TRUE(edit->Visible());
    EXPECT_FALSE(edit->Showing());
}

void Pump(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        Application().ProcessMessages();
}

TEST_F(ControlsTest, ALabelKeepsItsCaptionAndBreaksTheLineAtALoneCarriageReturn) {
    auto* label = Make<TLabel>();
    label->SetCaption("un\rdeux\r\ntrois");
    EXPECT_EQ(label->Caption(), "un\rdeux\r\ntrois");
    EXPECT_EQ(static_cast<QLabel*>(label->Widget())->text(), QString("un\ndeux\ntrois"));
    // Text as it stands: a caption quoting a server's answer is no markup.
    label->SetCaption("<h1>Maintenance</h1>");
    EXPECT_EQ(static_cast<QLabel*>(label->Widget())->textFormat(), Qt::PlainText);
    // The tray's tip carries an address a server gave: it is escaped where Qt would read it
    // as markup.
    EXPECT_EQ(PlainToolTip("Kestrova : <b>1.2.3.4</b>"),
              QString("Kestrova : &lt;b&gt;1.2.3.4&lt;/b&gt;"));
    EXPECT_EQ(PlainToolTip("Kestrova : 1.2.3.4"), QString("Kestrova : 1.2.3.4"));
}

TEST_F(ControlsTest, AProgressBarShowsItsPositionWithinItsRange) {
    auto* bar = Make<TProgressBar>();
    auto* widget = static_cast<QProgressBar*>(bar->Widget());
    struct Case {
        const char* name;
        int max, position;
        int shownMax, shown;
    } cases[] = {
        {"inside", 5000, 1200, 5000, 1200},
        {"beyond the maximum", 100, 250, 100, 100},
        {"empty range stays empty, not busy", 0, 0, 1, 0},
    };
    for (const Case& c : cases) {
        bar->SetMax(c.max);
        bar->SetPosition(c.position);
        EXPECT_EQ(bar->Max(), c.max) << c.name;
        EXPECT_EQ(widget->maximum(), c.shownMax) << c.name;
        EXPECT_EQ(widget->value(), c.shown) << c.name;
    }
}

TEST_F(ControlsTest, EnablingARunningTimerKeepsItsPeriod) {
    auto* timer = Create<TTimer>(form);
    int ticks = 0;
    timer->OnTimer = [&](TObject*) { ++ticks; };
    timer->SetInterval(400);
    Pump(250);
    timer->SetEnabled(true); // already enabled: the period runs on
    Pump(250);
    EXPECT_EQ(ticks, 1);
    timer->SetEnabled(false);
    Pump(450);
    EXPECT_EQ(ticks, 1);
}

} // namespace
