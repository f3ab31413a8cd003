#include "vcl/Dialogs.h"

#include "vcl/Controls.h"
#include "vcl/Forms.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>

namespace vcl {

namespace {

// The default presenter: real Qt dialogs.
class TQtPresenter : public TDialogPresenter {
public:
    TDialogAnswer Present(const TDialogRequest& request) override {
        if (request.kind == TDialogRequest::Kind::InputBox) {
            QInputDialog box;
            box.setWindowTitle(ToQString(request.caption));
            box.setLabelText(ToQString(ShownLineBreaks(request.text)));
            box.setTextEchoMode(QLineEdit::Normal);
            box.setTextValue(ToQString(request.value));
            // The framework's own button texts, not Qt's untranslated ones.
            if (request.buttons.size() > 0)
                box.setOkButtonText(ToQString(request.buttons[0].caption));
            if (request.buttons.size() > 1)
                box.setCancelButtonText(ToQString(request.buttons[1].caption));
            if (box.exec() != QDialog::Accepted)
                return {mrCancel, request.value};
            return {mrOk, FromQString(box.textValue())};
        }
        QMessageBox box;
        box.setWindowTitle(ToQString(request.caption));
        box.setText(ToQString(ShownLineBreaks(request.text)));
        switch (request.icon) {
        case TDialogIcon::Stop:
            box.setIcon(QMessageBox::Critical);
            break;
        case TDialogIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case TDialogIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case TDialogIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case TDialogIcon::None:
            break;
        }
        std::vector<std::pair<QAbstractButton*, int>> buttons;
        for (const auto& b : request.buttons)
            buttons.emplace_back(box.addButton(ToQString(b.caption), QMessageBox::ActionRole),
                                 b.result);
        // Qt refuses to close a box that has no escape button; the framework's dialogs close
        // from their window frame (or Esc) with an answer of their own.
        QAbstractButton* closer = box.addButton(QString(), QMessageBox::RejectRole);
        closer->hide();
        box.setEscapeButton(closer);
        box.exec();
        for (auto& [button, result] : buttons)
            if (box.clickedButton() == button)
                return {result, {}};
        return {request.closeResult, {}};
    }
};

TDialogPresenter* current_presenter = nullptr;

TDialogPresenter& DefaultPresenter() {
    static TQtPresenter presenter;
    return presenter;
}

std::string ButtonCaption(TMsgDlgBtn button) {
    switch (button) {
    case TMsgDlgBtn::mbYes:
        return "&Oui";
    case TMsgDlgBtn::mbNo:
        return "&Non";
    case TMsgDlgBtn::mbOK:
        return "OK";
    case TMsgDlgBtn::mbCancel:
        return "Annuler";
    case TMsgDlgBtn::mbAbort:
        return "&Abandonner";
    case TMsgDlgBtn::mbRetry:
        return "&Retenter";
    case TMsgDlgBtn::mbIgnore:
        return "&Ignorer";
    case TMsgDlgBtn::mbAll:
        return "&Tous";
    case TMsgDlgBtn::mbNoToAll:
        return "Non &pour tout";
    case TMsgDlgBtn::mbYesToAll:
        return "O&ui pour tout";
    case TMsgDlgBtn::mbHelp:
        return "&Aide";
    }
    return {};
}

int ButtonResult(TMsgDlgBtn button) {
    switch (button) {
    case TMsgDlgBtn::mbYes:
        return mrYes;
    case TMsgDlgBtn::mbNo:
        return mrNo;
    case TMsgDlgBtn::mbOK:
        return mrOk;
    case TMsgDlgBtn::mbCancel:
        return mrCancel;
    case TMsgDlgBtn::mbAbort:
        return mrAbort;
    case TMsgDlgBtn::mbRetry:
        return mrRetry;
    case TMsgDlgBtn::mbIgnore:
        return mrIgnore;
    case TMsgDlgBtn::mbAll:
        return mrAll;
    case TMsgDlgBtn::mbNoToAll:
        return mrNoToAll;
    case TMsgDlgBtn::mbYesToAll:
        return mrYesToAll;
    case TMsgDlgBtn::mbHelp:
        return mrNone;
    }
    return mrNone;
}

std::string DialogCaption(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::mtWarning:
        return "Avertissement";
    case TMsgDlgType::mtError:
        return "Erreur";
    case TMsgDlgType::mtInformation:
        return "Information";
    case TMsgDlgType::mtConfirmation:
        return "Confirmation";
    case TMsgDlgType::mtCustom:
        break;
    }
    return HasApplication() ? Application().Title : std::string();
}

TDialogIcon DialogIcon(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::mtWarning:
        return TDialogIcon::Warning;
    case TMsgDlgType::mtError:
        return TDialogIcon::Stop;
    case TMsgDlgType::mtInformation:
        return TDialogIcon::Information;
    case TMsgDlgType::mtConfirmation:
        return TDialogIcon::Question;
    case TMsgDlgType::mtCustom:
        break;
    }
    return TDialogIcon::None;
}

} // namespace

TPresenterScope::TPresenterScope(std::unique_ptr<TDialogPresenter> presenter)
    : presenter_(std::move(presenter)), previous_(current_presenter) {
    current_presenter = presenter_.get();
}

TPresenterScope::~TPresenterScope() {
    current_presenter = previous_;
}

TDialogPresenter& DialogPresenter() {
    return current_presenter ? *current_presenter : DefaultPresenter();
}

TDialogAnswer TScriptedPresenter::Present(const TDialogRequest& request) {
    shown.push_back(request);
    if (!presses_.empty()) {
        std::string caption = presses_.front();
        presses_.pop_front();
        for (const auto& b : request.buttons)
            if (b.caption == caption)
                return {b.result, {}};
        return {request.closeResult, {}};
    }
    if (answers.empty())
        return {request.closeResult, request.value};
    TDialogAnswer answer = answers.front();
    answers.pop_front();
    return answer;
}

void TScriptedPresenter::Press(const std::string& caption) {
    presses_.push_back(caption);
}

TScriptedDialogs::TScriptedDialogs()
    : presenter_(new TScriptedPresenter), scope_(std::unique_ptr<TDialogPresenter>(presenter_)) {
}

int MessageDlg(const std::string& message, TMsgDlgType type, const TMsgDlgButtons& buttons,
               int /*helpContext*/) {
    TDialogRequest request;
    request.kind = TDialogRequest::Kind::MessageDlg;
    request.caption = DialogCaption(type);
    request.text = message;
    request.icon = DialogIcon(type);
    // Buttons stand in the framework's fixed order, whatever order the set was given in.
    static const TMsgDlgBtn order[] = {
        TMsgDlgBtn::mbYes,     TMsgDlgBtn::mbNo,       TMsgDlgBtn::mbOK,     TMsgDlgBtn::mbCancel,
        TMsgDlgBtn::mbAbort,   TMsgDlgBtn::mbRetry,    TMsgDlgBtn::mbIgnore, TMsgDlgBtn::mbAll,
        TMsgDlgBtn::mbNoToAll, TMsgDlgBtn::mbYesToAll, TMsgDlgBtn::mbHelp};
    for (TMsgDlgBtn b : order)
        if (std::find(buttons.begin(), buttons.end(), b) != buttons.end())
            request.buttons.push_back({ButtonCaption(b), ButtonResult(b)});
    request.closeResult = mrCancel;
    return DialogPresenter().Present(request).result;
}

void ShowMessage(const std::string& message) {
    TDialogRequest request;
    request.kind = TDialogRequest::Kind::MessageDlg;
    request.caption = HasApplication() ? Application().Title : std::string();
    request.text = message;
    request.buttons.push_back({"OK", mrOk});
    request.closeResult = mrCancel;
    DialogPresenter().Present(request);
}

bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) {
    TDialogRequest request;
    request.kind = TDialogRequest::Kind::InputBox;
    request.caption = caption;
    request.text = prompt;
    request.value = value;
    request.buttons = {{"OK", mrOk}, {"Annuler", mrCancel}};
    request.closeResult = mrCancel;
    TDialogAnswer answer = DialogPresenter().Present(request);
    if (answer.result != mrOk)
        return false;
    value = answer.value;
    return true;
}

std::string InputBox(const std::string& caption, const std::string& prompt,
                     const std::string& defaultValue) {
    std::string value = defaultValue;
    return InputQuery(caption, prompt, value) ? value : defaultValue;
}

int ShowMessageBox(const std::string& text, const std::string& caption, int flags) {
    TDialogRequest request;
    request.kind = TDialogRequest::Kind::MessageBox;
    request.caption = caption;
    request.text = text;
    switch (flags & 0xF0) {
    case MB_ICONSTOP:
        request.icon = TDialogIcon::Stop;
        break;
    case MB_ICONQUESTION:
        request.icon = TDialogIcon::Question;
        break;
    case MB_ICONWARNING:
        request.icon = TDialogIcon::Warning;
        break;
    case MB_ICONINFORMATION:
        request.icon = TDialogIcon::Information;
        break;
    default:
        break;
    }
    switch (flags & 0x0F) {
    case MB_OKCANCEL:
        request.buttons = {{"OK", IDOK}, {"Annuler", IDCANCEL}};
        request.closeResult = IDCANCEL;
        break;
    case MB_ABORTRETRYIGNORE:
        request.buttons = {
            {"&Abandonner", IDABORT}, {"&Recommencer", IDRETRY}, {"&Ignorer", IDIGNORE}};
        request.closeResult = IDABORT;
        break;
    case MB_YESNOCANCEL:
        request.buttons = {{"&Oui", IDYES}, {"&Non", IDNO}, {"Annuler", IDCANCEL}};
        request.closeResult = IDCANCEL;
        break;
    case MB_YESNO:
        request.buttons = {{"&Oui", IDYES}, {"&Non", IDNO}};
        request.closeResult = IDNO;
        break;
    case MB_RETRYCANCEL:
        request.buttons = {{"&Recommencer", IDRETRY}, {"Annuler", IDCANCEL}};
        request.closeResult = IDCANCEL;
        break;
    default:
        request.buttons = {{"OK", IDOK}};
        request.closeResult = IDOK; // a box with OK alone answers OK however it is closed
        break;
    }
    return DialogPresenter().Present(request).result;
}

} // namespace vcl
