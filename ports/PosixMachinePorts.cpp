#include "SerialPorts.h"
#include "SysfsSerialPorts.h"

TPortsListing ListMachinePorts() {
    return SysfsPortsListing("/");
}
