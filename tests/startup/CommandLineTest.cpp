// The command lines of both programs on both systems, read before anything starts: every case
// of both systems runs on each, since the reading is pure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandLine.h"

namespace {

using enum TBridgeProgram;
using enum TProgramPlatform;
using enum TProgramAction;

const std::string kHint = " (--help lists the options)";

std::string Shown(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& argument : arguments) {
        text += " [" + argument + "]";
    }
    return text;
}

// A fault here is a program that starts serving on --help (as modbus-bridged did), takes an
// option of the other program or system, answers a misspelt option by starting anyway, or
// leaves a second action unsaid.
TEST(CommandLineTest, EachProgramTakesItsOwnOptionsInOrderAndRefusesTheRest) {
    const struct {
        TBridgeProgram Program;
        TProgramPlatform Platform;
        std::vector<std::string> Arguments;
        TProgramAction Action;
        bool Minimized;
        std::string Refusal;
    } cases[] = {
        {Window, Linux, {}, TProgramAction::Run, false, ""},
        {Window, Windows, {}, TProgramAction::Run, false, ""},
        {Headless, Linux, {}, TProgramAction::Run, false, ""},
        {Headless, Windows, {}, TProgramAction::Run, false, ""},
        {Window, Linux, {"--minimized"}, TProgramAction::Run, true, ""},
        {Window, Windows, {"--minimized", "--minimized"}, TProgramAction::Run, true, ""},
        {Headless, Linux, {"--minimized"}, Refuse, false, "unknown option '--minimized'" + kHint},
        {Window, Linux, {"--help"}, Help, false, ""},
        {Headless, Windows, {"-h"}, Help, false, ""},
        {Window, Windows, {"/?"}, Help, false, ""},
        {Headless, Linux, {"/?"}, Refuse, false, "unexpected argument '/?'" + kHint},
        {Headless, Linux, {"--version"}, Version, false, ""},
        {Window, Linux, {"--minimized", "--version"}, Version, false, ""},
        // In order, as getopt: what comes first decides.
        {Window, Linux, {"--help", "--bogus"}, Help, false, ""},
        {Window, Linux, {"--bogus", "--help"}, Refuse, false, "unknown option '--bogus'" + kHint},
        {Headless, Windows, {"--version", "--help"}, Version, false, ""},
        {Headless, Linux, {"--HELP"}, Refuse, false, "unknown option '--HELP'" + kHint},
        {Window,
         Linux,
         {"-platform", "offscreen"},
         Refuse,
         false,
         "unknown option '-platform'" + kHint},
        {Window, Windows, {"/bogus"}, Refuse, false, "unknown option '/bogus'" + kHint},
        {Headless,
         Linux,
         {"bridge.ini"},
         Refuse,
         false,
         "unexpected argument 'bridge.ini'" + kHint},
        {Headless, Linux, {""}, Refuse, false, "unexpected argument ''" + kHint},
        {Headless, Linux, {"--мост"}, Refuse, false, "unknown option '--мост'" + kHint},
        {Window, Linux, {"--help=1"}, Refuse, false, "--help takes no value"},
        {Window, Windows, {"--minimized="}, Refuse, false, "--minimized takes no value"},
        {Headless, Linux, {"--list-ports"}, ListPorts, false, ""},
        {Headless, Windows, {"--list-ports"}, ListPorts, false, ""},
        {Window, Linux, {"--list-ports"}, Refuse, false, "unknown option '--list-ports'" + kHint},
        {Headless, Windows, {"--install-service"}, InstallService, false, ""},
        {Headless,
         Windows,
         {"--uninstall-service", "--uninstall-service"},
         UninstallService,
         false,
         ""},
        {Headless,
         Linux,
         {"--install-service"},
         Refuse,
         false,
         "unknown option '--install-service'" + kHint},
        {Window,
         Windows,
         {"--install-service"},
         Refuse,
         false,
         "unknown option '--install-service'" + kHint},
        {Headless,
         Windows,
         {"--install-service", "--uninstall-service"},
         Refuse,
         false,
         "--install-service and --uninstall-service do not go together"},
        {Headless,
         Windows,
         {"--list-ports", "--install-service"},
         Refuse,
         false,
         "--list-ports and --install-service do not go together"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(ProgramName(row.Program)) +
                     (row.Platform == Linux ? " on Linux:" : " on Windows:") +
                     Shown(row.Arguments));
        const TCommandLine parsed = ParseCommandLine(row.Program, row.Platform, row.Arguments);
        EXPECT_EQ(parsed.Action, row.Action);
        EXPECT_EQ(parsed.Minimized, row.Minimized);
        EXPECT_EQ(parsed.Refusal, row.Refusal);
    }
}

// What a command line that starts nothing answers, where, and with which status. A fault here is
// help that hides the settings file or lists options the program refuses, a refusal on standard
// output or with status 0, or an action of a later version that reports success.
TEST(CommandLineTest, TheAnswersSayWhatTheProgramTakesAndEndWithTheirStatus) {
    const std::string settings = "/home/оператор/.config/modbus-bridged/modbus-bridged.ini";
    const struct {
        TBridgeProgram Program;
        TProgramPlatform Platform;
        TProgramAction Action;
        bool ToStandardError;
        int Status;
        std::vector<std::string> Has;
        std::vector<std::string> HasNot;
    } cases[] = {
        {Window,
         Linux,
         Help,
         false,
         0,
         {"Usage: modbus-bridge [options]\n", "  --help, -h        print this text and end\n",
          "  --version         print the version and end\n",
          "  --minimized       start with the window minimized", "\nSettings file: " + settings,
          "\nPort: 12345 ", "http://localhost:12345/demo/"},
         {"/?", "--list-ports", "--install-service", "Ctrl+C"}},
        {Window,
         Windows,
         Help,
         false,
         0,
         {"Usage: modbus-bridge [options]\n", "  --help, -h, /?    print this text and end\n",
          "  --minimized ", settings},
         {"--install-service"}},
        {Headless,
         Linux,
         Help,
         false,
         0,
         {"Usage: modbus-bridged [options]\n", "Ctrl+C or\nSIGTERM", "  --version ", settings,
          "Port: 12345 "},
         {"--minimized", "--list-ports", "/?", "--install-service"}},
        {Headless,
         Windows,
         Help,
         false,
         0,
         {"Usage: modbus-bridged [options]\n", "Ctrl+C or\nthe session's end", "/?", settings},
         {"--minimized", "SIGTERM", "--install-service", "--uninstall-service", "--list-ports"}},
        {Window, Windows, Version, false, 0, {"modbus-bridge " MODBUS_BRIDGE_VERSION "\n"}, {}},
        {Headless, Linux, Version, false, 0, {"modbus-bridged " MODBUS_BRIDGE_VERSION "\n"}, {}},
        {Headless, Linux, Refuse, true, 2, {"modbus-bridged: the reason\n"}, {}},
        {Window, Windows, Refuse, true, 2, {"modbus-bridge: the reason\n"}, {}},
        {Headless,
         Linux,
         ListPorts,
         true,
         1,
         {"modbus-bridged: --list-ports is not in this version yet; nothing was done\n"},
         {}},
        {Headless,
         Windows,
         InstallService,
         true,
         1,
         {"modbus-bridged: --install-service is not in this version yet; nothing was done\n"},
         {}},
        {Headless,
         Windows,
         UninstallService,
         true,
         1,
         {"modbus-bridged: --uninstall-service is not in this version yet; nothing was done\n"},
         {}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(ProgramName(row.Program)) +
                     (row.Platform == Linux ? " on Linux, action " : " on Windows, action ") +
                     std::to_string(static_cast<int>(row.Action)));
        const TCommandLine commandLine{row.Action, false, "the reason"};
        const std::optional<TProgramAnswer> answer =
            AnswerWithoutStart(commandLine, row.Program, row.Platform, settings, 12345);
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->ToStandardError, row.ToStandardError);
        EXPECT_EQ(answer->Status, row.Status);
        EXPECT_TRUE(answer->Text.ends_with('\n'));
        for (const std::string& part : row.Has) {
            EXPECT_NE(answer->Text.find(part), std::string::npos) << part << "\n" << answer->Text;
        }
        for (const std::string& part : row.HasNot) {
            EXPECT_EQ(answer->Text.find(part), std::string::npos) << part << "\n" << answer->Text;
        }
        if (row.Action != Help) {
            EXPECT_EQ(answer->Text, row.Has.front());
        }
    }
    for (const TBridgeProgram program : {Window, Headless}) {
        EXPECT_FALSE(
            AnswerWithoutStart({TProgramAction::Run, true, {}}, program, Linux, settings, 12345));
    }
}

}  // namespace
