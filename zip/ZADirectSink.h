// A destination that entry reading decodes into directly, instead of handing it bytes decoded
// elsewhere: on a file of hundreds of megabytes, that copy costs as much as a tenth of the
// decoding itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zip {

class TZADirectSink {
public:
    virtual ~TZADirectSink() = default;

    // Room after what was taken so far, for at most count bytes and at least one.
    virtual std::span<std::uint8_t> Room(std::size_t count) = 0;
    // The first count bytes of the room are taken; false when they cannot be.
    virtual bool Commit(std::size_t count) = 0;
};

} // namespace zip
