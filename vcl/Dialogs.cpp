#include "vcl/Dialogs.h"

#include <algorithm>

namespace vcl {

namespace {

// Without windows: every dialog gives the answer of one closed without a button.
class TClosedPresenter : public TDialogPresenter {
public:
    TDialogAnswer Present(const TDialogRequest& request) override {
        return {request.closeResult, request.value};
    }
};

TDialogPresenter* current_presenter = nullptr;
TDialogHost* current_host = nullptr;

std::string ApplicationTitle() {
    return current_host ? current_host->Title() : std::string();
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
    return ApplicationTitle();
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

TDialogHost* SetDialogHost(TDialogHost* host) {
    TDialogHost* previous = current_host;
    current_host = host;
    return previous;
}

TDialogPresenter& DialogPresenter() {
    static TClosedPresenter closed;
    if (current_presenter)
        return *current_presenter;
    return current_host ? current_host->Presenter() : closed;
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
    request.caption = ApplicationTitle();
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
