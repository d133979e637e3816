// modbus-bridge.exe: the desktop program on Windows. The Win32 window draws the window's
// behaviour, which owns the server and the link; the thread's message loop serves them all.

#include <windows.h>

#include <exception>
#include <string>

#include "Autostart.h"
#include "BridgePort.h"
#include "OneCopy.h"
#include "ProgramCommandLine.h"
#include "ProgramMarker.h"
#include "SettingsPath.h"
#include "TerminationSignals.h"
#include "UriCodec.h"
#include "Win32CopyLink.h"
#include "Win32Dialogs.h"
#include "Win32MainWindow.h"
#include "Win32MessageLoop.h"
#include "Win32SystemLibraries.h"
#include "Win32Tray.h"
#include "WindowBehaviour.h"

namespace {

// The behaviour first: the window and the tray pass the operator's actions to it from their
// first message, and it goes last.
struct TBridgeWindow {
    TBridgeWindow(const std::string& programPath, const std::string& settingsPath)
        : Behaviour(Window, settingsPath, SaveFolderPath(programPath)),
          Window(Behaviour),
          Tray(Behaviour),
          Autostart(programPath) {
        Behaviour.AttachTray(Tray);
        Behaviour.AttachAutostart(Autostart);
    }

    TWindowBehaviour Behaviour;
    TWin32MainWindow Window;
    TWin32Tray Tray;
    TAutostart Autostart;
};

}  // namespace

int main(int argc, char* argv[]) {
    // Before anything can load a DLL: none may come from the program's own folder.
    if (const std::string error = KeepDllLoadsInSystemFolder(); !error.empty()) {
        ShowMessageBoxWaiting(nullptr, "modbus-bridge", error + "; not started", MB_ICONERROR);
        return 1;
    }
    // Before the window: --help and --version start nothing.
    const std::string programPath = ProgramFilePath();
    const std::string settingsPath = SettingsFilePath(programPath);
    const TCommandLine commandLine =
        ParseCommandLine(TBridgeProgram::Window, kThisPlatform, ProgramArguments(argc, argv));
    if (const std::optional<TProgramAnswer> answer = AnswerWithoutStart(
            commandLine, TBridgeProgram::Window, kThisPlatform, settingsPath, kBridgePort)) {
        WriteProgramAnswer(*answer);
        return answer->Status;
    }
    UriCodecSelfTest();
    try {
        // Before a port is opened or the settings read: a later start of the user's window brings
        // the running one into sight and ends. The request comes through the message loop.
        TBridgeWindow* shownOnRequest = nullptr;
        TWin32CopyLink copyLink;
        const TOneCopyStart oneCopy =
            StartAsOneCopy(copyLink, commandLine.Minimized, [&shownOnRequest] {
                return shownOnRequest != nullptr && shownOnRequest->Behaviour.ShowForLaterStart();
            });
        if (!oneCopy.Message.empty()) {
            PrintReport(oneCopy.Message);
        }
        // Started from a shortcut, nothing else would tell why no window comes.
        if (oneCopy.ExitStatus != 0) {
            ShowMessageBoxWaiting(nullptr, "modbus-bridge", oneCopy.Message, MB_ICONERROR);
        }
        if (!oneCopy.Run) {
            return oneCopy.ExitStatus;
        }
        TBridgeWindow bridge(programPath, settingsPath);
        shownOnRequest = &bridge;
        // The start line names modbus-bridged when it holds the port.
        bridge.Behaviour.PortHolder = [](uint16_t) {
            return MarkedPortHolder(TMarkedProgram::Window);
        };
        // Started at login: hidden in the tray.
        bridge.Behaviour.StartMinimized = commandLine.Minimized;
        // A logout or shutdown that reaches the program another way than through its window
        // closes it the same way; nothing waits for the operator.
        const TTerminationSignals terminationSignals(
            [&bridge] { bridge.Behaviour.CloseRequested(TCloseCause::SessionEnd); });
        if (!terminationSignals.Ready()) {
            PrintReport("the requests to end the program cannot be received (" +
                        terminationSignals.SetupError() + "); not started");
            return 1;
        }
        bridge.Window.Show();
        // The server could not be set up; the reason is on standard error.
        if (bridge.Behaviour.StartRefused()) {
            return 1;
        }
        return RunMessageLoop(
            [&bridge](const MSG& message) { return bridge.Window.TakeKey(message); });
    } catch (const std::exception& error) {
        // Only what escapes the message loop comes here: the program ends.
        ShowMessageBoxWaiting(nullptr, "modbus-bridge", error.what(), MB_ICONERROR);
        return 1;
    }
}
