// The notification-area (tray) icon: an icon with a tip text, a pop-up menu on right click
// and a click event on left click. Where the desktop has no notification area (Qt's
// offscreen platform among others) it keeps its state and shows nothing. A notification area
// may come and go while the program runs (a panel restarted, a desktop changed): the icon
// looks every second, shows itself in one that came, and tells both through
// OnAvailableChange.
#pragma once

#include "vcl/Classes.h"
#include "vcl/Graphics.h"

#include <memory>

class QSystemTrayIcon;
class QTimer;

namespace vcl {

class TPopupMenu;

class TRxTrayIcon : public TComponent {
public:
    explicit TRxTrayIcon(TComponent* owner);
    ~TRxTrayIcon() override;

    std::string Hint() const { return hint_; }
    void SetHint(const std::string& hint);
    const TPicture& Icon() const { return icon_; }
    void SetIcon(const TPicture& icon);
    TPopupMenu* PopupMenu() const { return popup_menu_; }
    void SetPopupMenu(TPopupMenu* menu);
    // Shown in the notification area while active.
    bool Active() const { return active_; }
    void SetActive(bool active);
    // True when the icon really stands in a notification area.
    bool Showing() const;
    // True while the desktop has a notification area.
    bool Available() const { return available_; }
    TNotifyEvent OnAvailableChange;

    // Runs OnClick as a left click of the user would.
    void Click();
    TNotifyEvent OnClick;

private:
    void Update();
    void LookForTheArea();
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<QTimer> look_;
    bool available_ = false;
    std::string hint_;
    TPicture icon_;
    TPopupMenu* popup_menu_ = nullptr;
    bool active_ = true;
};

} // namespace vcl
