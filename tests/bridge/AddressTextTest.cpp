#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AddressText.h"

namespace {

struct TAddressCase {
    std::string Text;
    bool Ipv4;
    bool Ipv6;
};

// Only the spelling the C library writes names an address; the rows hold what it wrote.
TEST(AddressTextTest, OnlyTheLibrarysOwnSpellingIsCanonical) {
    const std::vector<TAddressCase> rows = {
        {"127.0.0.1", true, false},
        {"0.0.0.0", true, false},
        {"255.255.255.255", true, false},
        {"192.168.1.20", true, false},
        {"127.1", false, false},
        {"0x7f.0.0.1", false, false},
        {"017700000001", false, false},
        {"127.000.0.1", false, false},
        {"127.0.0.01", false, false},
        {"256.0.0.1", false, false},
        {"1.2.3.4.", false, false},
        {"1.2.3.4 ", false, false},
        {"1..3.4", false, false},
        {"", false, false},
        {"::", false, true},
        {"::1", false, true},
        {"fe80::1", false, true},
        {"2001:db8::ff00:42:8329", false, true},
        {"2001:db8:0:0:1:0:0:1", false, false},
        {"2001:db8::1:0:0:1", false, true},
        {"2001:db8:0:1:1:1:1:1", false, true},
        {"2001:db8::1:1:1:1:1", false, false},
        {"1:0:0:2::3", false, true},
        {"1::2:0:0:0:3", false, false},
        {"1::2:0:0:3", false, true},
        {"1:2:3:4:5:6:7::", false, false},
        {"1:2:3:4:5:6:7:0", false, true},
        {"1::", false, true},
        {"::ffff:127.0.0.1", false, true},
        {"::ffff:7f00:1", false, false},
        {"::127.0.0.1", false, true},
        {"::0.0.0.1", false, false},
        {"::1:0:0:0", false, true},
        {"::FFFF:127.0.0.1", false, false},
        {"FE80::1", false, false},
        {"fe80::01", false, false},
        {"0:0:0:0:0:0:0:1", false, false},
        {"1:2:3:4:5:6:7:8", false, true},
        {"1:2:3:4:5:6:7:8:9", false, false},
        {"1::2::3", false, false},
        {":1::", false, false},
        {"1:", false, false},
        {"12345::", false, false},
        {"[::1]", false, false},
        {"::1%1", false, false},
    };
    for (const TAddressCase& row : rows) {
        EXPECT_EQ(IsCanonicalIpv4(row.Text), row.Ipv4) << row.Text;
        EXPECT_EQ(IsCanonicalIpv6(row.Text), row.Ipv6) << row.Text;
    }
}

}  // namespace
