// Common controls: the date-time picker, the rich-text memo, and the page control with its
// tab sheets.
#pragma once

#include "vcl/DateUtils.h"
#include "vcl/StdCtrls.h"

class QDateTimeEdit;
class QTabWidget;
class QTextEdit;

namespace vcl {

class TDateTimePicker : public TControl {
public:
    explicit TDateTimePicker(TComponent* owner);
    TDateTime DateTime() const;
    void SetDateTime(TDateTime value);

private:
    QDateTimeEdit* edit_;
};

class TRichEdit : public TControl {
public:
    explicit TRichEdit(TComponent* owner);
    TStrings& Lines() { return *lines_; }

private:
    QTextEdit* edit_;
    std::unique_ptr<TTextLines> lines_;
};

class TPageControl;

// One page of a page control; the controls of the page take it as their parent.
class TTabSheet : public TControl {
public:
    explicit TTabSheet(TComponent* owner);
    std::string Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    TPageControl* PageControl() const { return page_control_; }
    // Appends the sheet as the control's last page.
    void SetPageControl(TPageControl* pageControl);
    int PageIndex() const;

private:
    TPageControl* page_control_ = nullptr;
    std::string caption_;
};

class TPageControl : public TControl {
public:
    explicit TPageControl(TComponent* owner);
    int PageCount() const { return static_cast<int>(pages_.size()); }
    TTabSheet* Pages(int index) const { return pages_.at(static_cast<std::size_t>(index)); }
    TTabSheet* ActivePage() const;
    void SetActivePage(TTabSheet* page);
    int ActivePageIndex() const;

private:
    friend class TTabSheet;
    void Insert(TTabSheet* page);
    int IndexOf(const TTabSheet* page) const;
    void Retitle(TTabSheet* page);
    QTabWidget* tabs_;
    std::vector<TTabSheet*> pages_;
};

} // namespace vcl
