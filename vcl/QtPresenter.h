// The presenter of real dialogs: a Qt message box or input box for each request.
#pragma once

#include "vcl/Dialogs.h"

namespace vcl {

class TQtPresenter : public TDialogPresenter {
public:
    TDialogAnswer Present(const TDialogRequest& request) override;
};

} // namespace vcl
