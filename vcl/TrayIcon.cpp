#include "vcl/TrayIcon.h"

#include "vcl/Controls.h"
#include "vcl/Forms.h"
#include "vcl/Menus.h"

#include <QIcon>
#include <QSystemTrayIcon>
#include <QTimer>

namespace vcl {

TRxTrayIcon::TRxTrayIcon(TComponent* owner) : TComponent(owner), look_(std::make_unique<QTimer>()) {
    LookForTheArea();
    QObject::connect(look_.get(), &QTimer::timeout, [this] { LookForTheArea(); });
    look_->start(1000);
}

TRxTrayIcon::~TRxTrayIcon() = default;

void TRxTrayIcon::LookForTheArea() {
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    if (available && !tray_) {
        tray_ = std::make_unique<QSystemTrayIcon>();
        QObject::connect(tray_.get(), &QSystemTrayIcon::activated,
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             // A right click opens the menu and fires no click event.
                             if (reason == QSystemTrayIcon::Trigger)
                                 Click();
                         });
        // What was set while there was no icon to show it.
        SetHint(hint_);
        SetIcon(icon_);
        SetPopupMenu(popup_menu_);
    }
    if (available == available_)
        return;
    available_ = available;
    SafeCall(OnAvailableChange, this);
}

void TRxTrayIcon::SetHint(const std::string& hint) {
    hint_ = hint;
    if (tray_)
        tray_->setToolTip(PlainToolTip(hint)); // "Kestrova : " and what a server gave
}

void TRxTrayIcon::SetIcon(const TPicture& icon) {
    icon_ = icon;
    if (tray_)
        tray_->setIcon(icon.Empty() ? QIcon() : QIcon(icon.Pixmap()));
    Update();
}

void TRxTrayIcon::SetPopupMenu(TPopupMenu* menu) {
    popup_menu_ = menu;
    if (tray_)
        tray_->setContextMenu(menu ? menu->Menu() : nullptr);
}

void TRxTrayIcon::SetActive(bool active) {
    active_ = active;
    Update();
}

bool TRxTrayIcon::Showing() const {
    return available_ && tray_ && tray_->isVisible();
}

void TRxTrayIcon::Click() {
    SafeCall(OnClick, this);
}

void TRxTrayIcon::Update() {
    // An icon without a picture would stand as an empty square: it waits for its picture.
    if (tray_)
        tray_->setVisible(active_ && !icon_.Empty());
}

} // namespace vcl
