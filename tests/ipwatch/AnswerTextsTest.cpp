#include "ipwatch/CheckPage.h"
#include "ipwatch/UpdateUrls.h"

#include <gtest/gtest.h>

using namespace ipwatch;
using namespace std::string_literals;

namespace {

TEST(CheckPage, CutsFromTwoAfterTheColonToTheBodyTag) {
    struct Case {
        const char* page;
        const char* address;
    } cases[] = {
        {"<html><head><title>Current IP Check</title></head><body>Current IP Address: "
         "192.0.2.7</body></html>",
         "192.0.2.7"},
        {"Address: 192.0.2.7</body>", "192.0.2.7"},
        {"x192.0.2.8</body>", "192.0.2.8"}, // no colon: from the second character
        {"Address: 192.0.2.7", ""},         // no closing tag
        {"</body> late: colon", ""},
        {"", ""},
        {"a:</bo", ""},
        {"a: b</bo", "b"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CutCheckPageAddress(c.page), c.address) << c.page;
}

TEST(UpdateUrls, PutEveryValueInAsTyped) {
    EXPECT_EQ(
        DynDnsUpdateUrl("members.dyndns.org", "me", "p@ss:w/rd", "home.dyndns.org"),
        "http://me:p@ss:w/rd@members.dyndns.org/nic/update?system=dyndns&hostname=home.dyndns.org"
        "&wildcard=NOCHG&mx=NOCHG&backmx=NOCHG");
    EXPECT_EQ(NoIpUpdateUrl("dynupdate.no-ip.com", "a@b.c", "pw", "h.no-ip.org"),
              "http://a@b.c:pw@dynupdate.no-ip.com/nic/update?hostname=h.no-ip.org");
    EXPECT_EQ(OvhUpdateUrl("www.ovh.com", "id", "pw", "h.example", "Pas de réponse !"),
              "http://id:pw@www.ovh.com/nic/update?system=dyndns&hostname=h.example&myip=Pas de "
              "réponse !");
}

} // namespace
