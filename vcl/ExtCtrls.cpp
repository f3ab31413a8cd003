#include "vcl/ExtCtrls.h"

#include "vcl/Forms.h"

#include <QLabel>
#include <QTimer>

namespace vcl {

TTimer::TTimer(TComponent* owner) : TComponent(owner), timer_(std::make_unique<QTimer>()) {
    // The handler runs from a posted call, after the timer's own event has ended: Qt does
    // not fire a timer again while its event is still being handled, and a handler that
    // waits in a message box or a request that pumps messages must not keep the next
    // ticks away, as the framework's timers do not.
    QObject::connect(
        timer_.get(), &QTimer::timeout, timer_.get(),
        [this] {
            if (enabled_)
                SafeCall(OnTimer, this);
        },
        Qt::QueuedConnection);
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
