// Timers and the image control.
#pragma once

#include "vcl/Classes.h"
#include "vcl/Controls.h"
#include "vcl/Graphics.h"

#include <memory>

class QLabel;
class QTimer;

namespace vcl {

// A repeating timer. Enabling an enabled timer leaves its running period alone; changing
// the interval of a running timer starts the period anew.
class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner);
    ~TTimer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned interval);
    bool Active() const; // really counting: enabled, an interval and a handler
    // Milliseconds to the next tick; -1 while not counting.
    int RemainingTime() const;
    TNotifyEvent OnTimer;

private:
    void Update();
    std::unique_ptr<QTimer> timer_;
    bool enabled_ = true;
    unsigned interval_ = 1000;
};

// Shows a picture, at its own size or stretched over the control.
class TImage : public TControl {
public:
    explicit TImage(TComponent* owner);
    const TPicture& Picture() const { return picture_; }
    void SetPicture(const TPicture& picture);
    void SetStretch(bool stretch);

private:
    QLabel* label_;
    TPicture picture_;
};

} // namespace vcl
