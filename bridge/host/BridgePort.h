#pragma once

#include <cstdint>

// The TCP port that pages post their requests to; pages have it written in, so it is fixed.
inline constexpr uint16_t kBridgePort = 19284;
