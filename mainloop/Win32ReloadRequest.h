#pragma once

#include <string>

// The named event through which `modbus-bridged.exe --reload` asks the modbus-bridged running in
// the same logon session to read its sites again (TReloadRequests). No windows.h here.
extern const wchar_t kReloadEventName[];

enum class TReloadSent {
    Sent,
    // No modbus-bridged runs in this session.
    NobodyListens,
    Failed,
};

// Sets the event; error says why when it fails.
TReloadSent SendReloadRequest(std::string& error);
