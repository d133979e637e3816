#pragma once

#include <map>
#include <string>
#include <vector>

#include "PortPolicy.h"

class TIniFile;

enum class TListenScope { Loopback, Any };
enum class TOriginMode { Any, List, Ask };

// Who may drive the devices: the [Server] section of the settings file and the origins of the
// [Origins] section. The defaults serve pages on this computer only: programs that send no
// Origin, the bridge's own page, and the pages listed with =1.
struct TAccessSettings {
    TListenScope Listen = TListenScope::Loopback;
    // Lower case.
    std::vector<std::string> AllowedHosts;
    TOriginMode Origins = TOriginMode::List;
    // Origins as written in lower case: true allowed, false refused.
    std::map<std::string, bool> OriginDecisions;
    // Empty: no key asked for.
    std::string Key;
    TPortPolicy Ports;
    // Values that could not be read, each as a line for the log; the safe reading is taken.
    std::vector<std::string> Problems;
};

// Without an Origins setting the operator is asked (Origins=ask); a program that has nobody to
// ask takes that as Origins=list.
TAccessSettings ReadAccessSettings(const TIniFile& settings);

// The [Origins] section alone: each origin in lower case, allowed only by "=1"; a value that is
// no number is a problem, and the origin is refused.
std::map<std::string, bool> ReadOriginDecisions(const TIniFile& settings,
                                                std::vector<std::string>& problems);
size_t AllowedOriginCount(const std::map<std::string, bool>& decisions);

// An error line for the start of the log for each setting that lets every web site that the
// browser on this computer opens drive the devices: Origins=any, and null=1.
std::vector<std::string> AccessRisks(const TAccessSettings& settings);

// Where an answer of the operator about an origin is kept.
inline constexpr char kOriginsSection[] = "Origins";
