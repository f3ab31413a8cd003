// Pop-up menus and their items.
#pragma once

#include "vcl/Classes.h"
#include "vcl/Graphics.h"

#include <memory>
#include <vector>

class QAction;
class QMenu;

namespace vcl {

// One entry of a menu; the caption "-" makes it a separator line.
class TMenuItem : public TComponent {
public:
    explicit TMenuItem(TComponent* owner);
    ~TMenuItem() override;

    std::string Caption() const;
    void SetCaption(const std::string& caption);
    bool IsSeparator() const;
    const TPicture& Bitmap() const { return bitmap_; }
    void SetBitmap(const TPicture& bitmap);
    bool Enabled() const;
    void SetEnabled(bool enabled);
    bool Visible() const;
    void SetVisible(bool visible);
    // Runs OnClick as a choice of the user would.
    void Click();
    TNotifyEvent OnClick;

    QAction* Action() const { return action_.get(); }

private:
    std::unique_ptr<QAction> action_;
    TPicture bitmap_;
};

// A menu that opens where it is asked to: on a right click on a control or on the tray icon.
class TPopupMenu : public TComponent {
public:
    explicit TPopupMenu(TComponent* owner);
    ~TPopupMenu() override;

    // Appends an item; the menu shows it but does not own it (its owner does).
    void Add(TMenuItem* item);
    int Count() const { return static_cast<int>(items_.size()); }
    TMenuItem* Items(int index) const { return items_.at(static_cast<std::size_t>(index)); }
    // Opens the menu at a point of the screen.
    void Popup(int x, int y);

    QMenu* Menu() const { return menu_.get(); }

private:
    std::unique_ptr<QMenu> menu_;
    std::vector<TMenuItem*> items_;
};

} // namespace vcl
