#include "TestDevice.h"

#include "SpawnedProgram.h"

class TTestDevice::TRunning {
public:
    TRunningSim Sim;
};

TTestDevice::TTestDevice() = default;

TTestDevice::~TTestDevice() = default;

bool TTestDevice::Start(const std::vector<std::string>& options) {
    Running = std::make_unique<TRunning>();
    if (!Running->Sim.Start(options)) {
        return false;
    }
    Path = Running->Sim.Port;
    return true;
}
