#include <windows.h>

#include "Autostart.h"
#include "AutostartEntry.h"
#include "Win32Text.h"

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kValueName[] = L"modbus-bridge";

// Windows compares paths without regard to case, in every script.
bool SamePath(const std::string& left, const std::string& right) {
    const std::wstring a = WideFromUtf8(left);
    const std::wstring b = WideFromUtf8(right);
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

TAutostart::TAutostart(std::string programPath, std::string place)
    : ProgramPath(std::move(programPath)),
      Place(place.empty() ? Utf8FromWide(kRunKey) : std::move(place)) {}

std::string TAutostart::Where() const {
    return "HKEY_CURRENT_USER\\" + Place + "\\" + Utf8FromWide(kValueName);
}

bool TAutostart::Enabled() const {
    DWORD bytes = 0;
    const std::wstring key = WideFromUtf8(Place);
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), kValueName, RRF_RT_REG_SZ, nullptr, nullptr,
                     &bytes) != ERROR_SUCCESS) {
        return false;
    }
    std::wstring value(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), kValueName, RRF_RT_REG_SZ, nullptr,
                     value.data(), &bytes) != ERROR_SUCCESS) {
        return false;
    }
    value.resize(wcsnlen(value.c_str(), value.size()));
    const std::optional<std::string> program = ProgramOfRunValue(Utf8FromWide(value));
    return program && SamePath(*program, ProgramPath);
}

std::string TAutostart::Enable() {
    const std::wstring value = WideFromUtf8(RunValueText(ProgramPath));
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, WideFromUtf8(Place).c_str(), 0, nullptr, 0,
                                     KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status =
            RegSetValueExW(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS) {
        return "Cannot write " + Where() + ": " + Win32ErrorText(static_cast<DWORD>(status));
    }
    return {};
}

std::string TAutostart::Disable() {
    const LSTATUS status =
        RegDeleteKeyValueW(HKEY_CURRENT_USER, WideFromUtf8(Place).c_str(), kValueName);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        return "Cannot delete " + Where() + ": " + Win32ErrorText(static_cast<DWORD>(status));
    }
    return {};
}
