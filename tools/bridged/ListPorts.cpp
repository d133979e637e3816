#include "ListPorts.h"

#include <cstdio>

#include "ConsoleLine.h"
#include "IniFile.h"
#include "PortRows.h"

int PrintPortsTable(const std::string& settingsPath) {
    const TIniFile settings(settingsPath);
    const std::string table = PortsTableText(PortRows(ListMachinePorts(), settings));
    for (size_t at = 0; at < table.size();) {
        const size_t end = table.find('\n', at);
        WriteConsoleLine(stdout, std::string_view(table).substr(at, end - at));
        at = end + 1;
    }
    return 0;
}
