// EZAException: every failure the archive engine detects itself. It is raised by number; the
// words come from the message table, prefixed with the archiver's Name and followed by the
// number, so a user's report always carries the code.
#pragma once

#include "vcl/Classes.h"
#include "vcl/SysUtils.h"

#include <cstdint>
#include <vector>

namespace zip {

class EZAException : public vcl::Exception {
public:
    // The table text as it stands: placeholders such as "%s" stay in the message.
    explicit EZAException(std::int32_t code, const vcl::TComponent* archiver = nullptr);

    // The table text formatted with args; arguments past the placeholders are ignored.
    static EZAException CreateFmt(std::int32_t code, const std::vector<vcl::FormatArg>& args,
                                  const vcl::TComponent* archiver = nullptr);

    // Adds the system's reason after the table text ("Write to stream error: No space left
    // on device - Native error: 00046").
    EZAException& WithCause(const std::string& cause);

    // Index into the message table: 0 for a code the map does not know, -1 for a code
    // that has no text.
    std::int32_t ErrorCode() const { return errorCode_; }
    // The code the raising operation gave, unchanged.
    std::int32_t NativeError() const { return nativeError_; }

private:
    EZAException(std::int32_t code, const vcl::TComponent* archiver,
                 const std::vector<vcl::FormatArg>* args);

    std::int32_t errorCode_;
    std::int32_t nativeError_;
};

} // namespace zip
