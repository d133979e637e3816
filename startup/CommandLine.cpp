#include "CommandLine.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

constexpr int kStatusUsage = 2;

// One option: which programs on which systems take it, what it asks for, and its line in the
// help. An option whose action this version does not have yet has no help line.
struct TOption {
    std::string_view Name;
    TProgramAction Action;
    bool Minimized;
    bool Window;
    bool Headless;
    bool Linux;
    bool Windows;
    std::string_view Help;
};

constexpr std::array<TOption, 10> kOptions = {{
    {"--help", TProgramAction::Help, false, true, true, true, true, "print this text and end"},
    {"-h", TProgramAction::Help, false, true, true, true, true, ""},
    {"/?", TProgramAction::Help, false, true, true, false, true, ""},
    {"--version", TProgramAction::Version, false, true, true, true, true,
     "print the version and end"},
    {"--minimized", TProgramAction::Run, true, true, false, true, true,
     "start with the window minimized (as at login)"},
    {"--list-ports", TProgramAction::ListPorts, false, false, true, true, true,
     "print the serial ports and their COM numbers, and end"},
    {"--install-service", TProgramAction::InstallService, false, false, true, false, true,
     "register the Windows service modbus-bridged (as an administrator);\n"
     "its settings and logs are in %ProgramData%\\modbus-bridge"},
    {"--uninstall-service", TProgramAction::UninstallService, false, false, true, false, true,
     "stop and remove that service; its settings and logs stay"},
    {"--service", TProgramAction::RunService, false, false, true, false, true,
     "run as that service (the service control manager starts it so)"},
    {"--reload", TProgramAction::Reload, false, false, true, false, true,
     "make the modbus-bridged of this session, else the service,\nread [Origins] again"},
}};

bool Takes(const TOption& option, TBridgeProgram program, TProgramPlatform platform) {
    const bool byProgram = program == TBridgeProgram::Window ? option.Window : option.Headless;
    const bool bySystem = platform == TProgramPlatform::Linux ? option.Linux : option.Windows;
    return byProgram && bySystem;
}

const TOption* Find(std::string_view name, TBridgeProgram program, TProgramPlatform platform) {
    for (const TOption& option : kOptions) {
        if (option.Name == name && Takes(option, program, platform)) {
            return &option;
        }
    }
    return nullptr;
}

TCommandLine Refused(std::string reason) {
    return {TProgramAction::Refuse, false, std::move(reason)};
}

constexpr std::string_view kListHint = " (--help lists the options)";

std::string HelpText(TBridgeProgram program, TProgramPlatform platform,
                     const std::string& settingsPath, uint16_t port) {
    const std::string name = ProgramName(program);
    const std::string portText = std::to_string(port);
    std::string text = "Usage: " + name + " [options]\n\n";
    if (program == TBridgeProgram::Window) {
        text +=
            "The Modbus RTU bridge for web pages, in a window that shows its log: it serves the\n"
            "requests that pages post to port " +
            portText + " until the window is closed.\n";
    } else {
        text +=
            "The Modbus RTU bridge for web pages, without a window: it serves the requests that\n"
            "pages post to port " +
            portText + " and prints its log on standard output until " +
            (platform == TProgramPlatform::Linux
                 ? "Ctrl+C or\nSIGTERM; SIGHUP makes it read [Origins] again"
                 : "Ctrl+C or\nthe session's end") +
            ".\n";
    }
    text += "\nOptions:\n";
    // One column for the texts, after the longest option shown.
    size_t column = 18;
    for (const TOption& option : kOptions) {
        if (!option.Help.empty() && Takes(option, program, platform)) {
            column = std::max(column, option.Name.size() + 2);
        }
    }
    for (const TOption& option : kOptions) {
        if (option.Help.empty() || !Takes(option, program, platform)) {
            continue;
        }
        std::string names(option.Name);
        if (option.Action == TProgramAction::Help) {
            names += platform == TProgramPlatform::Windows ? ", -h, /?" : ", -h";
        }
        names.resize(std::max(names.size() + 2, column), ' ');
        std::string help(option.Help);
        for (size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1)) {
            help.insert(at + 1, std::string(column + 2, ' '));
        }
        text += "  " + names + help + "\n";
    }
    text += "\nSettings file: " + settingsPath +
            "\n  ([Options], the [Ports] map of COM numbers, the access settings of [Server] and\n"
            "  [Origins]; without it the defaults apply)\n";
    text += "Port: " + portText +
            " on 127.0.0.1 and ::1 unless [Server] Listen=any; the bridge's\n"
            "  own page is http://localhost:" +
            portText + "/demo/\n";
    return text;
}

}  // namespace

const char* ProgramName(TBridgeProgram program) {
    return program == TBridgeProgram::Window ? "modbus-bridge" : "modbus-bridged";
}

TCommandLine ParseCommandLine(TBridgeProgram program, TProgramPlatform platform,
                              const std::vector<std::string>& arguments) {
    TCommandLine commandLine;
    std::string_view actionGiven;
    for (const std::string& argument : arguments) {
        std::string_view name = argument;
        const size_t equals = name.find('=');
        if (name.starts_with("--") && equals != std::string_view::npos) {
            name = name.substr(0, equals);
        }
        const TOption* option = Find(name, program, platform);
        if (option == nullptr) {
            const bool optionLike =
                argument.starts_with('-') ||
                (platform == TProgramPlatform::Windows && argument.starts_with('/'));
            if (!optionLike) {
                return Refused("unexpected argument '" + argument + "'" + std::string(kListHint));
            }
            return Refused("unknown option '" + argument + "'" + std::string(kListHint));
        }
        if (name.size() != argument.size()) {
            return Refused(std::string(name) + " takes no value");
        }
        if (option->Action == TProgramAction::Help || option->Action == TProgramAction::Version) {
            return {option->Action, false, {}};
        }
        commandLine.Minimized = commandLine.Minimized || option->Minimized;
        if (option->Action == TProgramAction::Run) {
            continue;
        }
        if (!actionGiven.empty() && actionGiven != option->Name) {
            return Refused(std::string(actionGiven) + " and " + std::string(option->Name) +
                           " do not go together");
        }
        actionGiven = option->Name;
        commandLine.Action = option->Action;
    }
    return commandLine;
}

std::optional<TProgramAnswer> AnswerWithoutStart(const TCommandLine& commandLine,
                                                 TBridgeProgram program, TProgramPlatform platform,
                                                 const std::string& settingsPath, uint16_t port) {
    const std::string name = ProgramName(program);
    switch (commandLine.Action) {
        case TProgramAction::Help:
            return TProgramAnswer{HelpText(program, platform, settingsPath, port), false, 0};
        case TProgramAction::Version:
            return TProgramAnswer{name + " " + MODBUS_BRIDGE_VERSION + "\n", false, 0};
        case TProgramAction::Refuse:
            return TProgramAnswer{name + ": " + commandLine.Refusal + "\n", true, kStatusUsage};
        case TProgramAction::Run:
        case TProgramAction::ListPorts:
        case TProgramAction::InstallService:
        case TProgramAction::UninstallService:
        case TProgramAction::RunService:
        case TProgramAction::Reload:
            break;
    }
    // The program runs, or carries out the action asked for.
    return std::nullopt;
}
