#include "vcl/Dialogs.h"
#include "vcl/Forms.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
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

// The real dialog, read while it is up: the messages break their lines with a lone CR, and
// the box must show those breaks.
TEST(Dialogs, TheMessageBoxBreaksLinesAtALoneCarriageReturn) {
    TApplication app;
    QString shown;
    bool seen = false;
    std::function<void()> readAndClose = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(10, readAndClose);
            return;
        }
        seen = true;
        shown = box->text();
        box->buttons().at(0)->click();
    };
    QTimer::singleShot(0, readAndClose);
    ShowMessage("Titre :\r\rUn\r\nDeux\nTrois\r");
    ASSERT_TRUE(seen);
    EXPECT_EQ(shown, QString("Titre :\n\nUn\nDeux\nTrois\n"));
}

} // namespace
