#include <windows.h>

#include "ProgramMarker.h"
#include "Win32Text.h"

namespace {

// Seen from every session, so that the window in a user's session can name modbus-bridged
// running as a service, and the other way round; a mutex there needs no privilege.
constexpr wchar_t kWindowHolder[] = L"Global\\modbus-bridge-window";
constexpr wchar_t kHeadlessHolder[] = L"Global\\modbus-bridged";

// The window's one copy: per session and per user.
std::wstring OneCopyName() {
    wchar_t user[257] = L"";
    DWORD size = 257;
    if (!GetUserNameW(user, &size)) {
        user[0] = L'\0';
    }
    return std::wstring(L"Local\\modbus-bridge-window-") + user;
}

// A mutex made by another account (a service) may be closed to this one: there all the same.
bool MutexExists(const wchar_t* name) {
    const HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, name);
    if (mutex != nullptr) {
        CloseHandle(mutex);
        return true;
    }
    return GetLastError() == ERROR_ACCESS_DENIED;
}

}  // namespace

TProgramMarker::TProgramMarker(TMarkedProgram program) {
    if (program == TMarkedProgram::Window) {
        const HANDLE oneCopy = CreateMutexW(nullptr, FALSE, OneCopyName().c_str());
        if (oneCopy == nullptr) {
            Error_ = "the mutex of the window's one copy: " + Win32ErrorText(GetLastError());
            return;
        }
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            CloseHandle(oneCopy);
            State_ = TMarkerState::HeldElsewhere;
            return;
        }
        Holds.push_back(reinterpret_cast<intptr_t>(oneCopy));
    }
    // Where another account made it first and closed it to this one, its holder keeps it.
    const HANDLE holder = CreateMutexW(
        nullptr, FALSE, program == TMarkedProgram::Window ? kWindowHolder : kHeadlessHolder);
    if (holder != nullptr) {
        Holds.push_back(reinterpret_cast<intptr_t>(holder));
    } else if (program == TMarkedProgram::Headless) {
        Error_ = "the mutex that marks modbus-bridged: " + Win32ErrorText(GetLastError());
        return;
    }
    State_ = TMarkerState::Held;
}

TProgramMarker::~TProgramMarker() {
    for (const intptr_t handle : Holds) {
        CloseHandle(reinterpret_cast<HANDLE>(handle));
    }
}

std::string MarkedPortHolder(TMarkedProgram asking) {
    if (asking != TMarkedProgram::Window && MutexExists(kWindowHolder)) {
        return "modbus-bridge (окно)";
    }
    if (MutexExists(kHeadlessHolder)) {
        return "modbus-bridged";
    }
    return {};
}

std::string FirstCopyAddress() {
    return "modbus-bridge first copy";
}
