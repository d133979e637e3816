#include "Win32ConsoleLine.h"

#include <io.h>
#include <windows.h>

#include <string>

#include "ConsoleLine.h"
#include "Win32Text.h"

void WriteConsoleLine(std::FILE* stream, std::string_view line) {
    std::fflush(stream);
    WriteConsoleLineToHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), line);
}

void WriteConsoleLineToHandle(void* handle, std::string_view line) {
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        return;
    }
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring text = WideFromUtf8(line) + L"\r\n";
        DWORD written = 0;
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = std::string(line) + "\r\n";
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                       &written, nullptr) ||
            written == 0) {
            return;
        }
        done += written;
    }
}
