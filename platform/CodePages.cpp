#include "platform/CodePages.h"

#include <cerrno>
#include <iconv.h>

namespace platform {

namespace {

// One conversion descriptor per thread: iconv keeps shift state in it.
class Converter {
public:
    Converter() : cd_(iconv_open("UTF-8", "CP850")) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t Handle() const { return cd_; }

private:
    iconv_t cd_;
};

} // namespace

std::string OemToAnsi(std::string_view oem) {
    thread_local Converter converter;
    if (!converter.Valid())
        return std::string(oem);
    iconv(converter.Handle(), nullptr, nullptr, nullptr, nullptr);
    std::string out;
    // Every CP850 byte takes at most three UTF-8 bytes.
    out.resize(oem.size() * 3);
    std::string in(oem);
    char* src = in.data();
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    while (srcLeft > 0) {
        if (iconv(converter.Handle(), &src, &srcLeft, &dst, &dstLeft) !=
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

} // namespace platform
