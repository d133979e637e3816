// Both programs answer their command line as programs, on Linux and under wine: help, version
// and refusal on the right stream with the right status, and nothing started meanwhile. The
// Linux window runs without a display, where Qt could not start.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "PortHolder.h"
#include "SpawnedProgram.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPort = 19284;
// An answer takes milliseconds; a program that started instead never ends by itself. Wine's
// first program of a run starts its server, which takes seconds on a loaded machine.
constexpr int kAnswerBoundMs = 30000;

struct TProgram {
    std::string Name;
    std::string File;
    std::string Path;
    bool Windows;
};

void PrintTo(const TProgram& program, std::ostream* out) {
    *out << program.File;
}

struct TAnswer {
    std::optional<int> Status;
    std::vector<std::string> Out;
    std::vector<std::string> Err;
};

class CommandLineProgramTest : public ::testing::TestWithParam<TProgram> {
protected:
    void SetUp() override {
        // A program that starts in place of answering would take the port; one that holds it
        // already would hide that.
        if (const std::optional<std::string> holder = PortHolder(kPort)) {
            GTEST_FAIL() << "port " << kPort << " is taken: " << *holder;
        }
        if (!fs::exists(GetParam().Path)) {
            GTEST_FAIL() << GetParam().Path << " is missing (tools/build-windows.sh makes it)";
        }
        Folder = fs::temp_directory_path() /
                 ("командная-строка-" + std::to_string(getpid()) + "-" + GetParam().File);
        fs::remove_all(Folder);
        fs::create_directories(Folder);
        fs::copy_file(GetParam().Path, Folder / GetParam().File);
        // No display: the window must answer before its toolkit needs one.
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
    }
    void TearDown() override { fs::remove_all(Folder); }

    // The settings file's path as the program names it: under wine on drive Z:.
    std::string SettingsPath() const {
        std::string path = (Folder / fs::path(GetParam().File).replace_extension(".ini")).string();
        if (GetParam().Windows) {
            for (char& c : path) {
                c = c == '/' ? '\\' : c;
            }
            path = "Z:" + path;
        }
        return path;
    }

    TAnswer Run(const std::vector<std::string>& arguments) {
        TSpawnedProgram program;
        const std::string file = (Folder / GetParam().File).string();
        std::vector<std::string> all = arguments;
        bool started = false;
        if (GetParam().Windows) {
            all.insert(all.begin(), {WINDOWS_BUILD_PATH, file});
            started = program.Start(WINE_RUN_PATH, all);
        } else {
            started = program.Start(file, all);
        }
        TAnswer answer;
        if (!started) {
            ADD_FAILURE() << "did not start";
            return answer;
        }
        answer.Status = program.WaitForExit(kAnswerBoundMs);
        while (std::optional<std::string> line = program.ReadLine(100)) {
            answer.Out.push_back(Trimmed(*line));
        }
        while (std::optional<std::string> line = program.ReadErrorLine(100)) {
            answer.Err.push_back(Trimmed(*line));
        }
        return answer;
    }

    // Windows' lines end in CR LF.
    std::string Trimmed(std::string line) const {
        if (GetParam().Windows && line.ends_with('\r')) {
            line.pop_back();
        }
        return line;
    }

    fs::path Folder;
};

// The fault each row catches: a program that starts serving on --help (modbus-bridged did), a
// window that needs a display to answer (the Linux window did), an answer on the wrong stream or
// with status 0 for a refusal, a refusal that names the option wrongly (Cyrillic read through the
// ANSI code page on Windows), and anything written beside the program.
TEST_P(CommandLineProgramTest, HelpVersionAndARefusalStartNothing) {
    const std::string name = GetParam().Name;
    const struct {
        std::vector<std::string> Arguments;
        int Status;
        // The first line of standard output, or none expected.
        std::string FirstOut;
        std::vector<std::string> Err;
    } cases[] = {
        {{"--help"}, 0, "Usage: " + name + " [options]", {}},
        {{"--version"}, 0, name + " " + MODBUS_BRIDGE_VERSION, {}},
        {{"--frobnicate"},
         2,
         "",
         {name + ": unknown option '--frobnicate' (--help lists the options)"}},
        {{"--мост", "--help"},
         2,
         "",
         {name + ": unknown option '--мост' (--help lists the options)"}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.Arguments.front());
        const TAnswer answer = Run(row.Arguments);
        EXPECT_EQ(answer.Status, row.Status) << "did not end by itself: it started";
        EXPECT_EQ(answer.Err, row.Err);
        if (row.FirstOut.empty()) {
            EXPECT_TRUE(answer.Out.empty());
        } else {
            ASSERT_FALSE(answer.Out.empty());
            EXPECT_EQ(answer.Out.front(), row.FirstOut);
        }
        if (row.Arguments.front() == "--help") {
            std::string text;
            for (const std::string& line : answer.Out) {
                text += line + "\n";
            }
            EXPECT_NE(text.find("\nSettings file: " + SettingsPath() + "\n"), std::string::npos)
                << text;
            EXPECT_NE(text.find("\nPort: 19284 "), std::string::npos) << text;
        }
        EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(Folder), {}),
                  std::vector<fs::path>{Folder / GetParam().File});
        EXPECT_FALSE(PortHolder(kPort).has_value()) << "something listens on the port";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Programs, CommandLineProgramTest,
    ::testing::Values(TProgram{"modbus-bridged", "modbus-bridged", MODBUS_BRIDGED_PATH, false},
                      TProgram{"modbus-bridge", "modbus-bridge", MODBUS_BRIDGE_PATH, false},
                      TProgram{"modbus-bridged", "modbus-bridged.exe", MODBUS_BRIDGED_EXE_PATH,
                               true},
                      TProgram{"modbus-bridge", "modbus-bridge.exe", MODBUS_BRIDGE_EXE_PATH, true}),
    [](const ::testing::TestParamInfo<TProgram>& program) {
        return std::string(program.param.Windows ? "Windows" : "Linux") +
               (program.param.Name == "modbus-bridge" ? "Window" : "Headless");
    });

}  // namespace
