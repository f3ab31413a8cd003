#include "vcl/ComCtrls.h"

#include <QDateTimeEdit>
#include <QProgressBar>
#include <QTabWidget>
#include <QTextEdit>
#include <algorithm>
#include <cmath>

namespace vcl {

TDateTimePicker::TDateTimePicker(TComponent* owner)
    : TControl(owner, new QDateTimeEdit), edit_(static_cast<QDateTimeEdit*>(Widget())) {
    edit_->setDateTime(QDateTime::currentDateTime());
}

TDateTime TDateTimePicker::DateTime() const {
    QDateTime v = edit_->dateTime();
    QDate d = v.date();
    QTime t = v.time();
    return EncodeDate(d.year(), d.month(), d.day()) +
           EncodeTime(t.hour(), t.minute(), t.second(), t.msec());
}

void TDateTimePicker::SetDateTime(TDateTime value) {
    int y, mo, d, h, mi, s, ms;
    DecodeDate(value, y, mo, d);
    DecodeTime(value, h, mi, s, ms);
    edit_->setDateTime(QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms)));
}

TRichEdit::TRichEdit(TComponent* owner)
    : TControl(owner, new QTextEdit), edit_(static_cast<QTextEdit*>(Widget())),
      lines_(std::make_unique<TTextLines>(
          [this] { return FromQString(edit_->toPlainText()); },
          [this](const std::string& text) { edit_->setPlainText(ToQString(text)); })) {
    edit_->setAcceptRichText(true);
}

TTabSheet::TTabSheet(TComponent* owner) : TControl(owner, new QWidget) {
}

void TTabSheet::SetCaption(const std::string& caption) {
    caption_ = caption;
    if (page_control_)
        page_control_->Retitle(this);
}

void TTabSheet::SetPageControl(TPageControl* pageControl) {
    if (page_control_ || !pageControl)
        return; // a sheet stays on the control it was first put on
    page_control_ = pageControl;
    pageControl->Insert(this);
}

int TTabSheet::PageIndex() const {
    return page_control_ ? page_control_->IndexOf(this) : -1;
}

TPageControl::TPageControl(TComponent* owner)
    : TControl(owner, new QTabWidget), tabs_(static_cast<QTabWidget*>(Widget())) {
}

void TPageControl::Insert(TTabSheet* page) {
    pages_.push_back(page);
    tabs_->addTab(page->Widget(), ToQString(page->Caption()));
}

int TPageControl::IndexOf(const TTabSheet* page) const {
    for (std::size_t i = 0; i < pages_.size(); ++i)
        if (pages_[i] == page)
            return static_cast<int>(i);
    return -1;
}

void TPageControl::Retitle(TTabSheet* page) {
    tabs_->setTabText(tabs_->indexOf(page->Widget()), ToQString(page->Caption()));
}

TTabSheet* TPageControl::ActivePage() const {
    QWidget* current = tabs_->currentWidget();
    for (TTabSheet* page : pages_)
        if (page->Widget() == current)
            return page;
    return nullptr;
}

void TPageControl::SetActivePage(TTabSheet* page) {
    if (page && IndexOf(page) >= 0)
        tabs_->setCurrentWidget(page->Widget());
}

int TPageControl::ActivePageIndex() const {
    return IndexOf(ActivePage());
}

TProgressBar::TProgressBar(TComponent* owner)
    : TControl(owner, new QProgressBar), bar_(static_cast<QProgressBar*>(Widget())) {
    bar_->setTextVisible(false);
    Update();
}

void TProgressBar::SetMin(int value) {
    min_ = value;
    Update();
}

void TProgressBar::SetMax(int value) {
    max_ = value;
    Update();
}

void TProgressBar::SetPosition(int value) {
    position_ = value;
    Update();
}

void TProgressBar::Update() {
    // Qt shows a busy indicator for an empty range; the framework's bar stays empty.
    if (max_ <= min_) {
        bar_->setRange(0, 1);
        bar_->setValue(0);
        return;
    }
    bar_->setRange(min_, max_);
    bar_->setValue(std::clamp(position_, min_, max_));
}

} // namespace vcl
