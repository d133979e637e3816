#include "TurnaroundEcho.h"

#include <algorithm>
#include <cstring>

int EchoAtHead(const uint8_t* received, int count, const uint8_t* request, int requestLength) {
    if (count <= 0 || requestLength <= 0) {
        return 0;
    }
    const int compared = std::min(count, requestLength);
    if (std::memcmp(received, request, static_cast<size_t>(compared)) != 0) {
        return 0;
    }
    return compared == requestLength ? requestLength : kEchoUndecided;
}
