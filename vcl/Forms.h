// Forms and the application object.
#pragma once

#include "vcl/Controls.h"
#include "vcl/Dialogs.h" // TApplication::MessageBox takes its flags

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

class QApplication;
class QTranslator;

namespace vcl {

enum class TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;

enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow };
enum class TFormStyle { fsNormal, fsStayOnTop };
enum class TPosition { poDesigned, poScreenCenter };

// A rectangle as the system gives it: Right and Bottom lie just outside it.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};

// The desktop: the primary screen, and its work area (without the panels and task bars).
class TScreen {
public:
    int Width() const;
    int Height() const;
    TRect WorkAreaRect() const;
};

TScreen& Screen();

class TForm : public TControl {
public:
    explicit TForm(TComponent* owner);

    std::string Caption() const;
    void SetCaption(const std::string& caption);
    int ClientWidth() const { return Width(); }
    int ClientHeight() const { return Height(); }
    void SetClientWidth(int width) { SetWidth(width); }
    void SetClientHeight(int height) { SetHeight(height); }

    // Only bsSizeable lets the user resize or maximize the window; a form other than the
    // application's main form is a tool window of the program, without a task-bar button of
    // its own, as the framework's secondary forms have none.
    void SetBorderStyle(TFormBorderStyle style);
    TFormStyle FormStyle() const;
    void SetFormStyle(TFormStyle style);
    // poScreenCenter puts the window, at its present size, in the middle of the desktop.
    void SetPosition(TPosition position);

    bool Visible() const override;
    void SetVisible(bool visible) override;
    // Asks OnCloseQuery, then OnClose; the action it leaves decides: the main form ends the
    // program, another form hides.
    void Close();
    void BringToFront();

    // The end of construction in the framework's order: every owned component's after-load
    // notification in creation order, the form's own, then OnCreate.
    void FinishLoading();

    TCloseEvent OnClose;
    TCloseQueryEvent OnCloseQuery;
    TNotifyEvent OnCreate;
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;

private:
    // The window's flags from the border style, the form style and whether the form is the
    // application's main one, set in one step.
    void ApplyWindowFlags();
    TFormBorderStyle border_style_ = TFormBorderStyle::bsSizeable;
    TFormStyle form_style_ = TFormStyle::fsNormal;
    bool loading_finished_ = false;
};

// Creates a form owned by owner and finishes its loading, as the framework does for a form
// read from its resource.
template <class T, class... Args> T* CreateForm(TComponent* owner, Args&&... args) {
    T* form = Create<T>(owner, std::forward<Args>(args)...);
    form->FinishLoading();
    return form;
}

// The application object: it owns the forms, runs the message loop and shows errors that
// no handler caught. Exactly one exists at a time; Application() returns it.
class TApplication : public TComponent {
public:
    // Makes the Qt application unless one exists already (tests make their own).
    TApplication(int& argc, char** argv);
    TApplication();
    ~TApplication() override;

    std::string Title;
    bool ShowMainForm = true;
    // The icon of the program's windows.
    void SetIcon(const TPicture& icon);

    TForm* MainForm() const { return main_form_; }
    // Creates a form owned by the application; the first one becomes the main form once it
    // is fully created, as with the framework.
    template <class T, class... Args> T* CreateForm(Args&&... args) {
        T* form = vcl::CreateForm<T>(this, std::forward<Args>(args)...);
        if (!main_form_)
            main_form_ = form;
        return form;
    }
    // Forgets the main form, for tests that build forms one after another.
    void ResetMainForm() { main_form_ = nullptr; }

    void Run();
    void Terminate();
    // Runs call from the message loop once the handler running now has returned, as a
    // message a program posts to itself; what it raises goes to the error box.
    void QueueCall(std::function<void()> call);
    bool Terminated() const { return terminated_; }
    void ProcessMessages();
    void Restore();
    void BringToFront();

    // The standard error box: the message (with a full stop added unless it ends in one or
    // in a character below it), titled with Title, stop icon.
    void HandleException(const std::exception& error);
    void ShowException(const std::exception& error);
    int MessageBox(const std::string& text, const std::string& caption, int flags);

    std::string ExeName() const;

private:
    std::unique_ptr<QApplication> own_qt_;
    // Qt's own texts in French, like every other text of the programs.
    std::unique_ptr<QTranslator> qt_texts_;
    // Real dialogs, captioned with Title, for as long as the application lives.
    std::unique_ptr<TDialogHost> dialogs_;
    TDialogHost* previous_dialogs_ = nullptr;
    TForm* main_form_ = nullptr;
    bool terminated_ = false;
};

TApplication& Application();
bool HasApplication();

// The system's default sound.
void Beep();

// What the message loop does with an exception that left a handler: the application's error
// box, or standard error when no application exists. Never throws: it runs between Qt's frames.
void HandleCurrentException() noexcept;

// Runs an event handler the way the message loop does: whatever it raises goes to
// HandleCurrentException instead of unwinding through the widget layer.
template <class F, class... Args> void SafeCall(const F& handler, Args&&... args) {
    if constexpr (std::is_constructible_v<bool, const F&>)
        if (!handler)
            return;
    try {
        handler(std::forward<Args>(args)...);
    } catch (...) {
        HandleCurrentException();
    }
}

} // namespace vcl
