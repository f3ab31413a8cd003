#include "vcl/Controls.h"

#include "vcl/Forms.h"
#include "vcl/Menus.h"

#include <QFont>
#include <QPalette>
#include <QTextDocument>

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
    SetSize(width, height);
    widget_->move(left, top);
}

void TControl::SetSize(int width, int height) {
    if (widget_->isWindow() && widget_->minimumSize() == widget_->maximumSize())
        widget_->setFixedSize(width, height);
    else
        widget_->resize(width, height);
}

void TControl::SetFont(const TFont& font) {
    QFont f(ToQString(font.Name));
    f.setPointSize(font.Size);
    f.setBold(font.Bold);
    widget_->setFont(f);
    QPalette palette = widget_->palette();
    palette.setColor(QPalette::WindowText, ToQColor(font.Color));
    palette.setColor(QPalette::Text, ToQColor(font.Color));
    widget_->setPalette(palette);
}

void TControl::SetColor(TColor color) {
    QPalette palette = widget_->palette();
    palette.setColor(QPalette::Window, ToQColor(color));
    widget_->setPalette(palette);
    widget_->setAutoFillBackground(true);
}

void TControl::SetPopupMenu(TPopupMenu* menu) {
    popup_menu_ = menu;
    QObject::disconnect(widget_, &QWidget::customContextMenuRequested, nullptr, nullptr);
    if (!menu) {
        widget_->setContextMenuPolicy(Qt::DefaultContextMenu);
        return;
    }
    widget_->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(widget_, &QWidget::customContextMenuRequested, widget_,
                     [this](const QPoint& at) {
                         SafeCall([this, at] {
                             if (popup_menu_) {
                                 QPoint global = widget_->mapToGlobal(at);
                                 popup_menu_->Popup(global.x(), global.y());
                             }
                         });
                     });
}

QString ToQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ShownLineBreaks(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] != '\r')
            shown += text[i];
        else if (i + 1 == text.size() || text[i + 1] != '\n')
            shown += '\n';
    return shown;
}

QString PlainToolTip(const std::string& text) {
    const QString shown = ToQString(ShownLineBreaks(text));
    return Qt::mightBeRichText(shown) ? shown.toHtmlEscaped() : shown;
}

std::string FromQString(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace vcl
