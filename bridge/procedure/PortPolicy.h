#pragma once

#include <json/value.h>

#include <bitset>
#include <cstdint>
#include <string>

// Which COM numbers a request may open and which of them only read.
struct TPortPolicy {
    bool DenyUnmapped = false;
    std::bitset<256> Mapped;
    std::bitset<256> ReadOnly;
};

// Function codes that only read: coils, inputs, registers, file records, and the device's
// sections.
bool ReadingFunction(uint8_t functionCode);

// Why the request may not go to this port, or empty when it may. The port is the request's
// com_port reduced to its low byte; every PDU is looked at before anything is opened or sent.
std::string PortPolicyRefusal(uint8_t comPort, const Json::Value& pdu, const TPortPolicy& policy);
