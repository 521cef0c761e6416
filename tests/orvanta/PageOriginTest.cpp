#include "PageOrigin.h"

#include <gtest/gtest.h>

namespace {

struct OriginCase {
    const char* url;
    const char* origin;
};

const OriginCase kCases[] = {
    {"https://bank.example/pay?x=1#top", "https://bank.example"},
    {"HTTPS://Bank.Example:443/", "https://bank.example"},
    {"https://bank.example:8443/a", "https://bank.example:8443"},
    {"http://127.0.0.1:8080/page.html", "http://127.0.0.1:8080"},
    {"http://localhost:80/", "http://localhost"},
    {"http://[::1]:9000/x", "http://[::1]:9000"},
    {"http://[::1]/x", "http://[::1]"},
    // User information is no part of the origin, and cannot smuggle another host in.
    {"https://bank.example@evil.example/", "https://evil.example"},
    {"https://user:pw@bank.example:8443/", "https://bank.example:8443"},
    {"https://bank.example?q", "https://bank.example"},
    {"https://bank.example#f", "https://bank.example"},
    {"https://bank.example\\path", "https://bank.example"},
    {"http://localhost:0080/", "http://localhost"},
    {"file:///home/me/page.html", "file://"},
    {"FILE://server/share/page.html", "file://"},
    {"about:blank", "null"},
    {"data:text/html,<embed>", "null"},
    {"blob:https://bank.example/0c2f", "null"},
    {"javascript:1", "null"},
    {"https:bank.example", "null"},
    {"https://", "null"},
    {"https://:443/", "null"},
    {"https://bank.example:44x/", "null"},
    {"", "null"},
    {"no address at all", "null"},
};

class PageOriginTest : public ::testing::TestWithParam<OriginCase> {};

TEST_P(PageOriginTest, OriginOfTheDocumentAddress) {
    EXPECT_EQ(FB::Consent::originFromUrl(GetParam().url), GetParam().origin) << GetParam().url;
}

INSTANTIATE_TEST_SUITE_P(Addresses, PageOriginTest, ::testing::ValuesIn(kCases));

} // namespace
