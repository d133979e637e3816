#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "SimBus.h"
#include "SimDevice.h"
#include "WirePlan.h"

struct TSimOptions {
    TDeviceSetup Device;
    TLineFaults Faults;
    // The slaves of --slave; empty for the one slave of --address, which answers at any speed.
    std::vector<TSlaveSetup> Slaves;
    std::string LinkPath;  // empty for no link
    bool Verbose = false;
    bool Help = false;
};

// Options, or the reason they were refused when Error is not empty.
struct TParsedOptions {
    TSimOptions Options;
    std::string Error;
};

// Reads the command line without the program name. Numbers are decimal or 0x hexadecimal.
TParsedOptions ParseOptions(std::span<const std::string_view> args);

// The slaves on the line: those of --slave, or the one of --address.
std::vector<TSlaveSetup> LineSlaves(const TSimOptions& options);

// What --help prints.
std::string_view HelpText();
