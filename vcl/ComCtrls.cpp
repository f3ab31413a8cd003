#include "vcl/ComCtrls.h"

#include <QDateTimeEdit>
#include <QTextEdit>
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

} // namespace vcl
