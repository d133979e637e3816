#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "BridgeHost.h"
#include "MbapFraming.h"
#include "ModbusTcpSettings.h"
#include "PortPolicy.h"
#include "RequestProcedure.h"

class TRavo32;

// Why the port policy keeps a Modbus TCP request off its line, and the exception that answers
// it: a port not in [Ports] while only those may be opened (0x0A), a function that writes to a
// read-only port (0x01). None when the request may go.
struct TModbusRefusal {
    std::string Reason;
    uint8_t Exception = 0;
};
std::optional<TModbusRefusal> ModbusPortRefusal(const TMbapRequest& request, uint8_t comPort,
                                                const TPortPolicy& policy);

// The line's slave of a request: the front end's COM port and the unit id as the address.
TSlaveId ModbusSlave(const TMbapRequest& request, const TModbusTcpSettings& line);

// One Modbus TCP request as one RTU exchange on the line: the port opened with the line's
// settings, the PDU sent to the unit id's address, the answer checked. The answer frame: the
// slave's PDU (its exceptions too), or 0x0A when the port cannot be opened, 0x0B when the slave
// does not answer or its answer is broken; none when a stop ended it (or for unit id 0, a
// broadcast, which no slave answers). The log shows the exchange as a page's, with the client.
// The answer does not wait for the pause after the exchange: the line use owes it to the next one.
// The port may be left open.
std::optional<std::string> RunModbusExchange(const TMbapRequest& request,
                                             const TModbusTcpSettings& line,
                                             const std::string& peer, TRavo32& link,
                                             TBridgeHost& host, const TProcedureOptions& options);
