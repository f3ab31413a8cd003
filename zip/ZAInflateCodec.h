// The one small interface the engine decodes deflate data through. One implementation is
// built in, chosen when the project is configured: zlib's inflate, or ISA-L's igzip where
// the library was found and asked for. Everything that inflates (entry reading, the block
// format's one-shot inflate) goes through TZInflater over it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace zip {

// Zlib: the wrapped stream with its header and Adler-32 trailer (the block format). Raw:
// bare deflate data, as ZIP entries hold it; their CRC-32 is checked by the reader, so no
// Adler-32 is computed and nothing after the end of the data is looked at.
enum class TZInflateFormat { Zlib, Raw };

enum class TZInflateStep {
    Progress, // input taken or output made
    End,      // the deflate data ended
    Stalled,  // nothing possible: no input left, or no room for output
};

class TZInflateCodec {
public:
    virtual ~TZInflateCodec() = default;
    // Forgets the stream so far and waits for a new one of the same format; the codec's
    // memory is kept.
    virtual void Reset() = 0;
    // Decodes what it can of in into out and moves both past what it used. Bad data raises
    // EDecompressionError.
    virtual TZInflateStep Inflate(std::span<const std::uint8_t>& in,
                                  std::span<std::uint8_t>& out) = 0;
};

// The built-in codec; EDecompressionError when it cannot start.
std::unique_ptr<TZInflateCodec> MakeInflateCodec(TZInflateFormat format);
// "zlib" or "isa-l".
const char* InflateCodecName();

} // namespace zip
