#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>

#include "AddressText.h"

namespace {

// The reference the access check once called: the text parses and is written back unchanged.
bool LibcCanonical(const std::string& text, int family) {
    unsigned char binary[sizeof(in6_addr)] = {};
    char written[INET6_ADDRSTRLEN] = {};
    return inet_pton(family, text.c_str(), binary) == 1 &&
           inet_ntop(family, binary, written, sizeof written) != nullptr && text == written;
}

// Random addresses with many zero groups (the compression rules' cases), written by the library
// and then bent: one character changed, dropped or doubled, so that both verdicts are met often.
TEST(AddressTextLibcTest, AgreesWithInetPtonAndInetNtop) {
    std::mt19937 random(20261207);
    const std::string alphabet = "0123456789abcdefABCDEF:.x";
    for (int round = 0; round < 200000; ++round) {
        const bool ipv6 = round % 2 == 0;
        unsigned char binary[16] = {};
        for (int i = 0; i < (ipv6 ? 16 : 4); i += 2) {
            const unsigned kind = random() % 4;
            binary[i] = kind == 0 ? static_cast<unsigned char>(random()) : 0;
            binary[i + 1] = kind <= 1 ? static_cast<unsigned char>(random()) : 0;
        }
        if (ipv6 && random() % 8 == 0) {
            binary[10] = binary[11] = 0xff;
        }
        char written[INET6_ADDRSTRLEN] = {};
        inet_ntop(ipv6 ? AF_INET6 : AF_INET, binary, written, sizeof written);
        std::string text = written;
        // The spelling that Windows' peer addresses get.
        std::array<uint8_t, 16> bytes{};
        std::copy(binary, binary + 16, bytes.begin());
        ASSERT_EQ(ipv6 ? Ipv6AddressText(bytes)
                       : Ipv4AddressText({bytes[0], bytes[1], bytes[2], bytes[3]}),
                  text);
        const size_t at = random() % (text.size() + 1);
        switch (random() % 4) {
            case 0:
                break;
            case 1:
                text.insert(at, 1, alphabet[random() % alphabet.size()]);
                break;
            case 2:
                if (at < text.size()) {
                    text.erase(at, 1);
                }
                break;
            default:
                if (at < text.size()) {
                    text[at] = alphabet[random() % alphabet.size()];
                }
                break;
        }
        ASSERT_EQ(IsCanonicalIpv4(text), LibcCanonical(text, AF_INET)) << text;
        ASSERT_EQ(IsCanonicalIpv6(text), LibcCanonical(text, AF_INET6)) << text;
    }
}

}  // namespace
