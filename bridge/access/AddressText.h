#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Whether the text is an address exactly as the C library's inet_ntop writes it, so that no
// other spelling of an address (127.1, 0x7f.1, 017700000001, 127.000.0.1, upper-case or
// uncompressed IPv6) passes for it. Plain code rather than the system's calls, so that both
// platforms give the same verdict.
bool IsCanonicalIpv4(std::string_view text);
bool IsCanonicalIpv6(std::string_view text);

// An address in network byte order spelt as inet_ntop writes it, for the platform that has no
// such call of its own to trust for the same spelling.
std::string Ipv4AddressText(const std::array<uint8_t, 4>& bytes);
std::string Ipv6AddressText(const std::array<uint8_t, 16>& bytes);
