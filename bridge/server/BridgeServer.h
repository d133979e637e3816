#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AccessSettings.h"
#include "BridgeHost.h"
#include "BridgePort.h"
#include "ListenSocket.h"
#include "ModbusTcpSettings.h"
#include "ServerCore.h"

class TRavo32;
class TServerSockets;

// The HTTP front end of a program: the server core (what a request goes through is told there)
// on its platform's sockets, Qt's event loop on Linux and Winsock on Windows, with the listening
// sockets that Open makes. Everything but the worker runs on the thread that makes it, whose event
// loop must run. AskAboutOrigin and ReportFault (TServerHooks) are set before Open.
class TBridgeServer : public TServerHooks {
public:
    using TTaskRunner = TServerCore::TTaskRunner;

    TBridgeServer(TRavo32& link, TBridgeHost& host, TTaskRunner runOnWorker = {});
    ~TBridgeServer();
    TBridgeServer(const TBridgeServer&) = delete;
    TBridgeServer& operator=(const TBridgeServer&) = delete;

    // Who may drive the devices; set before Open. The defaults serve this computer only.
    void SetAccess(TAccessSettings access) { Core.SetAccess(std::move(access)); }
    // The [Origins] section read again: its decisions apply from the next request on, while
    // one may be served (the gate lives on this thread; the worker never reads them).
    void SetOriginDecisions(std::map<std::string, bool> decisions) {
        Core.SetOriginDecisions(std::move(decisions));
    }
    size_t AllowedOrigins() const { return AllowedOriginCount(Core.Access().OriginDecisions); }
    // The line's queue; set before Open.
    void SetQueue(TQueueSettings queue) { Core.SetQueue(queue); }
    // The error number with which the link's stop request or the server's inbox could not get
    // its wake-up; 0 when both have one. Without them a request could be neither stopped nor
    // answered, and Open fails.
    int SetupError() const;
    // Listens as the access settings say; on failure, false and the text for the operator.
    bool Open(uint16_t port, std::string& errorText);
    // The Modbus TCP front end on its own port, under the same listening rules (Listen); after
    // Open. False with the text for the operator when it cannot listen.
    bool OpenModbusTcp(const TModbusTcpSettings& settings, std::string& errorText);
    // The information line that says where the Modbus TCP front end listens and on which line.
    std::string ModbusTcpListeningLine() const;
    // What the last Open's failure was: AddressInUse for a port that another program holds,
    // None once listening.
    TListenFailure OpenFailure() const { return OpenFailure_; }
    uint16_t ListeningPort() const;
    // The information line that says where the server listens.
    std::string ListeningLine() const;

    // The operator's answer: the origin's requests are served or refused from now on.
    void DecideOrigin(const std::string& origin, bool allowed) {
        Core.DecideOrigin(origin, allowed);
    }
    void ForgetOrigin(const std::string& origin) { Core.ForgetOrigin(origin); }
    // The origins listed and seen, with their requests since the start (TAccessGate).
    std::vector<TKnownOrigin> KnownOrigins() { return Core.KnownOrigins(); }
    // Who may drive the devices, changed while the server runs: from the next request on.
    void ChangeAccess(TAccessSettings access) { Core.SetAccess(std::move(access)); }
    bool Busy() const { return Core.Busy(); }
    size_t ConnectionCount() const { return Core.ConnectionCount(); }

    // Stops a running request, closes the port, pauses and closes the server: its listening
    // sockets and every connection, none left lingering to keep the next run off the TCP port.
    void Shutdown();

private:
    TRavo32& Link;
    std::unique_ptr<TServerSockets> Sockets;
    TServerCore Core;
    std::vector<std::string> ListeningAddresses;
    std::vector<std::string> ModbusAddresses;
    TModbusTcpSettings ModbusTcp;
    TListenFailure OpenFailure_ = TListenFailure::None;
};
