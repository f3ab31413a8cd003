#include "vcl/Buttons.h"

#include "vcl/Forms.h"

#include <QIcon>
#include <QPushButton>
#include <QToolButton>

namespace vcl {

TSpeedButton::TSpeedButton(TComponent* owner)
    : TControl(owner, new QToolButton), button_(static_cast<QToolButton*>(Widget())) {
    button_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QObject::connect(button_, &QToolButton::clicked, [this] { SafeCall(OnClick, this); });
}

std::string TSpeedButton::Caption() const {
    return FromQString(button_->text());
}

void TSpeedButton::SetCaption(const std::string& caption) {
    button_->setText(ToQString(caption));
    button_->setToolButtonStyle(caption.empty() ? Qt::ToolButtonIconOnly
                                                : Qt::ToolButtonTextBesideIcon);
}

void TSpeedButton::SetGlyph(const TPicture& glyph) {
    glyph_ = glyph;
    button_->setIcon(glyph.Empty() ? QIcon() : QIcon(glyph.Pixmap()));
    if (!glyph.Empty())
        button_->setIconSize(glyph.Pixmap().size());
}

void TSpeedButton::SetFlat(bool flat) {
    button_->setAutoRaise(flat);
}

void TSpeedButton::Click() {
    SafeCall(OnClick, this);
}

TBitBtn::TBitBtn(TComponent* owner)
    : TButton(owner, new QPushButton), push_(static_cast<QPushButton*>(Widget())) {
}

void TBitBtn::SetGlyph(const TPicture& glyph) {
    glyph_ = glyph;
    push_->setIcon(glyph.Empty() ? QIcon() : QIcon(glyph.Pixmap()));
    if (!glyph.Empty())
        push_->setIconSize(glyph.Pixmap().size());
}

} // namespace vcl
