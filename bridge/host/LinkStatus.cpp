#include "LinkStatus.h"

#include "Lookups.h"

std::array<std::string, 4> LinkStatusTexts(uint8_t comPort, uint8_t slave, uint16_t deviceType,
                                           int32_t baud) {
    if (comPort == 0 || slave == 0 || deviceType == 0 || baud == 0) {
        return {};
    }
    return {"COM" + std::to_string(comPort), "ADDR " + std::to_string(slave),
            std::to_string(baud) + " бод", DeviceName(deviceType)};
}
