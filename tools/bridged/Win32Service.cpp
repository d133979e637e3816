// The service control manager's calls for modbus-bridged.exe: the service's main function and
// control handler, its status, and its registration. The dispatcher's thread runs the handler,
// which only hands each control to the service's thread through a message; that thread runs the
// bridge (its server, its message loop) and TServiceBehaviour, which decides what is reported.
#include "Win32Service.h"

#include <aclapi.h>
#include <shlobj.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "ConsoleLine.h"
#include "DailyLogFiles.h"
#include "HeadlessBridge.h"
#include "IniFile.h"
#include "ServiceControl.h"
#include "SettingsPath.h"
#include "UriCodec.h"
#include "Utf8Path.h"
#include "Win32MessageLoop.h"
#include "Win32MessageWindow.h"
#include "Win32Text.h"

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kServiceName[] = L"modbus-bridged";
constexpr wchar_t kDisplayName[] = L"Modbus RTU bridge for web pages";
constexpr wchar_t kDescription[] =
    L"Serves the requests that web pages on this computer post to port 19284: Modbus RTU on the "
    L"COM ports. Settings and daily logs in %ProgramData%\\modbus-bridge.";
// The name the service control manager takes for the account whatever the system's language.
constexpr wchar_t kLocalService[] = L"NT AUTHORITY\\LocalService";
constexpr UINT kServiceControl = WM_APP + 3;
constexpr int kDefaultLogDays = 30;
// How long --uninstall-service waits for the running service to stop.
constexpr auto kStopBound = std::chrono::seconds(10);

// %ProgramData%\modbus-bridge: the service's settings and, below it, its daily logs.
fs::path ServiceFolder() {
    PWSTR path = nullptr;
    fs::path folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path))) {
        folder = fs::path(path) / L"modbus-bridge";
    }
    CoTaskMemFree(path);
    return folder;
}

fs::path ServiceSettingsFile() {
    return ServiceFolder() / L"modbus-bridged.ini";
}

// LogFolder of [Options] when set, as for the window; else "logs" beside the settings.
fs::path ServiceLogFolder(const TIniFile& settings) {
    const std::string chosen = settings.ReadString("Options", "LogFolder", "");
    return chosen.empty() ? ServiceFolder() / L"logs" : Utf8Path(chosen);
}

TServiceRequest RequestOf(DWORD control) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
            return TServiceRequest::Stop;
        case SERVICE_CONTROL_SHUTDOWN:
            return TServiceRequest::Shutdown;
        case SERVICE_CONTROL_PARAMCHANGE:
            return TServiceRequest::ParamChange;
        case SERVICE_CONTROL_INTERROGATE:
            return TServiceRequest::Interrogate;
        default:
            return TServiceRequest::Other;
    }
}

DWORD StateOf(TServiceState state) {
    switch (state) {
        case TServiceState::StartPending:
            return SERVICE_START_PENDING;
        case TServiceState::Running:
            return SERVICE_RUNNING;
        case TServiceState::StopPending:
            return SERVICE_STOP_PENDING;
        case TServiceState::Stopped:
            break;
    }
    return SERVICE_STOPPED;
}

// On the dispatcher's thread; the context is the service thread's message window.
DWORD WINAPI ControlHandler(DWORD control, DWORD, void*, void* window) {
    const TServiceRequest request = RequestOf(control);
    if (!ServiceTakes(request)) {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    PostMessageW(static_cast<HWND>(window), kServiceControl, static_cast<WPARAM>(request), 0);
    return NO_ERROR;
}

// One run of the service, on the thread the manager started for it.
class TServiceRun : public TServiceView {
public:
    TServiceRun()
        : Controls([this](UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
              if (message != kServiceControl) {
                  return false;
              }
              Behaviour.Control(static_cast<TServiceRequest>(wParam));
              result = 0;
              return true;
          }) {}

    void Run() {
        Handle = RegisterServiceCtrlHandlerExW(kServiceName, ControlHandler, Controls.Handle());
        if (Handle == nullptr) {
            return;
        }
        Behaviour.Starting();
        if (Controls.Handle() == nullptr) {
            Behaviour.Started(TServiceExit::NotSetUp);
            return;
        }
        UriCodecSelfTest();
        const fs::path settingsFile = ServiceSettingsFile();
        const TIniFile settings(Utf8Text(settingsFile));
        LogFiles = std::make_unique<TDailyLogFiles>(
            Utf8Text(ServiceLogFolder(settings)),
            std::max(1, settings.ReadInteger("Options", "LogDays", kDefaultLogDays)));
        Bridge = std::make_unique<THeadlessBridge>(
            Utf8Text(settingsFile), [this](const TLocalTime& time, std::string_view line) {
                // A failed line is tried again with the next; nobody could be told here.
                LogFiles->Append(time, line);
            });
        const TStartOutcome outcome = Bridge->StartUnattended();
        const TServiceExit exit = ServiceStartExit(outcome, !Bridge->SettingsError().empty());
        if (exit != TServiceExit::None) {
            Bridge->LogError(ServiceExitLine(exit));
        }
        Behaviour.Started(exit);
        if (Behaviour.State() == TServiceState::Running) {
            RunMessageLoop();
        }
    }

    void ReportStatus(const TServiceStatus& status) override {
        SERVICE_STATUS reported{};
        reported.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        reported.dwCurrentState = StateOf(status.State);
        reported.dwControlsAccepted =
            status.AcceptsControls
                ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PARAMCHANGE
                : 0;
        reported.dwWin32ExitCode =
            status.Exit == TServiceExit::None ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
        reported.dwServiceSpecificExitCode = static_cast<DWORD>(status.Exit);
        reported.dwCheckPoint = status.CheckPoint;
        reported.dwWaitHint = status.WaitHintMs;
        SetServiceStatus(Handle, &reported);
    }

    void ReloadSites() override {
        if (Bridge) {
            Bridge->ReloadOrigins();
        }
    }

    void StopBridge() override {
        if (Bridge) {
            Bridge->Shutdown();
        }
    }

    void EndService() override { QuitMessageLoop(0); }

private:
    TServiceBehaviour Behaviour{*this};
    // Made first: the handler's context from registration on.
    TMessageWindow Controls;
    SERVICE_STATUS_HANDLE Handle = nullptr;
    std::unique_ptr<TDailyLogFiles> LogFiles;
    // After the files its lines go to, so that it goes first.
    std::unique_ptr<THeadlessBridge> Bridge;
};

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    TServiceRun run;
    run.Run();
}

// Closes a handle of the manager when it goes.
struct TServiceHandle {
    explicit TServiceHandle(SC_HANDLE handle) : Handle(handle) {}
    ~TServiceHandle() {
        if (Handle != nullptr) {
            CloseServiceHandle(Handle);
        }
    }
    TServiceHandle(const TServiceHandle&) = delete;
    TServiceHandle& operator=(const TServiceHandle&) = delete;
    SC_HANDLE Handle;
};

int Failed(const std::string& step, DWORD code) {
    std::string text = step + ": " + Win32ErrorText(code);
    if (code == ERROR_ACCESS_DENIED) {
        text += "; run it from a command prompt started as an administrator";
    }
    PrintBridgedError(text);
    return 1;
}

// Lets the service's account write its daily logs: an inherited modify right for Local Service
// on the folder, beside what the folder already grants.
DWORD GrantServiceWrite(const fs::path& folder) {
    PACL current = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD result = GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                         nullptr, nullptr, &current, nullptr, &descriptor);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    // By its SID: the account's name is translated on a Russian Windows, and the name lookup
    // would fail there.
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    if (!CreateWellKnownSid(WinLocalServiceSid, nullptr, sid, &sidSize)) {
        LocalFree(descriptor);
        return GetLastError();
    }
    EXPLICIT_ACCESSW access{};
    access.grfAccessPermissions = FILE_GENERIC_READ | FILE_GENERIC_WRITE | DELETE;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = reinterpret_cast<wchar_t*>(sid);
    PACL granted = nullptr;
    result = SetEntriesInAclW(1, &access, current, &granted);
    if (result == ERROR_SUCCESS) {
        result =
            SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION, nullptr, nullptr, granted, nullptr);
        LocalFree(granted);
    }
    LocalFree(descriptor);
    return result;
}

DWORD CurrentState(SC_HANDLE service) {
    SERVICE_STATUS status{};
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : SERVICE_STOPPED;
}

}  // namespace

int RunAsService() {
    // Nothing of the service may wait for a click in a box that nobody sees.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SERVICE_TABLE_ENTRYW services[] = {{const_cast<wchar_t*>(kServiceName), ServiceMain},
                                       {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(services)) {
        const DWORD code = GetLastError();
        if (code == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
            PrintBridgedError(
                "--service is for the service control manager; start the service with "
                "\"net start modbus-bridged\", or run modbus-bridged.exe without options");
            return 1;
        }
        return Failed("StartServiceCtrlDispatcherW", code);
    }
    return 0;
}

int InstallService() {
    const fs::path folder = ServiceFolder();
    if (folder.empty()) {
        PrintBridgedError("the ProgramData folder is not known to this system; nothing was done");
        return 1;
    }
    std::error_code made;
    fs::create_directories(folder / L"logs", made);
    if (made) {
        PrintBridgedError("create folder " + Utf8Text(folder / L"logs") + ": " + made.message());
        return 1;
    }
    const TServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (manager.Handle == nullptr) {
        return Failed("OpenSCManagerW", GetLastError());
    }
    const std::wstring command = L"\"" + WideFromUtf8(ProgramFilePath()) + L"\" --service";
    TServiceHandle service(CreateServiceW(manager.Handle, kServiceName, kDisplayName,
                                          SERVICE_CHANGE_CONFIG, SERVICE_WIN32_OWN_PROCESS,
                                          SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                          nullptr, nullptr, nullptr, kLocalService, nullptr));
    bool updated = false;
    if (service.Handle == nullptr && GetLastError() == ERROR_SERVICE_EXISTS) {
        // Registered before, perhaps for a copy elsewhere: it now runs this one.
        service.Handle = OpenServiceW(manager.Handle, kServiceName, SERVICE_CHANGE_CONFIG);
        if (service.Handle != nullptr &&
            !ChangeServiceConfigW(service.Handle, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                  kLocalService, L"", kDisplayName)) {
            return Failed("ChangeServiceConfigW", GetLastError());
        }
        updated = true;
    }
    if (service.Handle == nullptr) {
        return Failed("CreateServiceW", GetLastError());
    }
    SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(kDescription)};
    ChangeServiceConfig2W(service.Handle, SERVICE_CONFIG_DESCRIPTION, &description);
    if (const DWORD granted = GrantServiceWrite(folder / L"logs"); granted != ERROR_SUCCESS) {
        PrintBridgedError("the service may not write its logs in " + Utf8Text(folder / L"logs") +
                          ": " + Win32ErrorText(granted));
    }
    WriteConsoleLine(stdout, std::string("modbus-bridged: the service modbus-bridged is ") +
                                 (updated ? "registered again" : "registered") +
                                 " (Local Service, started with Windows); settings " +
                                 Utf8Text(ServiceSettingsFile()) + ", logs " +
                                 Utf8Text(folder / L"logs") +
                                 "; start it now with \"net start modbus-bridged\"");
    return 0;
}

int UninstallService() {
    const TServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.Handle == nullptr) {
        return Failed("OpenSCManagerW", GetLastError());
    }
    const TServiceHandle service(
        OpenServiceW(manager.Handle, kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (service.Handle == nullptr) {
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
            WriteConsoleLine(stdout,
                             "modbus-bridged: no service modbus-bridged is registered; "
                             "nothing to remove");
            return 0;
        }
        return Failed("OpenServiceW", GetLastError());
    }
    SERVICE_STATUS status{};
    if (CurrentState(service.Handle) != SERVICE_STOPPED &&
        !ControlService(service.Handle, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        return Failed("ControlService (stop)", GetLastError());
    }
    const auto deadline = std::chrono::steady_clock::now() + kStopBound;
    while (CurrentState(service.Handle) != SERVICE_STOPPED &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!DeleteService(service.Handle)) {
        return Failed("DeleteService", GetLastError());
    }
    WriteConsoleLine(stdout,
                     "modbus-bridged: the service modbus-bridged is removed; its "
                     "settings and logs in " +
                         Utf8Text(ServiceFolder()) + " stay");
    return 0;
}

TReloadSent ReloadService(std::string& error) {
    const TServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.Handle == nullptr) {
        error = "OpenSCManagerW: " + Win32ErrorText(GetLastError());
        return TReloadSent::Failed;
    }
    const TServiceHandle service(
        OpenServiceW(manager.Handle, kServiceName, SERVICE_PAUSE_CONTINUE));
    SERVICE_STATUS status{};
    if (service.Handle != nullptr &&
        ControlService(service.Handle, SERVICE_CONTROL_PARAMCHANGE, &status)) {
        return TReloadSent::Sent;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_SERVICE_DOES_NOT_EXIST || code == ERROR_SERVICE_NOT_ACTIVE) {
        return TReloadSent::NobodyListens;
    }
    error = "the service modbus-bridged: " + Win32ErrorText(code) +
            (code == ERROR_ACCESS_DENIED ? "; ask it from a command prompt started as an "
                                           "administrator"
                                         : "");
    return TReloadSent::Failed;
}
