// The Indy-style mail message: sender, recipients, subject and body lines, and the text it
// is sent as.
#pragma once

#include "vcl/Classes.h"

#include <chrono>
#include <string>
#include <vector>

namespace net {

struct TIdEmailAddressItem {
    std::string Address;
    std::string Name;
    // "Name <address>", or the address alone when there is no name.
    std::string Text() const;
};

class TIdEmailAddressList {
public:
    TIdEmailAddressItem& Add();
    int Count() const { return static_cast<int>(items_.size()); }
    const TIdEmailAddressItem& operator[](int index) const {
        return items_.at(static_cast<std::size_t>(index));
    }
    void Clear() { items_.clear(); }
    // The addresses joined by ", "; setting splits a list of addresses at "," and ";".
    std::string EMailAddresses() const;
    void SetEMailAddresses(const std::string& addresses);

private:
    std::vector<TIdEmailAddressItem> items_;
};

class TIdMessage : public vcl::TComponent {
public:
    explicit TIdMessage(vcl::TComponent* owner) : vcl::TComponent(owner) {}

    TIdEmailAddressItem From;
    TIdEmailAddressList Recipients;
    std::string Subject;
    vcl::TStringList Body;
    std::string ContentType = "text/plain";
    std::string CharSet = "utf-8";
    // When the message is dated; unset, the moment it is generated.
    std::chrono::system_clock::time_point Date{};

    // The message as it goes over the wire before dot-stuffing: header lines, an empty
    // line, then the body lines in order, each ended by CR LF. Header values are kept on
    // one line each, and those with bytes above 127 are written as encoded words.
    std::string GenerateMessage(const std::string& domain) const;
};

} // namespace net
