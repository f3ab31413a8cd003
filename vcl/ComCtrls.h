// Common controls: the date-time picker and the rich-text memo.
#pragma once

#include "vcl/DateUtils.h"
#include "vcl/StdCtrls.h"

class QDateTimeEdit;
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

} // namespace vcl
