#pragma once

#include <json/value.h>

#include <cstdint>
#include <span>

// Turns a checked answer into reply members: the registers of function codes 3, 4, 20 and 69
// into "data", the event records of file 6 into "events_log". Other codes decode to nothing.
// Only bytes of the two frames are read, whatever lengths the request announces: registers come
// from the answer's data in front of its CRC, and event bytes past the answer frame read as 0.
void DecodeAnswer(std::span<const uint8_t> request, std::span<const uint8_t> answer,
                  Json::Value& reply);

// The device-type code of a device-section answer (function code 69); 0 when it has none.
uint16_t DeviceTypeCode(std::span<const uint8_t> answer);
