#include "vcl/Spin.h"

#include <QSpinBox>
#include <climits>

namespace vcl {

TSpinEdit::TSpinEdit(TComponent* owner)
    : TControl(owner, new QSpinBox), spin_(static_cast<QSpinBox*>(Widget())) {
    ApplyRange();
    spin_->setValue(0);
}

void TSpinEdit::ApplyRange() {
    if (min_ == 0 && max_ == 0)
        spin_->setRange(INT_MIN, INT_MAX);
    else
        spin_->setRange(min_, max_);
}

int TSpinEdit::Value() const {
    return spin_->value();
}
void TSpinEdit::SetValue(int value) {
    spin_->setValue(value);
}
void TSpinEdit::SetMinValue(int value) {
    min_ = value;
    ApplyRange();
}
void TSpinEdit::SetMaxValue(int value) {
    max_ = value;
    ApplyRange();
}

} // namespace vcl
