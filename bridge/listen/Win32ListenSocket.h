#pragma once

#include <cstdint>
#include <string>

// The peer's address of a connected Winsock socket, spelt as the log names addresses on Linux
// (inet_ntop's spelling); empty when it has none. Windows only.
std::string PeerAddressText(intptr_t socket);
