#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Which bridge program reads its command line.
enum class TBridgeProgram { Window, Headless };
// The system a program runs on: some options exist on one of them only.
enum class TProgramPlatform { Linux, Windows };

// What the command line asks the program to do.
enum class TProgramAction {
    // Start the bridge: the window, or the bridge without one.
    Run,
    Help,
    Version,
    // modbus-bridged.exe: register or remove the Windows service; run as that service (its
    // command line in the service control manager).
    InstallService,
    UninstallService,
    RunService,
    // modbus-bridged.exe: the running modbus-bridged (of this session, else the service) reads
    // [Origins] again.
    Reload,
    // modbus-bridged: print the serial ports and end.
    ListPorts,
    // The command line cannot be followed; Refusal says why.
    Refuse,
};

struct TCommandLine {
    TProgramAction Action = TProgramAction::Run;
    // The window starts out of the way (started at login).
    bool Minimized = false;
    // Why the command line was refused, as one line without the program's name.
    std::string Refusal;
};

// The arguments after the program's name, in UTF-8, read in order as getopt does: the first
// --help or --version is answered whatever follows, and the first argument that the program does
// not take is refused. An option takes no value ("--help=1" is refused); two actions at once are
// refused.
TCommandLine ParseCommandLine(TBridgeProgram program, TProgramPlatform platform,
                              const std::vector<std::string>& arguments);

// What a program says instead of starting, and the status it ends with.
struct TProgramAnswer {
    // Whole lines, each ending in '\n'.
    std::string Text;
    bool ToStandardError = false;
    int Status = 0;
};

// The answer to a command line that starts nothing: the help (the options, the settings file's
// place, the port), the version, or a refusal (status 2). None when the program is to run or to
// carry out its action.
std::optional<TProgramAnswer> AnswerWithoutStart(const TCommandLine& commandLine,
                                                 TBridgeProgram program, TProgramPlatform platform,
                                                 const std::string& settingsPath, uint16_t port);

// "modbus-bridge" or "modbus-bridged".
const char* ProgramName(TBridgeProgram program);
