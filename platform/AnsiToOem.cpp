#include "platform/AnsiToOem.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace platform {

namespace {

// Length of the UTF-8 sequence that starts with lead, 1 for a byte that starts none.
std::size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8)
        return 4;
    if (lead >= 0xE0)
        return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

class Converter {
public:
    Converter() : cd_(::iconv_open("CP850", "UTF-8")) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1))
            ::iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // One character (or one stray byte); false when it has no CP850 form.
    bool Convert(std::string_view in, std::string& out) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            return false;
        char buffer[8];
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (::iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1))
            return false;
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        return true;
    }

private:
    iconv_t cd_;
};

} // namespace

bool AnsiToOem(std::string_view ansi, std::string& oem) {
    oem.clear();
    // Plain ASCII is the same in both, and is what nearly every name is.
    if (std::all_of(ansi.begin(), ansi.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        oem.assign(ansi);
        return true;
    }
    oem.reserve(ansi.size());
    Converter converter;
    bool exact = true;
    std::size_t i = 0;
    while (i < ansi.size()) {
        const auto lead = static_cast<unsigned char>(ansi[i]);
        if (lead < 0x80) {
            oem += ansi[i++];
            continue;
        }
        std::size_t n = SequenceLength(lead);
        bool wellFormed = n > 1 && i + n <= ansi.size();
        for (std::size_t k = 1; wellFormed && k < n; ++k)
            wellFormed = (static_cast<unsigned char>(ansi[i + k]) & 0xC0) == 0x80;
        if (!wellFormed) {
            oem += ansi[i++]; // not UTF-8: the byte is all there is to keep
            continue;
        }
        if (!converter.Convert(ansi.substr(i, n), oem)) {
            oem += '?';
            exact = false;
        }
        i += n;
    }
    return exact;
}

} // namespace platform
