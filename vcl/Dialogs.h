// Message boxes, message dialogs and the input box, all through one replaceable presenter:
// a real Qt dialog by default, a scripted one in tests.
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
