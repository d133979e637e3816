#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

#include "AccessSettings.h"

// Function codes that only read: coils, inputs, registers, file records, and the device's
// sections.
bool ReadingFunction(uint8_t functionCode);

// Why the request may not go to this port, or empty when it may. The port is the request's
// com_port reduced to its low byte; every PDU is looked at before anything is opened or sent.
std::string PortPolicyRefusal(uint8_t comPort, const Json::Value& pdu, const TPortPolicy& policy);
