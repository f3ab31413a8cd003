// The notification-area (tray) icon: an icon with a tip text, a pop-up menu on right click
// and a click event on left click. Where the desktop has no notification area (Qt's
// offscreen platform among others) it keeps its state and shows nothing.
#pragma once

#include "vcl/Classes.h"
#include "vcl/Graphics.h"

#include <memory>

class QSystemTrayIcon;

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

    // Runs OnClick as a left click of the user would.
    void Click();
    TNotifyEvent OnClick;

private:
    void Update();
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::string hint_;
    TPicture icon_;
    TPopupMenu* popup_menu_ = nullptr;
    bool active_ = true;
};

} // namespace vcl
