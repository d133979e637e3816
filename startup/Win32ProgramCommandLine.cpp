#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <string_view>

#include "ProgramCommandLine.h"
#include "Win32ConsoleLine.h"
#include "Win32Text.h"

const TProgramPlatform kThisPlatform = TProgramPlatform::Windows;

namespace {

// A handle that leads somewhere: a console, a file or a pipe. A program of the Windows
// subsystem started from a console or the desktop has none.
bool LeadsSomewhere(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

std::vector<std::string> ProgramArguments(int, char*[]) {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int index = 1; words != nullptr && index < count; ++index) {
        arguments.push_back(Utf8FromWide(words[index]));
    }
    LocalFree(words);
    return arguments;
}

void WriteProgramAnswer(const TProgramAnswer& answer) {
    HANDLE handle = GetStdHandle(answer.ToStandardError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    HANDLE console = INVALID_HANDLE_VALUE;
    if (!LeadsSomewhere(handle) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
        handle = console;
    }
    if (!LeadsSomewhere(handle)) {
        MessageBoxW(nullptr, WideFromUtf8(answer.Text).c_str(), L"modbus-bridge",
                    answer.ToStandardError ? MB_ICONERROR : MB_ICONINFORMATION);
        return;
    }
    std::string_view text = answer.Text;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        WriteConsoleLineToHandle(handle, text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    if (console != INVALID_HANDLE_VALUE) {
        CloseHandle(console);
    }
}
