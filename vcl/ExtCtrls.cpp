#include "vcl/ExtCtrls.h"

#include "vcl/Forms.h"

#include <QLabel>
#include <QTimer>

namespace vcl {

TTimer::TTimer(TComponent* owner) : TComponent(owner), timer_(std::make_unique<QTimer>()) {
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { SafeCall(OnTimer, this); });
    Update();
}

TTimer::~TTimer() = default;

void TTimer::SetEnabled(bool enabled) {
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    Update();
}

void TTimer::SetInterval(unsigned interval) {
    if (interval == interval_)
        return;
    interval_ = interval;
    timer_->stop();
    Update();
}

bool TTimer::Active() const {
    return timer_->isActive();
}

int TTimer::RemainingTime() const {
    return timer_->remainingTime();
}

void TTimer::Update() {
    if (enabled_ && interval_ > 0) {
        if (!timer_->isActive())
            timer_->start(static_cast<int>(interval_));
    } else {
        timer_->stop();
    }
}

TImage::TImage(TComponent* owner)
    : TControl(owner, new QLabel), label_(static_cast<QLabel*>(Widget())) {
    label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void TImage::SetPicture(const TPicture& picture) {
    picture_ = picture;
    label_->setPixmap(picture.Pixmap());
}

void TImage::SetStretch(bool stretch) {
    label_->setScaledContents(stretch);
}

} // namespace vcl
