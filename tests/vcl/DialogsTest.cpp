#include "vcl/Dialogs.h"
#include "vcl/Forms.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

using namespace vcl;

namespace {

std::vector<std::string> Captions(const TDialogRequest& r) {
    std::vector<std::string> out;
    for (const auto& b : r.buttons)
        out.push_back(b.caption);
    return out;
}

TEST(Dialogs, MessageDlgShowsTheFrenchCaptionsInTheFrameworksOrder) {
    TApplication app;
    TScriptedDialogs dialogs;
    dialogs->Press("Non &pour tout");
    int answer = MessageDlg(
        "Overwrite?", TMsgDlgType::mtConfirmation,
        {TMsgDlgBtn::mbYesToAll, TMsgDlgBtn::mbNoToAll, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbYes});
    EXPECT_EQ(answer, mrNoToAll);
    const TDialogRequest& r = dialogs->shown.at(0);
    EXPECT_EQ(r.caption, "Confirmation");
    EXPECT_EQ(r.text, "Overwrite?");
    EXPECT_EQ(Captions(r),
              (std::vector<std::string>{"&Oui", "&Non", "Non &pour tout", "O&ui pour tout"}));

    dialogs->Press("&Retenter");
    EXPECT_EQ(MessageDlg("Failed", TMsgDlgType::mtError,
                         {TMsgDlgBtn::mbAbort, TMsgDlgBtn::mbRetry, TMsgDlgBtn::mbIgnore}),
              mrRetry);
    EXPECT_EQ(Captions(dialogs->shown.at(1)),
              (std::vector<std::string>{"&Abandonner", "&Retenter", "&Ignorer"}));
    EXPECT_EQ(dialogs->shown.at(1).caption, "Erreur");
}

TEST(Dialogs, ClosingWithoutAButtonIsItsOwnAnswer) {
    TApplication app;
    TScriptedDialogs dialogs; // nothing queued: every dialog is closed
    EXPECT_EQ(MessageDlg("?", TMsgDlgType::mtConfirmation, {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo}),
              mrCancel);
    EXPECT_EQ(ShowMessageBox("t", "c", MB_OK), IDOK);
    EXPECT_EQ(ShowMessageBox("t", "c", MB_YESNO), IDNO);
    std::string value = "initial";
    EXPECT_FALSE(InputQuery("Password", "Enter password", value));
    EXPECT_EQ(value, "initial");
    EXPECT_EQ(InputBox("Password", "Enter password", "dflt"), "dflt");
}

TEST(Dialogs, TheInputBoxGivesWhatWasTyped) {
    TApplication app;
    TScriptedDialogs dialogs;
    dialogs->Answer(mrOk, "secret");
    std::string value;
    EXPECT_TRUE(InputQuery("Password", "Enter password for a.txt", value));
    EXPECT_EQ(value, "secret");
    EXPECT_EQ(dialogs->shown.at(0).kind, TDialogRequest::Kind::InputBox);
    EXPECT_EQ(dialogs->shown.at(0).caption, "Password");
    EXPECT_EQ(dialogs->shown.at(0).text, "Enter password for a.txt");
}

// The real dialogs: what their buttons read once on screen, then closed without a button.
std::vector<std::string> ShownButtonsThenClose(const std::function<void()>& show) {
    std::vector<std::string> seen;
    QTimer::singleShot(0, [&seen] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
            if (b->isVisible())
                seen.push_back(b->text().toStdString());
        static_cast<QDialog*>(dialog)->reject();
    });
    show();
    std::sort(seen.begin(), seen.end());
    return seen;
}

TEST(Dialogs, TheRealDialogsShowTheFrenchButtons) {
    TApplication app;
    std::string value = "initial";
    bool confirmed = true;
    EXPECT_EQ(ShownButtonsThenClose([&] { confirmed = InputQuery("Password", "Enter", value); }),
              (std::vector<std::string>{"Annuler", "OK"}));
    EXPECT_FALSE(confirmed);
    EXPECT_EQ(value, "initial");
    int answer = mrNone;
    EXPECT_EQ(ShownButtonsThenClose([&] {
                  answer = MessageDlg("?", TMsgDlgType::mtConfirmation,
                                      {TMsgDlgBtn::mbOK, TMsgDlgBtn::mbCancel});
              }),
              (std::vector<std::string>{"Annuler", "OK"}));
    EXPECT_EQ(answer, mrCancel);
}

// The messages break their lines with a carriage return alone, as the system's own boxes
// show them.
TEST(Dialogs, TheRealMessageBoxBreaksLinesAtACarriageReturn) {
    TApplication app;
    std::string shown;
    QTimer::singleShot(0, [&shown] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        shown = box->text().toStdString();
        box->reject();
    });
    ShowMessage("un\r\rdeux\r\ntrois");
    EXPECT_EQ(shown, "un\n\ndeux\ntrois");
}

// A text is shown as it stands, never as markup: boxes quote what servers answer.
TEST(Dialogs, TheRealDialogsShowTheirTextAsItStands) {
    TApplication app;
    const std::string text = "<h1>Maintenance</h1>";
    std::vector<std::string> seen;
    auto look = [&seen] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        for (QLabel* label : dialog->findChildren<QLabel*>())
            if (label->text().contains("Maintenance"))
                seen.push_back(label->textFormat() == Qt::PlainText ? "plain" : "markup");
        if (auto* box = qobject_cast<QMessageBox*>(dialog))
            seen.push_back(box->textFormat() == Qt::PlainText ? "plain" : "markup");
        dialog->close();
    };
    QTimer::singleShot(0, look);
    ShowMessage(text);
    QTimer::singleShot(0, look);
    InputBox("Titre", text, "");
    EXPECT_EQ(seen, (std::vector<std::string>{"plain", "plain", "plain"}));
}

// Closing the window of a real dialog is an answer of its own, as with the scripted one.
TEST(Dialogs, TheRealMessageDialogCanBeClosedWithoutAButton) {
    TApplication app;
    bool refused = false;
    QTimer::singleShot(0, [] {
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    QTimer::singleShot(200, [&refused] { // still open: press a button to end the test
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            refused = true;
            box->buttons().front()->click();
        }
    });
    int answer = MessageDlg("Failed", TMsgDlgType::mtConfirmation,
                            {TMsgDlgBtn::mbAbort, TMsgDlgBtn::mbRetry, TMsgDlgBtn::mbIgnore});
    EXPECT_FALSE(refused);
    EXPECT_EQ(answer, mrCancel);
}

TEST(Dialogs, PresentersNestAndComeBack) {
    TApplication app;
    TScriptedDialogs outer;
    {
        TScriptedDialogs inner;
        ShowMessage("inner");
        EXPECT_EQ(inner->shown.size(), 1u);
    }
    ShowMessage("outer");
    ASSERT_EQ(outer->shown.size(), 1u);
    EXPECT_EQ(outer->shown[0].text, "outer");
}

} // namespace
