// Buttons with pictures: the speed button (a tool button, often flat) and the bitmap button.
#pragma once

#include "vcl/Graphics.h"
#include "vcl/StdCtrls.h"

class QToolButton;

namespace vcl {

class TSpeedButton : public TControl {
public:
    explicit TSpeedButton(TComponent* owner);
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    const TPicture& Glyph() const { return glyph_; }
    void SetGlyph(const TPicture& glyph);
    // A flat button shows its frame only while the mouse is over it.
    void SetFlat(bool flat);
    // Runs OnClick as a click of the user would.
    void Click();
    TNotifyEvent OnClick;

private:
    QToolButton* button_;
    TPicture glyph_;
};

class TBitBtn : public TButton {
public:
    explicit TBitBtn(TComponent* owner);
    const TPicture& Glyph() const { return glyph_; }
    void SetGlyph(const TPicture& glyph);

private:
    QPushButton* push_;
    TPicture glyph_;
};

} // namespace vcl
