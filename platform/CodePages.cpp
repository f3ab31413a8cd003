#include "platform/CodePages.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace platform {

namespace {

// One conversion descriptor per direction and thread: iconv keeps shift state in it.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
    ~Converter() {
        if (Valid())
            ::iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t Handle() const { return cd_; }

private:
    iconv_t cd_;
};

Converter& ToUtf8() {
    thread_local Converter converter("UTF-8", "CP850");
    return converter;
}

Converter& ToCp850() {
    thread_local Converter converter("CP850", "UTF-8");
    return converter;
}

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

// One UTF-8 character as CP850; false when it has no CP850 form.
bool CharToOem(std::string_view in, std::string& out) {
    Converter& converter = ToCp850();
    if (!converter.Valid())
        return false;
    char buffer[8];
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = buffer;
    std::size_t dstLeft = sizeof buffer;
    ::iconv(converter.Handle(), nullptr, nullptr, nullptr, nullptr);
    if (::iconv(converter.Handle(), &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1))
        return false;
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    return true;
}

} // namespace

std::string OemToAnsi(std::string_view oem) {
    Converter& converter = ToUtf8();
    if (!converter.Valid())
        return std::string(oem);
    ::iconv(converter.Handle(), nullptr, nullptr, nullptr, nullptr);
    std::string out;
    // Every CP850 byte takes at most three UTF-8 bytes.
    out.resize(oem.size() * 3);
    std::string in(oem);
    char* src = in.data();
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    while (srcLeft > 0) {
        if (::iconv(converter.Handle(), &src, &srcLeft, &dst, &dstLeft) !=
            static_cast<std::size_t>(-1))
            break;
        if (errno != EILSEQ && errno != EINVAL)
            break;
        // A byte without a mapping goes through unchanged rather than ending the name.
        *dst++ = *src++;
        --srcLeft;
        --dstLeft;
    }
    out.resize(out.size() - dstLeft);
    return out;
}

bool AnsiToOem(std::string_view ansi, std::string& oem) {
    oem.clear();
    // Plain ASCII is the same in both, and is what nearly every name is.
    if (std::all_of(ansi.begin(), ansi.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        oem.assign(ansi);
        return true;
    }
    oem.reserve(ansi.size());
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
        if (!CharToOem(ansi.substr(i, n), oem)) {
            oem += '?';
            exact = false;
        }
        i += n;
    }
    return exact;
}

} // namespace platform
