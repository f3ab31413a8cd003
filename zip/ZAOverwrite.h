// The one overwrite rule: whether a source may replace an existing target, by the overwrite
// mode and the two DOS date-times (compared as signed numbers). Extraction asks it with the
// entry as source and the disk file as target, an update the other way round.
#pragma once

#include "zip/ZATypes.h"

#include <cstdint>

namespace zip {

enum class TZAOverwriteAnswer { Replace, Keep, Ask };

constexpr TZAOverwriteAnswer OverwriteRule(TZAOverwriteMode mode, std::int32_t sourceAge,
                                           std::int32_t targetAge) {
    switch (mode) {
    case omPrompt:
        return TZAOverwriteAnswer::Ask;
    case omAlways:
        return TZAOverwriteAnswer::Replace;
    case omNever:
        return TZAOverwriteAnswer::Keep;
    case omIfNewer: // only a strictly newer source
        return sourceAge > targetAge ? TZAOverwriteAnswer::Replace : TZAOverwriteAnswer::Keep;
    case omIfOlder:
        return sourceAge < targetAge ? TZAOverwriteAnswer::Replace : TZAOverwriteAnswer::Keep;
    }
    return TZAOverwriteAnswer::Keep;
}

} // namespace zip
