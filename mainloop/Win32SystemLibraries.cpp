#include "Win32SystemLibraries.h"

#include "Win32Text.h"

std::string KeepDllLoadsInSystemFolder() {
    if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return "DLLs cannot be kept to the system folder (SetDefaultDllDirectories: " +
               Win32ErrorText(GetLastError()) + ")";
    }
    return {};
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}
