#include "zip/ZAExcept.h"

#include "zip/ZAConst.h"

#include <algorithm>

namespace zip {

namespace {

std::string BuildMessage(std::int32_t code, std::int32_t index, const vcl::TComponent* archiver,
                         const std::vector<vcl::FormatArg>* args) {
    std::string text(ZAMessageText(index));
    if (args)
        text = vcl::Format(text, *args);
    if (archiver && !archiver->Name().empty())
        text = vcl::Format("%s: %s", {archiver->Name(), text});
    // Five digits with leading zeros; a longer code is written in full.
    std::string number = vcl::Format("%5d", {std::int64_t{code}});
    std::replace(number.begin(), number.end(), ' ', '0');
    return text + " - Native error: " + number;
}

} // namespace

EZAException::EZAException(TZAError code, const vcl::TComponent* archiver)
    : EZAException(code, archiver, nullptr) {
}

EZAException::EZAException(TZAError code, const vcl::TComponent* archiver,
                           const std::vector<vcl::FormatArg>* args)
    : vcl::Exception(std::string()), errorCode_(ZAMessageIndex(code)), nativeError_(code) {
    SetMessage(BuildMessage(code, errorCode_, archiver, args));
}

EZAException& EZAException::WithCause(const std::string& cause) {
    std::string text = Message();
    const auto at = text.rfind(" - Native error: ");
    SetMessage(at == std::string::npos ? text + ": " + cause
                                       : text.substr(0, at) + ": " + cause + text.substr(at));
    return *this;
}

EZAException EZAException::CreateFmt(TZAError code, const std::vector<vcl::FormatArg>& args,
                                     const vcl::TComponent* archiver) {
    return EZAException(code, archiver, &args);
}

} // namespace zip
