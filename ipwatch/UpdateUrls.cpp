#include "ipwatch/UpdateUrls.h"

namespace ipwatch {

namespace {
std::string Base(const std::string& host, const std::string& login, const std::string& password) {
    return "http://" + login + ":" + password + "@" + host;
}
} // namespace

std::string DynDnsUpdateUrl(const std::string& host, const std::string& login,
                            const std::string& password, const std::string& hostname) {
    return Base(host, login, password) + "/nic/update?system=dyndns&hostname=" + hostname +
           "&wildcard=NOCHG&mx=NOCHG&backmx=NOCHG";
}

std::string NoIpUpdateUrl(const std::string& host, const std::string& login,
                          const std::string& password, const std::string& hostname) {
    return Base(host, login, password) + "/nic/update?hostname=" + hostname;
}

std::string OvhUpdateUrl(const std::string& host, const std::string& login,
                         const std::string& password, const std::string& hostname,
                         const std::string& address) {
    return Base(host, login, password) + "/nic/update?system=dyndns&hostname=" + hostname +
           "&myip=" + address;
}

} // namespace ipwatch
