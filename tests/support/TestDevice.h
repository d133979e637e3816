#pragma once

#include <memory>
#include <string>
#include <vector>

// The simulated slave behind the link of an in-process test, started with modbus-sim's options
// (--delay, --silent, ...). On Linux modbus-sim itself on a pseudo-terminal (TestDevice.cpp). On
// Windows, where no Linux program can be started, the simulator's own device and line faults
// served in this process on one end of a pseudo-terminal pair that socat holds and wine maps as
// two COM ports (SimOnSerialPort.cpp; tests/link/serial-pty-test.sh names the ends).
class TTestDevice {
public:
    TTestDevice();
    ~TTestDevice();
    TTestDevice(const TTestDevice&) = delete;
    TTestDevice& operator=(const TTestDevice&) = delete;

    bool Start(const std::vector<std::string>& options);
    // The device path the link opens.
    const std::string& LinkPath() const { return Path; }

    class TRunning;

private:
    std::string Path;
    std::unique_ptr<TRunning> Running;
};
