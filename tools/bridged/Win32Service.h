#pragma once

#include <string>

#include "Win32ReloadRequest.h"

// modbus-bridged.exe as the Windows service "modbus-bridged", for panel PCs with nobody logged
// in: every call of the service control manager is in Win32Service.cpp; what the service does
// on its controls is TServiceBehaviour's. Each returns the program's exit status.

// --service: runs as the service once the manager has started the program so (its settings in
// %ProgramData%\modbus-bridge\modbus-bridged.ini, its log in daily files beside them).
int RunAsService();
// --install-service: registers the service (Local Service, started with the system) for this
// copy of the program, and makes its folders.
int InstallService();
// --uninstall-service: stops the service and removes it; its settings and logs stay.
int UninstallService();
// --reload's second road: the parameter change control to the running service.
TReloadSent ReloadService(std::string& error);
