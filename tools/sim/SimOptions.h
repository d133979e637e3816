#pragma once

#include <span>
#include <string>
#include <string_view>

#include "SimDevice.h"
#include "WirePlan.h"

struct TSimOptions {
    TDeviceSetup Device;
    TLineFaults Faults;
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

// What --help prints.
std::string_view HelpText();
