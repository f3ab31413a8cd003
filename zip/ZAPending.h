// Raised by the entry points whose work is not built yet, so a caller learns it at once
// rather than getting a half-done result.
#pragma once

#include "vcl/SysUtils.h"

#include <string>

namespace zip {

class EZANotAvailable : public vcl::Exception {
public:
    explicit EZANotAvailable(const std::string& operation)
        : vcl::Exception(operation + " is not available yet") {}
};

} // namespace zip
