#include "BridgeStartup.h"

#include "AccessSettings.h"
#include "BridgeServer.h"
#include "DemoPages.h"
#include "ModbusTcpSettings.h"
#include "NoServerLine.h"
#include "PortMap.h"
#include "QueueSettings.h"
#include "Ravo32.h"
#include "StartLines.h"

namespace {

constexpr char kOptions[] = "Options";

}  // namespace

TBridgeStartup::TBridgeStartup(const std::string& settingsPath)
    : Settings_(settingsPath), Link_(std::make_unique<TRavo32>()) {
    ApplyPortMap(Settings_, *Link_);
}

TBridgeStartup::~TBridgeStartup() {
    Shutdown();
}

TViewOptions TBridgeStartup::ViewOptions() const {
    return {Settings_.ReadBool(kOptions, "ViewError", false),
            Settings_.ReadBool(kOptions, "ViewSet", false),
            Settings_.ReadBool(kOptions, "ViewHex", false)};
}

TStartOutcome TBridgeStartup::Start(TBridgeHost& host, TBridgeShell shell) {
    TAccessSettings access = ReadAccessSettings(Settings_);
    std::vector<std::string> problems = access.Problems;
    TQueueSettings queue = ReadQueueSettings(Settings_, problems);
    const TModbusTcpSettings modbusTcp = ReadModbusTcpSettings(Settings_, problems);
    // A SCADA tool beside the pages: one line, so their requests wait their turn.
    if (modbusTcp.Port && queue.Depth < TModbusTcpSettings::kLeastQueue) {
        queue.Depth = TModbusTcpSettings::kLeastQueue;
    }
    const std::vector<std::string> risks = AccessRisks(access);
    Server_ = std::make_unique<TBridgeServer>(*Link_, host);
    if (access.Origins == TOriginMode::Ask) {
        if (shell.AskAboutOrigin) {
            Server_->AskAboutOrigin = std::move(shell.AskAboutOrigin);
        } else {
            // Nobody is there to answer: only listed origins are served, and the log says how
            // to list one.
            access.Origins = TOriginMode::List;
        }
    }
    Server_->SetAccess(std::move(access));
    Server_->SetQueue(queue);
    Server_->ReportFault = std::move(shell.ReportFault);

    std::string error;
    const bool listening = Server_->Open(shell.Port, error);
    if (!listening && Server_->SetupError() != 0) {
        // A request could be neither stopped nor answered. Nothing was written, nothing started.
        Server_.reset();
        return {TStartResult::NotSetUp, error};
    }
    const bool portTaken = Server_->OpenFailure() == TListenFailure::AddressInUse;
    const std::string holder =
        !listening && portTaken && shell.PortHolder ? shell.PortHolder(shell.Port) : std::string();
    if (!listening && !shell.StartLinesWithoutServer) {
        return {TStartResult::NoServer,
                NoServerLine(shell.Port, error, Server_->OpenFailure(), holder), portTaken};
    }
    WriteStartLines(host);
    if (listening) {
        host.LogInfo(Server_->ListeningLine());
        host.LogInfo(DemoPageLine(Server_->ListeningPort()));
        if (modbusTcp.Port) {
            std::string modbusError;
            if (Server_->OpenModbusTcp(modbusTcp, modbusError)) {
                host.LogInfo(Server_->ModbusTcpListeningLine());
            } else {
                host.LogError("Modbus TCP не слушает порт " + std::to_string(*modbusTcp.Port) +
                              ": " + modbusError);
            }
        }
    } else {
        host.LogError(NoServerLine(shell.Port, error, Server_->OpenFailure(), holder));
    }
    for (const std::string& line : shell.ShellLines) {
        host.LogInfo(line);
    }
    if (!SettingsError().empty()) {
        host.LogError("Файл настроек не прочитан, действуют настройки по умолчанию: " +
                      SettingsError());
    }
    for (const std::string& problem : problems) {
        host.LogError(problem);
    }
    for (const std::string& risk : risks) {
        host.LogError(risk);
    }
    if (!listening) {
        return {TStartResult::NoServer, error, portTaken};
    }
    return {};
}

void TBridgeStartup::ReloadOrigins(TBridgeHost& host) {
    if (!Server_) {
        return;
    }
    // Read apart from the settings the shell may write.
    TIniFile fresh(Settings_.Path());
    if (!fresh.LoadError().empty()) {
        host.LogError("Список сайтов не перечитан, действует прежний (разрешено сайтов: " +
                      std::to_string(Server_->AllowedOrigins()) + "): " + fresh.LoadError());
        return;
    }
    std::vector<std::string> problems;
    TAccessSettings origins;
    origins.OriginDecisions = ReadOriginDecisions(fresh, problems);
    const std::vector<std::string> risks = AccessRisks(origins);
    Server_->SetOriginDecisions(std::move(origins.OriginDecisions));
    host.LogInfo("Список сайтов перечитан из " + fresh.Path() +
                 ": разрешено сайтов: " + std::to_string(Server_->AllowedOrigins()));
    for (const std::string& problem : problems) {
        host.LogError(problem);
    }
    for (const std::string& risk : risks) {
        host.LogError(risk);
    }
}

uint16_t TBridgeStartup::ListeningPort() const {
    return Server_ ? Server_->ListeningPort() : 0;
}

void TBridgeStartup::Shutdown() {
    if (Server_) {
        Server_->Shutdown();
        Server_.reset();
    } else if (Link_->IsOpen()) {
        Link_->Disconnect();
    }
}
