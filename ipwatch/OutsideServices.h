// Where the outside services are reached: the host names of the build settings, which the
// tests point at servers on loopback. A host text may carry a port ("127.0.0.1:8080").
#pragma once

#include "ipwatch/Hosts.h"

#include <string>

namespace ipwatch {

struct TOutsideServices {
    std::string CheckPage = kCheckPageHost;
    std::string Fallback = kFallbackHost;
    std::string DynDns = kDynDnsHost;
    std::string NoIp = kNoIpHost;
    std::string Ovh = kOvhHost;
    int SmtpPort = 25; // the user's SMTP server is a setting; only its port is fixed
    // Milliseconds without a reply from the SMTP server before the mail is given up, so that
    // a stalled server cannot freeze the watcher.
    int SmtpReadTimeout = 60000;
};

struct THostPort {
    std::string Host;
    int Port = 80;
};
// "host" or "host:port"; a port that is not a number leaves the whole text as the host.
THostPort SplitHostPort(const std::string& hostText);

} // namespace ipwatch
