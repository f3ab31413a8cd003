// Message boxes, message dialogs and the input box, all through one replaceable presenter:
// real Qt dialogs while the widget layer's application object lives, a scripted one in tests,
// and without either the answer of a dialog closed without a button.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace vcl {

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum class TMsgDlgBtn {
    mbYes,
    mbNo,
    mbOK,
    mbCancel,
    mbAbort,
    mbRetry,
    mbIgnore,
    mbAll,
    mbNoToAll,
    mbYesToAll,
    mbHelp
};
using TMsgDlgButtons = std::vector<TMsgDlgBtn>;

// The system message box's flags and answers.
constexpr int MB_OK = 0x00, MB_OKCANCEL = 0x01, MB_ABORTRETRYIGNORE = 0x02, MB_YESNOCANCEL = 0x03,
              MB_YESNO = 0x04, MB_RETRYCANCEL = 0x05;
constexpr int MB_ICONSTOP = 0x10, MB_ICONERROR = 0x10, MB_ICONQUESTION = 0x20,
              MB_ICONWARNING = 0x30, MB_ICONEXCLAMATION = 0x30, MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7;

// Modal results, with the framework's values.
constexpr int mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6,
              mrNo = 7, mrAll = 8, mrNoToAll = 9, mrYesToAll = 10;

enum class TDialogIcon { None, Stop, Question, Warning, Information };

// What a dialog shows: everything a presenter needs, and what a test checks.
struct TDialogRequest {
    enum class Kind { MessageBox, MessageDlg, InputBox } kind = Kind::MessageBox;
    std::string caption;
    std::string text; // for the input box, its prompt
    TDialogIcon icon = TDialogIcon::None;
    struct Button {
        std::string caption;
        int result;
    };
    std::vector<Button> buttons; // in the order shown; empty for the input box
    int closeResult = mrCancel;  // the answer when the dialog is closed without a button
    std::string value;           // the input box's initial text
};

struct TDialogAnswer {
    int result = mrCancel;
    std::string value; // the input box's text
};

class TDialogPresenter {
public:
    virtual ~TDialogPresenter() = default;
    virtual TDialogAnswer Present(const TDialogRequest& request) = 0;
};

// Installs a presenter for as long as the returned guard lives; the previous one comes back.
class TPresenterScope {
public:
    explicit TPresenterScope(std::unique_ptr<TDialogPresenter> presenter);
    ~TPresenterScope();
    TPresenterScope(const TPresenterScope&) = delete;
    TPresenterScope& operator=(const TPresenterScope&) = delete;

private:
    std::unique_ptr<TDialogPresenter> presenter_;
    TDialogPresenter* previous_;
};

// The widget layer's side: while its application object lives, it shows real dialogs and
// names the title that captions the plain message boxes.
class TDialogHost {
public:
    virtual ~TDialogHost() = default;
    virtual TDialogPresenter& Presenter() = 0;
    virtual std::string Title() const = 0;
};

// Installs the host (nullptr removes it); returns the one it replaces.
TDialogHost* SetDialogHost(TDialogHost* host);

// The scoped presenter, else the host's, else one that closes every dialog without a button:
// a program without windows gets each dialog's closed answer and never blocks or aborts.
TDialogPresenter& DialogPresenter();

// For tests: records every request and gives the queued answers in turn; with none queued
// it closes the dialog without a button.
class TScriptedPresenter : public TDialogPresenter {
public:
    TDialogAnswer Present(const TDialogRequest& request) override;
    void Answer(int result, std::string value = {}) {
        answers.push_back({result, std::move(value)});
    }
    // Answers by pressing the button with this caption.
    void Press(const std::string& caption);

    std::vector<TDialogRequest> shown;
    std::deque<TDialogAnswer> answers;

private:
    std::deque<std::string> presses_;
};

// Installs a scripted presenter for the scope and gives access to it.
class TScriptedDialogs {
public:
    TScriptedDialogs();
    TScriptedPresenter& operator*() { return *presenter_; }
    TScriptedPresenter* operator->() { return presenter_; }

private:
    TScriptedPresenter* presenter_;
    TPresenterScope scope_;
};

// The framework's message dialog, with its French captions; returns a modal result.
int MessageDlg(const std::string& message, TMsgDlgType type, const TMsgDlgButtons& buttons,
               int helpContext = 0);
void ShowMessage(const std::string& message);
// The input box: the text typed, or defaultValue when cancelled.
std::string InputBox(const std::string& caption, const std::string& prompt,
                     const std::string& defaultValue);
// True when confirmed; value then holds the text typed.
bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value);
// The system message box: flags MB_*, result ID*.
int ShowMessageBox(const std::string& text, const std::string& caption, int flags);

} // namespace vcl
