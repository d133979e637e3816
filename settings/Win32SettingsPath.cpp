#include <shlobj.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "SettingsPath.h"
#include "Utf8Path.h"

namespace {

namespace fs = std::filesystem;

// A known folder of the user (application data, documents); empty when the system has none.
fs::path KnownFolder(const KNOWNFOLDERID& id) {
    wchar_t* path = nullptr;
    fs::path folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path))) {
        folder = path;
    }
    CoTaskMemFree(path);
    return folder;
}

bool Below(const fs::path& folder, const fs::path& root) {
    if (root.empty()) {
        return false;
    }
    const std::wstring folderText = folder.lexically_normal().wstring() + L"\\";
    const std::wstring rootText = root.lexically_normal().wstring() + L"\\";
    return folderText.size() >= rootText.size() &&
           CompareStringOrdinal(folderText.c_str(), static_cast<int>(rootText.size()),
                                rootText.c_str(), static_cast<int>(rootText.size()),
                                TRUE) == CSTR_EQUAL;
}

// Whether this user may create files in the folder: the only sure test on Windows, where access
// rights, read-only media and virtualisation all decide, is to try.
bool Writable(const fs::path& folder) {
    const fs::path probe = folder / (L".write-test-" + std::to_wstring(GetCurrentProcessId()));
    const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

// A portable copy keeps its files beside itself. An installed copy (below Program Files) keeps
// them per user, even when an administrator could write beside it.
bool Portable(const fs::path& programFolder) {
    const bool installed = Below(programFolder, KnownFolder(FOLDERID_ProgramFiles)) ||
                           Below(programFolder, KnownFolder(FOLDERID_ProgramFilesX86));
    return !installed && Writable(programFolder);
}

fs::path AbsoluteProgram(const std::string& programPath) {
    std::error_code code;
    const fs::path absolute = fs::absolute(Utf8Path(programPath), code);
    return code ? Utf8Path(programPath) : absolute;
}

}  // namespace

std::string SettingsFilePath(const std::string& programPath) {
    const fs::path program = AbsoluteProgram(programPath);
    const fs::path fileName = program.stem().wstring() + L".ini";
    const fs::path beside = program.parent_path() / fileName;
    std::error_code code;
    if (fs::exists(beside, code) || Portable(program.parent_path())) {
        return Utf8Text(beside);
    }
    return Utf8Text(KnownFolder(FOLDERID_RoamingAppData) / program.stem() / fileName);
}

std::string SaveFolderPath(const std::string& programPath) {
    const fs::path program = AbsoluteProgram(programPath);
    if (Portable(program.parent_path())) {
        return Utf8Text(program.parent_path() / L"save");
    }
    return Utf8Text(KnownFolder(FOLDERID_Documents) / L"modbus-bridge");
}

std::string ProgramFilePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return Utf8Text(path);
        }
        path.resize(path.size() * 2);
    }
}
