// Visual controls: a component that carries one Qt widget, placed on a parent control.
#pragma once

#include "vcl/Classes.h"
#include "vcl/Graphics.h"

#include <QPointer>
#include <QWidget>
#include <string>

namespace vcl {

class TPopupMenu;

class TControl : public TComponent {
public:
    // The control takes the widget; it is released with the control.
    TControl(TComponent* owner, QWidget* widget);
    ~TControl() override;

    QWidget* Widget() const { return widget_; }

    TControl* Parent() const { return parent_; }
    void SetParent(TControl* parent);

    // The control's own visibility flag; it shows only while its parents show too.
    virtual bool Visible() const { return visible_; }
    virtual void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Showing() const { return widget_ && widget_->isVisible(); }

    bool Enabled() const { return widget_->isEnabled(); }
    void SetEnabled(bool enabled) { widget_->setEnabled(enabled); }
    std::string Hint() const;
    void SetHint(const std::string& hint);

    int Left() const { return widget_->x(); }
    int Top() const { return widget_->y(); }
    int Width() const { return widget_->width(); }
    int Height() const { return widget_->height(); }
    void SetLeft(int left) { widget_->move(left, Top()); }
    void SetTop(int top) { widget_->move(Left(), top); }
    void SetWidth(int width) { SetSize(width, Height()); }
    void SetHeight(int height) { SetSize(Width(), height); }
    void SetBounds(int left, int top, int width, int height);
    // A window of fixed size (a form whose border style allows no resizing) stays fixed,
    // at the new size.
    void SetSize(int width, int height);
    void Repaint() { widget_->repaint(); }

    void SetFont(const TFont& font);
    // The background colour; the control then paints its background itself.
    void SetColor(TColor color);
    // The menu that a right click on the control opens; none for no menu.
    void SetPopupMenu(TPopupMenu* menu);
    TPopupMenu* PopupMenu() const { return popup_menu_; }

protected:
    QPointer<QWidget> widget_;

private:
    TControl* parent_ = nullptr;
    bool visible_ = true;
    TPopupMenu* popup_menu_ = nullptr;
};

// Text conversions between the framework's UTF-8 strings and Qt's.
QString ToQString(const std::string& text);
std::string FromQString(const QString& text);
// A text to show, with its line breaks as Qt draws them: the framework breaks a line at a
// lone CR as well as at CR LF and LF, Qt only at LF.
std::string ShownLineBreaks(const std::string& text);
// A tooltip that shows its text as it stands: Qt takes a tooltip that looks like markup for
// markup.
QString PlainToolTip(const std::string& text);

} // namespace vcl
