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

std::string Unknown(const std::string& option) {
    return "unknown option '" + option + "' (--help lists the options)";
}

// A fault here is a program that starts on --help (as modbus-bridged did), takes an option of the
// other program or system, starts anyway after a misspelt option, or does one of two actions.
TEST(CommandLineTest, EachProgramTakesItsOwnOptionsInOrderAndRefusesTheRest) {
    const struct {
        TBridgeProgram Program;
        TProgramPlatform Platform;
        std::vector<std::string> Arguments;
        TProgramAction Action;
        std::string Refusal;
        bool Minimized = false;
    } cases[] = {
        {Window, Linux, {}, TProgramAction::Run, ""},
        {Window, Windows, {"--minimized", "--minimized"}, TProgramAction::Run, "", true},
        {Headless, Linux, {"--minimized"}, Refuse, Unknown("--minimized")},
        {Window, Windows, {"/?"}, Help, ""},
        {Headless, Linux, {"/?"}, Refuse, "unexpected argument '/?' (--help lists the options)"},
        {Headless, Linux, {"--version"}, Version, ""},
        // In order, as getopt: what comes first decides.
        {Window, Linux, {"--help", "--bogus"}, Help, ""},
        {Window, Linux, {"--bogus", "--help"}, Refuse, Unknown("--bogus")},
        // Qt's own options are not taken: the command line is read before Qt.
        {Window, Linux, {"-platform", "offscreen"}, Refuse, Unknown("-platform")},
        {Window, Windows, {"/bogus"}, Refuse, Unknown("/bogus")},
        {Headless,
         Linux,
         {"x.ini"},
         Refuse,
         "unexpected argument 'x.ini' (--help lists the options)"},
        {Window, Linux, {"--help=1"}, Refuse, "--help takes no value"},
        {Headless, Linux, {"--list-ports"}, ListPorts, ""},
        {Window, Linux, {"--list-ports"}, Refuse, Unknown("--list-ports")},
        {Headless, Windows, {"--install-service"}, InstallService, ""},
        {Headless, Windows, {"--uninstall-service"}, UninstallService, ""},
        {Headless, Windows, {"--service"}, RunService, ""},
        {Headless, Windows, {"--reload"}, Reload, ""},
        {Headless, Linux, {"--reload"}, Refuse, Unknown("--reload")},
        {Window, Windows, {"--service"}, Refuse, Unknown("--service")},
        {Headless,
         Windows,
         {"--service", "--reload"},
         Refuse,
         "--service and --reload do not go together"},
        {Headless, Linux, {"--install-service"}, Refuse, Unknown("--install-service")},
        {Headless,
         Windows,
         {"--install-service", "--uninstall-service"},
         Refuse,
         "--install-service and --uninstall-service do not go together"},
    };
    for (const auto& row : cases) {
        std::string shown;
        for (const std::string& argument : row.Arguments) {
            shown += " [" + argument + "]";
        }
        SCOPED_TRACE(ProgramName(row.Program) + std::string(row.Platform == Linux ? "/L" : "/W") +
                     shown);
        const TCommandLine parsed = ParseCommandLine(row.Program, row.Platform, row.Arguments);
        EXPECT_EQ(parsed.Action, row.Action);
        EXPECT_EQ(parsed.Minimized, row.Minimized);
        EXPECT_EQ(parsed.Refusal, row.Refusal);
    }
}

// What a command line that starts nothing answers, where, and with which status. A fault here is
// help that hides the settings file or lists options the program refuses, a refusal on standard
// output or with status 0.
TEST(CommandLineTest, TheAnswersSayWhatTheProgramTakesAndEndWithTheirStatus) {
    const std::string settings = "/home/оператор/.config/modbus-bridged/modbus-bridged.ini";
    const std::string listed = "\nSettings file: " + settings + "\n";
    const struct {
        TBridgeProgram Program;
        TProgramPlatform Platform;
        TProgramAction Action;
        int Status;
        std::vector<std::string> Has;
        std::vector<std::string> HasNot = {};
    } cases[] = {
        {Window,
         Linux,
         Help,
         0,
         {"Usage: modbus-bridge [options]\n", "  --help, -h        print this text and end\n",
          "  --version ", "  --minimized ", listed, "\nPort: 12345 ", "localhost:12345/demo/"},
         {"/?", "--list-ports", "--install-service"}},
        {Window, Windows, Help, 0, {"  --help, -h, /?  ", "  --minimized ", listed}, {"-service"}},
        {Headless,
         Linux,
         Help,
         0,
         {"Usage: modbus-bridged", "\nSIGTERM; SIGHUP makes it read [Origins] again",
          "  --version ", "  --list-ports ", listed},
         {"--minimized", "/?", "-service", "--reload"}},
        {Headless,
         Windows,
         Help,
         0,
         {"the session's end", "/?", listed, "  --list-ports ",
          "  --uninstall-service  stop and remove", "  --install-service    register",
          "\n                       its settings and logs are in "
          "%ProgramData%\\modbus-bridge\n",
          "  --service ", "  --reload "},
         {"--minimized", "SIGTERM", "SIGHUP"}},
        {Headless, Linux, Version, 0, {"modbus-bridged " MODBUS_BRIDGE_VERSION "\n"}},
        {Window, Windows, Refuse, 2, {"modbus-bridge: the reason\n"}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(ProgramName(row.Program) + std::string(row.Platform == Linux ? "/L " : "/W ") +
                     std::to_string(static_cast<int>(row.Action)));
        const std::optional<TProgramAnswer> answer = AnswerWithoutStart(
            {row.Action, false, "the reason"}, row.Program, row.Platform, settings, 12345);
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->ToStandardError, row.Status != 0);
        EXPECT_EQ(answer->Status, row.Status);
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
    // The program itself carries these out.
    for (const TProgramAction action :
         {TProgramAction::Run, InstallService, UninstallService, RunService, Reload}) {
        EXPECT_FALSE(AnswerWithoutStart({action, true, {}}, Headless, Windows, settings, 1));
    }
}

}  // namespace
