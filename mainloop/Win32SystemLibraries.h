#pragma once

#include <windows.h>

#include <string>

// DLLs from the system folder alone. Windows looks for a DLL in the program's own folder first,
// so a portable copy unpacked beside a planted DLL (into Downloads, say) would run that DLL. The
// programs import only the DLLs that Windows always takes from the system folder (its known
// DLLs, and the common controls through the manifest) and load any other here, at run time.

// Keeps every later DLL load of the process, the system DLLs' own included, to the system
// folder; the first thing a program does. Empty when done, else why it failed.
std::string KeepDllLoadsInSystemFolder();

// A DLL of the system folder, loaded for good; null when it cannot be (GetLastError says why).
HMODULE LoadSystemLibrary(const wchar_t* name);
