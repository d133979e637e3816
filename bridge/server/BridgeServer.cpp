#include "BridgeServer.h"

#include "ListenPlan.h"
#include "ListenSocket.h"
#include "Ravo32.h"
#include "ServerSockets.h"

TBridgeServer::TBridgeServer(TRavo32& link, TBridgeHost& host, TTaskRunner runOnWorker)
    : Link(link),
      Sockets(MakeServerSockets()),
      Core(link, host, *Sockets, *this, std::move(runOnWorker)) {
    Sockets->Attach(Core);
}

TBridgeServer::~TBridgeServer() {
    // The core goes first: nothing of the sockets may reach it any more.
    Sockets->Detach();
}

int TBridgeServer::SetupError() const {
    return Link.StopSetupError() != 0 ? Link.StopSetupError() : Sockets->SetupFailure().Error;
}

bool TBridgeServer::Open(uint16_t port, std::string& errorText) {
    OpenFailure_ = TListenFailure::Other;
    if (Link.StopSetupError() != 0) {
        errorText = ListenErrorText(TListenSocket{{}, Link.StopSetupError(), kWakeUpCall, {}});
        return false;
    }
    if (const TListenSocket failure = Sockets->SetupFailure(); failure.Error != 0) {
        errorText = ListenErrorText(failure);
        return false;
    }
    const TListenSocket listening =
        OpenListenSockets(*SystemListenCalls(), port, Core.Access().Listen);
    if (listening.Sockets.empty()) {
        OpenFailure_ = listening.Failure;
        errorText = ListenErrorText(listening);
        return false;
    }
    if (!Sockets->Listen(listening, TListenerKind::Http, errorText)) {
        return false;
    }
    OpenFailure_ = TListenFailure::None;
    ListeningAddresses = listening.Addresses;
    Core.SetLocalNames(ListeningPort(), LocalHostName(), InterfaceAddresses);
    return true;
}

uint16_t TBridgeServer::ListeningPort() const {
    return Sockets->Port(TListenerKind::Http);
}

bool TBridgeServer::OpenModbusTcp(const TModbusTcpSettings& settings, std::string& errorText) {
    if (!settings.Port) {
        return false;
    }
    const TListenSocket listening =
        OpenListenSockets(*SystemListenCalls(), *settings.Port, Core.Access().Listen);
    if (listening.Sockets.empty()) {
        errorText = ListenErrorText(listening);
        return false;
    }
    if (!Sockets->Listen(listening, TListenerKind::ModbusTcp, errorText)) {
        return false;
    }
    ModbusTcp = settings;
    ModbusAddresses = listening.Addresses;
    Core.SetModbusTcp(settings);
    return true;
}

std::string TBridgeServer::ModbusTcpListeningLine() const {
    const std::string port = std::to_string(Sockets->Port(TListenerKind::ModbusTcp));
    const std::string line = ": запросы на COM" + std::to_string(ModbusTcp.Com) + ", " +
                             std::to_string(ModbusTcp.Baud) + " бод, таймаут " +
                             std::to_string(ModbusTcp.TimeoutMs) + " мс";
    if (Core.Access().Listen == TListenScope::Any) {
        return "Modbus TCP слушает порт " + port + " на всех интерфейсах (Listen=any)" + line;
    }
    std::string addresses;
    for (const std::string& address : ModbusAddresses) {
        addresses += (addresses.empty() ? "" : " и ") + address;
    }
    return "Modbus TCP слушает порт " + port + " только на " + addresses + line;
}

std::string TBridgeServer::ListeningLine() const {
    const std::string port = std::to_string(ListeningPort());
    if (Core.Access().Listen == TListenScope::Any) {
        return "Сервер слушает порт " + port + " на всех интерфейсах (Listen=any)";
    }
    std::string addresses;
    for (const std::string& address : ListeningAddresses) {
        addresses += (addresses.empty() ? "" : " и ") + address;
    }
    return "Сервер слушает порт " + port + " только на " + addresses +
           ": запросы лишь с этого компьютера";
}

void TBridgeServer::Shutdown() {
    Core.Shutdown();
    Sockets->CloseListeners();
    Sockets->CloseConnections();
}
