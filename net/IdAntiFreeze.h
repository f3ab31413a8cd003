// The idle message pump of the Indy clients: while an active one exists anywhere in the
// process, a blocking request pumps window messages between short polls, and its connect is
// limited so that a dead server cannot keep a responsive window waiting for ever.
#pragma once

#include "vcl/Classes.h"

namespace net {

class TIdAntiFreeze : public vcl::TComponent {
public:
    explicit TIdAntiFreeze(vcl::TComponent* owner);
    ~TIdAntiFreeze() override;

    bool Active() const { return active_; }
    void SetActive(bool active);

    // True while at least one active pump exists in the process.
    static bool ShouldPump();
    static constexpr int ConnectLimitMs = 120000;

private:
    bool active_ = true;
};

} // namespace net
