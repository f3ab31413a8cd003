#include "vcl/Menus.h"

#include "vcl/Controls.h"
#include "vcl/Forms.h"

#include <QAction>
#include <QIcon>
#include <QMenu>

namespace vcl {

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner), action_(std::make_unique<QAction>()) {
    QObject::connect(action_.get(), &QAction::triggered, [this] { SafeCall(OnClick, this); });
}

TMenuItem::~TMenuItem() = default;

std::string TMenuItem::Caption() const {
    return IsSeparator() ? std::string("-") : FromQString(action_->text());
}

void TMenuItem::SetCaption(const std::string& caption) {
    action_->setSeparator(caption == "-");
    action_->setText(caption == "-" ? QString() : ToQString(caption));
}

bool TMenuItem::IsSeparator() const {
    return action_->isSeparator();
}

void TMenuItem::SetBitmap(const TPicture& bitmap) {
    bitmap_ = bitmap;
    action_->setIcon(bitmap.Empty() ? QIcon() : QIcon(bitmap.Pixmap()));
}

bool TMenuItem::Enabled() const {
    return action_->isEnabled();
}

void TMenuItem::SetEnabled(bool enabled) {
    action_->setEnabled(enabled);
}

bool TMenuItem::Visible() const {
    return action_->isVisible();
}

void TMenuItem::SetVisible(bool visible) {
    action_->setVisible(visible);
}

void TMenuItem::Click() {
    if (!IsSeparator() && Enabled())
        SafeCall(OnClick, this);
}

TPopupMenu::TPopupMenu(TComponent* owner) : TComponent(owner), menu_(std::make_unique<QMenu>()) {
}

TPopupMenu::~TPopupMenu() = default;

void TPopupMenu::Add(TMenuItem* item) {
    items_.push_back(item);
    menu_->addAction(item->Action());
}

void TPopupMenu::Popup(int x, int y) {
    menu_->popup(QPoint(x, y));
}

} // namespace vcl
