#include <windows.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include "FileReplace.h"
#include "Utf8Path.h"
#include "Win32Text.h"

namespace {

std::string Failure(const std::string& step, const std::string& path, DWORD code) {
    return step + " " + path + ": " + Win32ErrorText(code);
}

bool WriteAll(HANDLE file, std::string_view content) {
    while (!content.empty()) {
        const DWORD chunk =
            content.size() > 0x40000000U ? 0x40000000U : static_cast<DWORD>(content.size());
        DWORD written = 0;
        if (!WriteFile(file, content.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        content.remove_prefix(written);
    }
    return true;
}

// Where a symbolic link points, as a path the Win32 calls take; the path itself when it is no
// link or cannot be resolved.
std::wstring FinalPath(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return path;
    }
    const HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return path;
    }
    std::wstring final(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file, final.data(), MAX_PATH, FILE_NAME_NORMALIZED);
    if (length >= MAX_PATH) {
        final.resize(length);
        length = GetFinalPathNameByHandleW(file, final.data(), length, FILE_NAME_NORMALIZED);
    }
    CloseHandle(file);
    if (length == 0 || length >= final.size()) {
        return path;
    }
    final.resize(length);
    return final;
}

// Whole-file reads and replacements of every copy of the program take turns under this lock:
// Windows refuses to replace a file that anyone has open, and a copy that kept reading would
// otherwise keep a writing one from ever finding the file closed. A lock that a hung copy never
// gives back is waited for only so long; then the file is used without it, as by any program
// that does not take part.
class TFileTurn {
public:
    TFileTurn() : Lock(CreateMutexW(nullptr, FALSE, L"Local\\modbus-bridge-file-turns")) {
        if (Lock != nullptr) {
            const DWORD waited = WaitForSingleObject(Lock, 5000);
            // An abandoned lock was held by a copy that ended; what it guarded is whole.
            Held = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
        }
    }
    ~TFileTurn() {
        if (Held) {
            ReleaseMutex(Lock);
        }
        if (Lock != nullptr) {
            CloseHandle(Lock);
        }
    }
    TFileTurn(const TFileTurn&) = delete;
    TFileTurn& operator=(const TFileTurn&) = delete;

private:
    HANDLE Lock;
    bool Held = false;
};

// Another program that has the file open (an editor, a virus scanner) lets go within moments:
// the move is tried again for a second in all before the failure counts.
bool Transient(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION ||
           code == ERROR_ACCESS_DENIED;
}

// The new file takes the old one's name in one step, so a reader opens the old or the new file,
// never a part of one. Like any new file, it takes its access rights from its folder.
// ERROR_SUCCESS or the reason.
DWORD MoveIntoPlace(const std::wstring& temporary, const std::wstring& target) {
    const TFileTurn turn;
    const ULONGLONG giveUp = GetTickCount64() + 1000;
    for (;;) {
        if (MoveFileExW(temporary.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return ERROR_SUCCESS;
        }
        const DWORD code = GetLastError();
        if (!Transient(code) || GetTickCount64() >= giveUp) {
            return code;
        }
        Sleep(1);
    }
}

}  // namespace

bool ReplaceFileContent(const std::string& path, std::string_view content, std::string& error) {
    namespace fs = std::filesystem;
    const std::wstring target = FinalPath(WideFromUtf8(path));
    const fs::path folder = fs::path(target).parent_path();
    std::error_code code;
    if (!folder.empty()) {
        fs::create_directories(folder, code);
    }
    if (code) {
        error = "create folder " + Utf8Text(folder) + ": " + code.message();
        return false;
    }

    // One writer per process, so the process id keeps temporary names apart; one left behind by
    // a crash is simply written over by the next process of that id.
    const std::wstring temporary = target + L".new-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = Failure("create", Utf8FromWide(temporary), GetLastError());
        return false;
    }
    bool written = WriteAll(file, content) && FlushFileBuffers(file);
    const DWORD writeError = GetLastError();
    written = CloseHandle(file) && written;
    if (!written) {
        error = Failure("write", Utf8FromWide(temporary), writeError);
        DeleteFileW(temporary.c_str());
        return false;
    }
    const DWORD replaceError = MoveIntoPlace(temporary, target);
    if (replaceError != ERROR_SUCCESS) {
        error = Failure("rename to", Utf8FromWide(target), replaceError);
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

TFileRead ReadFileContent(const std::string& path, std::string& content, std::string& error) {
    const TFileTurn turn;
    // Sharing delete too lets an editor that saves by renaming the old file away go on while
    // this copy reads.
    const HANDLE file =
        CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            return TFileRead::Missing;
        }
        // A folder refuses to open as a file with "access denied", which would send the reader
        // looking at the permissions.
        const DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
        error = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                    ? "open " + path + ": is a folder"
                    : Failure("open", path, code);
        return TFileRead::Failed;
    }
    std::string text;
    char buffer[64 * 1024];
    DWORD read = 0;
    bool whole = false;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr)) {
        if (read == 0) {
            whole = true;
            break;
        }
        text.append(buffer, read);
    }
    const DWORD readError = GetLastError();
    CloseHandle(file);
    if (!whole) {
        error = Failure("read", path, readError);
        return TFileRead::Failed;
    }
    content = std::move(text);
    return TFileRead::Read;
}
