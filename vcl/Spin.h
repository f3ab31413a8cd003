// The spin edit: an integer field with up and down arrows.
#pragma once

#include "vcl/Controls.h"

class QSpinBox;

namespace vcl {

class TSpinEdit : public TControl {
public:
    explicit TSpinEdit(TComponent* owner);
    int Value() const;
    // A value outside MinValue..MaxValue is brought into it; with both 0 there is no limit.
    void SetValue(int value);
    int MinValue() const { return min_; }
    int MaxValue() const { return max_; }
    void SetMinValue(int value);
    void SetMaxValue(int value);

private:
    void ApplyRange();
    QSpinBox* spin_;
    int min_ = 0;
    int max_ = 0;
};

} // namespace vcl
