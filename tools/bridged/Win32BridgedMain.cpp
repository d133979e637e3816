// modbus-bridged.exe: the bridge without a window (Windows: the thread's message loop, the
// console's control events and the session's end).

#include "HeadlessBridge.h"
#include "TerminationSignals.h"
#include "UriCodec.h"
#include "Win32MessageLoop.h"

int main() {
    UriCodecSelfTest();
    THeadlessBridge bridge(ProgramFilePath());
    if (!bridge.Start()) {
        return 1;
    }
    const TTerminationSignals terminationSignals([&bridge] {
        bridge.Shutdown();
        QuitMessageLoop(0);
    });
    if (!terminationSignals.Ready()) {
        PrintBridgedError(terminationSignals.SetupError());
        return 1;
    }
    return RunMessageLoop();
}
