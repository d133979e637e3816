#include "PortPolicy.h"

#include "ModbusProtocol.h"
#include "RequestProcedure.h"

namespace {

constexpr uint8_t kReadingFunctions[] = {FunctionCode::ReadCoils,
                                         FunctionCode::ReadDiscreteInputs,
                                         FunctionCode::ReadHoldingRegisters,
                                         FunctionCode::ReadInputRegisters,
                                         FunctionCode::ReadFileRecord,
                                         FunctionCode::ReadConfiguration,
                                         FunctionCode::ReadSectionDevice};

// The function code a PDU member puts into its frame, the low byte of its first value; none
// for a member that adds no byte.
bool FirstByte(const Json::Value& member, uint8_t& byte) {
    if (!(member.isArray() || member.isObject()) || member.empty()) {
        return false;
    }
    byte = FrameByte(*member.begin());
    return true;
}

}  // namespace

bool ReadingFunction(uint8_t functionCode) {
    for (const uint8_t reading : kReadingFunctions) {
        if (functionCode == reading) {
            return true;
        }
    }
    return false;
}

std::string PortPolicyRefusal(uint8_t comPort, const Json::Value& pdu, const TPortPolicy& policy) {
    const std::string port = "COM" + std::to_string(comPort);
    if (policy.DenyUnmapped && !policy.Mapped.test(comPort)) {
        return port + " нет в разделе Ports";
    }
    if (!policy.ReadOnly.test(comPort)) {
        return {};
    }
    for (const Json::Value& member : pdu) {
        uint8_t function = 0;
        if (!FirstByte(member, function)) {
            return port + " только для чтения, PDU без кода функции";
        }
        if (!ReadingFunction(function)) {
            return port + " только для чтения, функция " + std::to_string(function);
        }
    }
    return {};
}
