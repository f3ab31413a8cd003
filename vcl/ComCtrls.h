// Common controls: the date-time picker, the rich-text memo, the page control with its tab
// sheets, and the progress bar.
#pragma once

#include "vcl/DateUtils.h"
#include "vcl/StdCtrls.h"

class QDateTimeEdit;
class QProgressBar;
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

// A horizontal bar that fills from Min to Max as Position grows. A position outside the range
// is held at its nearer end; a maximum not above the minimum leaves the bar empty.
class TProgressBar : public TControl {
public:
    explicit TProgressBar(TComponent* owner);
    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }
    void SetMin(int value);
    void SetMax(int value);
    void SetPosition(int value);

private:
    void Update();
    QProgressBar* bar_;
    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
};

} // namespace vcl
