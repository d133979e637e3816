// What only a Windows console and session have: log lines read back from a console screen buffer
// and from a file, and the session's end and a close request reaching the termination requests.
// Runs in a console (console-test.sh: a pseudo-terminal) with a display for the hidden window.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ConsoleLine.h"
#include "TerminationSignals.h"
#include "Utf8Path.h"
#include "Win32Text.h"

namespace {

// Log lines as the headless bridge writes them: Cyrillic, a tab, a line of the console's width.
const std::vector<std::string> kLines = {
    "12:00:00.000\tСтарт",
    "12:00:00.001\tСервер слушает порт 19284 только на 127.0.0.1 и ::1",
    "Error[124] - Нет ответа от устройства",
    std::string(79, 'x'),
};

std::FILE* StreamOf(HANDLE handle) {
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY);
    return descriptor < 0 ? nullptr : _fdopen(descriptor, "w");
}

// In a console, each line reads back as its characters from the start of its row, whatever the
// console's code page: the text went in as UTF-16.
TEST(ConsoleLineTest, AConsoleShowsEachLineInItsOwnRow) {
    const HANDLE buffer =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    ASSERT_NE(buffer, INVALID_HANDLE_VALUE) << "no console (run through console-test.sh)";
    std::FILE* stream = StreamOf(buffer);
    ASSERT_NE(stream, nullptr);
    for (const std::string& line : kLines) {
        WriteConsoleLine(stream, line);
    }
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(buffer, &info));
    for (size_t row = 0; row < kLines.size(); ++row) {
        std::wstring shown(static_cast<size_t>(info.dwSize.X), L'\0');
        DWORD read = 0;
        ASSERT_TRUE(ReadConsoleOutputCharacterW(buffer, shown.data(),
                                                static_cast<DWORD>(shown.size()),
                                                COORD{0, static_cast<SHORT>(row)}, &read));
        shown.resize(read);
        shown.erase(shown.find_last_not_of(L' ') + 1);
        // A tab shows as blanks up to the next stop; the rest is the text itself.
        std::wstring expected = WideFromUtf8(kLines[row]);
        if (const size_t tab = expected.find(L'\t'); tab != std::wstring::npos) {
            expected.replace(tab, 1, 8 - tab % 8, L' ');
        }
        EXPECT_EQ(shown, expected) << kLines[row];
    }
    std::fclose(stream);
}

// Redirected to a file (or a pipe), the lines are UTF-8 with CR LF, as Windows text files are.
TEST(ConsoleLineTest, AFileGetsUtf8WithCrLf) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        (L"console-line-" + std::to_wstring(GetCurrentProcessId()) + L".txt");
    std::FILE* stream = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(stream, nullptr);
    std::string expected;
    for (const std::string& line : kLines) {
        WriteConsoleLine(stream, line);
        expected += line + "\r\n";
    }
    std::fclose(stream);
    std::ifstream file(path, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(file)), {});
    file.close();
    std::filesystem::remove(path);
    EXPECT_EQ(written, expected);
}

// The hidden window of the termination requests: a session's end or a close request from
// another program (taskkill without /F) runs the shutdown before the message returns, once.
TEST(TerminationSignalsTest, TheSessionsEndAndACloseRequestRunTheShutdownOnce) {
    struct TRow {
        const char* Name;
        std::vector<std::pair<UINT, WPARAM>> Messages;
        int Stops;
    };
    const TRow rows[] = {
        {"logoff or shutdown", {{WM_QUERYENDSESSION, 0}, {WM_ENDSESSION, TRUE}}, 1},
        {"a session end called off", {{WM_QUERYENDSESSION, 0}, {WM_ENDSESSION, FALSE}}, 0},
        {"taskkill", {{WM_CLOSE, 0}}, 1},
        {"taskkill, then the session ends", {{WM_CLOSE, 0}, {WM_ENDSESSION, TRUE}}, 1},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        int stops = 0;
        const TTerminationSignals signals([&stops] { ++stops; });
        ASSERT_TRUE(signals.Ready()) << signals.SetupError();
        const HWND window = FindWindowW(L"ModbusBridgeMessageWindow", nullptr);
        ASSERT_NE(window, nullptr) << "no hidden window (is there a display?)";
        for (const auto& [message, wParam] : row.Messages) {
            const LRESULT result = SendMessageW(window, message, wParam, 0);
            if (message == WM_QUERYENDSESSION) {
                EXPECT_EQ(result, TRUE) << "the session's end must not be held up";
            }
        }
        EXPECT_EQ(stops, row.Stops);
    }
}

// One receiver of the console's events at a time: a second one says so instead of taking them.
TEST(TerminationSignalsTest, ASecondReceiverIsNotReady) {
    const TTerminationSignals first([] {});
    ASSERT_TRUE(first.Ready()) << first.SetupError();
    const TTerminationSignals second([] {});
    EXPECT_FALSE(second.Ready());
    EXPECT_FALSE(second.SetupError().empty());
}

}  // namespace
