#include "net/IdAntiFreeze.h"

namespace net {

namespace {
int active_pumps = 0; // GUI thread only, like the components themselves
} // namespace

TIdAntiFreeze::TIdAntiFreeze(vcl::TComponent* owner) : vcl::TComponent(owner) {
    ++active_pumps;
}

TIdAntiFreeze::~TIdAntiFreeze() {
    if (active_)
        --active_pumps;
}

void TIdAntiFreeze::SetActive(bool active) {
    if (active == active_)
        return;
    active_ = active;
    active_pumps += active ? 1 : -1;
}

bool TIdAntiFreeze::ShouldPump() {
    return active_pumps > 0;
}

} // namespace net
