#include "vcl/Controls.h"

namespace vcl {

TControl::TControl(TComponent* owner, QWidget* widget) : TComponent(owner), widget_(widget) {
}

TControl::~TControl() {
    // A parent widget released first has taken its children with it; QPointer knows.
    delete widget_.data();
}

void TControl::SetParent(TControl* parent) {
    parent_ = parent;
    widget_->setParent(parent ? parent->Widget() : nullptr);
    widget_->setVisible(visible_);
}

void TControl::SetVisible(bool visible) {
    visible_ = visible;
    // A control without a parent widget would become a window of its own: it waits for one.
    if (widget_->parentWidget())
        widget_->setVisible(visible);
}

std::string TControl::Hint() const {
    return FromQString(widget_->toolTip());
}

void TControl::SetHint(const std::string& hint) {
    widget_->setToolTip(ToQString(hint));
}

void TControl::SetBounds(int left, int top, int width, int height) {
    widget_->setGeometry(left, top, width, height);
}

QString ToQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQString(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace vcl
