// modbus-bridge.exe: the desktop program on Windows. The Win32 window draws the window's
// behaviour, which owns the server and the link; the thread's message loop serves them all.

#include <windows.h>

#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "OriginBar.h"
#include "SettingsPath.h"
#include "TerminationSignals.h"
#include "UriCodec.h"
#include "Win32Dialogs.h"
#include "Win32MainWindow.h"
#include "Win32MessageLoop.h"
#include "WindowBehaviour.h"

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// The window as the program runs it. Tests that drive the installed program without a person at
// it name, in the environment, the files its saves go to (one name a save, "|" between them, in
// the save folder) and the one page whose question it answers with the bar's own button.
class TProgramWindow : public TWin32MainWindow {
public:
    explicit TProgramWindow(TWindowEvents& events) : TWin32MainWindow(events) {
        const std::string names = Environment("MODBUS_BRIDGE_TEST_SAVE_AS");
        for (size_t start = 0; !names.empty() && start <= names.size();) {
            const size_t end = std::min(names.find('|', start), names.size());
            TestSaveNames.push_back(names.substr(start, end - start));
            start = end + 1;
        }
        TestAllowedOrigin = Environment("MODBUS_BRIDGE_TEST_ALLOW_ORIGIN");
    }

    std::optional<std::string> AskSavePath(const std::string& folder,
                                           const std::string& lastPath) override {
        if (TestSaveNames.empty()) {
            return TWin32MainWindow::AskSavePath(folder, lastPath);
        }
        if (NextTestSave >= TestSaveNames.size()) {
            return std::nullopt;
        }
        return folder + "\\" + TestSaveNames[NextTestSave++];
    }

    void ShowOriginQuestion(const std::string& origin) override {
        TWin32MainWindow::ShowOriginQuestion(origin);
        if (!origin.empty() && origin == TestAllowedOrigin) {
            PostMessageW(OriginBar().AllowButton(), BM_CLICK, 0, 0);
        }
    }

private:
    std::vector<std::string> TestSaveNames;
    size_t NextTestSave = 0;
    std::string TestAllowedOrigin;
};

// The behaviour first: the window passes the operator's actions to it from its first message,
// and it goes last.
struct TBridgeWindow {
    explicit TBridgeWindow(const std::string& programPath)
        : Behaviour(Window, SettingsFilePath(programPath), SaveFolderPath(programPath)),
          Window(Behaviour) {}

    TWindowBehaviour Behaviour;
    TProgramWindow Window;
};

}  // namespace

int main() {
    UriCodecSelfTest();
    try {
        TBridgeWindow bridge(ProgramFilePath());
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
        return RunMessageLoop();
    } catch (const std::exception& error) {
        // Only what escapes the message loop comes here: the program ends.
        ShowMessageBoxWaiting(nullptr, "modbus-bridge", error.what(), MB_ICONERROR);
        return 1;
    }
}
