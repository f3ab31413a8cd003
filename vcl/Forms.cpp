#include "vcl/Forms.h"

#include "platform/SpecialFolders.h"
#include "vcl/QtPresenter.h"
#include "vcl/SysUtils.h"
#include "vcl/X11Window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QTranslator>
#include <QWidget>
#include <cstdio>

namespace vcl {

namespace {

TApplication* current_application = nullptr;

// The window of a form: closing it takes the form's close road, which decides what happens.
class FormWidget : public QWidget {
public:
    explicit FormWidget(TForm* form) : form_(form) {}

protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        if (!closing_) {
            closing_ = true;
            SafeCall([this] { form_->Close(); });
            closing_ = false;
        }
    }
    void showEvent(QShowEvent*) override {
        // A tool window of the program has no task-bar button: told before it is mapped, and
        // asked again once it is.
        if (windowType() == Qt::Tool) {
            x11::SkipTaskbar(*this);
            QMetaObject::invokeMethod(
                this, [this] { x11::AskSkipTaskbar(*this); }, Qt::QueuedConnection);
        }
        SafeCall(form_->OnShow, form_);
    }
    void hideEvent(QHideEvent*) override { SafeCall(form_->OnHide, form_); }

private:
    TForm* form_;
    bool closing_ = false;
};

class TApplicationDialogs : public TDialogHost {
public:
    explicit TApplicationDialogs(const TApplication& application) : application_(application) {}
    TDialogPresenter& Presenter() override { return presenter_; }
    std::string Title() const override { return application_.Title; }

private:
    const TApplication& application_;
    TQtPresenter presenter_;
};

} // namespace

TForm::TForm(TComponent* owner) : TControl(owner, new FormWidget(this)) {
    widget_->setAttribute(Qt::WA_DeleteOnClose, false);
}

std::string TForm::Caption() const {
    return FromQString(widget_->windowTitle());
}

void TForm::SetCaption(const std::string& caption) {
    widget_->setWindowTitle(ToQString(caption));
}

bool TForm::Visible() const {
    return widget_->isVisible();
}

void TForm::SetVisible(bool visible) {
    widget_->setVisible(visible);
}

void TForm::Close() {
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(this, canClose);
    if (!canClose)
        return;
    TCloseAction action = TCloseAction::caHide;
    if (OnClose)
        OnClose(this, action);
    if (action == TCloseAction::caNone)
        return;
    if (HasApplication() && Application().MainForm() == this) {
        Application().Terminate();
        return;
    }
    if (action == TCloseAction::caMinimize)
        widget_->showMinimized();
    else
        Hide(); // caFree too: forms live as long as their owner here
}

void TForm::BringToFront() {
    widget_->raise();
    widget_->activateWindow();
}

void TForm::ApplyWindowFlags() {
    const bool secondary =
        HasApplication() && Application().MainForm() && Application().MainForm() != this;
    Qt::WindowFlags flags = secondary || border_style_ == TFormBorderStyle::bsToolWindow
                                ? Qt::WindowFlags(Qt::Tool)
                                : Qt::WindowFlags(Qt::Window);
    switch (border_style_) {
    case TFormBorderStyle::bsNone:
        flags |= Qt::FramelessWindowHint;
        break;
    case TFormBorderStyle::bsSizeable:
        break; // the window system's own title bar, every button included
    case TFormBorderStyle::bsSingle:
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
        break;
    case TFormBorderStyle::bsDialog:
    case TFormBorderStyle::bsToolWindow:
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint;
        break;
    }
    if (form_style_ == TFormStyle::fsStayOnTop)
        flags |= Qt::WindowStaysOnTopHint;
    if (widget_->windowFlags() == flags)
        return;
    // Changing the flags of a shown window hides it: it comes back where it was.
    const bool shown = widget_->isVisible();
    widget_->setWindowFlags(flags);
    if (shown)
        widget_->show();
}

// Only a sizeable border lets the user resize or maximize the window; the other bordered
// styles keep the designed size, so that no control falls out of sight. A window without a
// border offers nothing to drag.
void TForm::SetBorderStyle(TFormBorderStyle style) {
    border_style_ = style;
    ApplyWindowFlags();
    if (style == TFormBorderStyle::bsSizeable || style == TFormBorderStyle::bsNone) {
        widget_->setMinimumSize(0, 0);
        widget_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        widget_->setFixedSize(widget_->size());
    }
}

TFormStyle TForm::FormStyle() const {
    return form_style_;
}

void TForm::SetFormStyle(TFormStyle style) {
    form_style_ = style;
    ApplyWindowFlags();
}

void TForm::SetPosition(TPosition position) {
    if (position != TPosition::poScreenCenter)
        return;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect desktop = screen->geometry();
        widget_->move(desktop.x() + (desktop.width() - Width()) / 2,
                      desktop.y() + (desktop.height() - Height()) / 2);
    }
}

// The desktop.

int TScreen::Width() const {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().width() : 0;
}

int TScreen::Height() const {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().height() : 0;
}

TRect TScreen::WorkAreaRect() const {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    QRect area = screen->availableGeometry();
    return {area.x(), area.y(), area.x() + area.width(), area.y() + area.height()};
}

TScreen& Screen() {
    static TScreen screen;
    return screen;
}

void TForm::FinishLoading() {
    if (loading_finished_)
        return;
    loading_finished_ = true;
    for (int i = 0; i < ComponentCount(); ++i)
        Components(i)->Loaded();
    Loaded();
    SafeCall(OnCreate, this);
}

// Application.

TApplication::TApplication(int& argc, char** argv) : TComponent(nullptr) {
    if (!QApplication::instance())
        own_qt_ = std::make_unique<QApplication>(argc, argv);
    // A tray program lives on with every window hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    // The texts Qt shows by itself (an edit box's context menu, the standard buttons of its
    // dialogs) come from Qt's French translations.
    qt_texts_ = std::make_unique<QTranslator>();
    if (qt_texts_->load(QLocale(QLocale::French), "qtbase", "_",
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt_texts_.get());
    current_application = this;
    dialogs_ = std::make_unique<TApplicationDialogs>(*this);
    previous_dialogs_ = SetDialogHost(dialogs_.get());
}

namespace {
int default_argc = 1;
char default_name[] = "kestrova";
char* default_argv[] = {default_name, nullptr};
} // namespace

TApplication::TApplication() : TApplication(default_argc, default_argv) {
}

void TApplication::SetIcon(const TPicture& icon) {
    QApplication::setWindowIcon(icon.Empty() ? QIcon() : QIcon(icon.Pixmap()));
}

TApplication::~TApplication() {
    DestroyComponents();
    if (current_application == this)
        current_application = nullptr;
    // Gives the dialogs back only when they are still this application's.
    TDialogHost* shown = SetDialogHost(previous_dialogs_);
    if (shown != dialogs_.get())
        SetDialogHost(shown);
}

void TApplication::Run() {
    if (ShowMainForm && main_form_)
        main_form_->Show();
    if (!terminated_)
        QApplication::exec();
}

// Ends every running message loop, nested ones (a modal box, a handler's message pump)
// included; the outermost returns once the handlers below it have. Qt's quit() would first
// close every window and give up as soon as one stays open, which each form's window does
// (its close is the form's own affair): a notice on screen beside the main window kept the
// program running.
void TApplication::Terminate() {
    terminated_ = true;
    QCoreApplication::exit(0);
}

void TApplication::ProcessMessages() {
    QApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::Restore() {
    if (main_form_ && main_form_->Widget()->isMinimized())
        main_form_->Widget()->showNormal();
}

void TApplication::BringToFront() {
    if (main_form_)
        main_form_->BringToFront();
}

void TApplication::ShowException(const std::exception& error) {
    std::string message = error.what();
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        message += '.';
    MessageBox(message, Title, MB_OK | MB_ICONSTOP);
}

void TApplication::HandleException(const std::exception& error) {
    ShowException(error);
}

void TApplication::QueueCall(std::function<void()> call) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [call = std::move(call)] { SafeCall(call); },
        Qt::QueuedConnection);
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, int flags) {
    return ShowMessageBox(text, caption, flags);
}

std::string TApplication::ExeName() const {
    return platform::ProgramPath();
}

TApplication& Application() {
    if (!current_application)
        throw Exception("no application object");
    return *current_application;
}

bool HasApplication() {
    return current_application != nullptr;
}

void HandleCurrentException() noexcept {
    try {
        try {
            throw;
        } catch (const std::exception& error) {
            if (!HasApplication()) {
                std::fprintf(stderr, "%s\n", error.what());
                return;
            }
            Application().HandleException(error);
        } catch (...) {
            // Not one of ours: the box still tells that the handler failed.
            const Exception unknown("Exception inconnue");
            if (!HasApplication()) {
                std::fprintf(stderr, "%s\n", unknown.what());
                return;
            }
            Application().HandleException(unknown);
        }
    } catch (...) {
        // The error box itself failed; nothing is left to tell it with.
    }
}

void Beep() {
    QApplication::beep();
}

} // namespace vcl
