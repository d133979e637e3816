#pragma once

#include <cstdint>
#include <string>

#include "ListenSocket.h"

// The error line of a start whose server could not open. A port that another program holds is
// the usual cause: the line names that program when the shell knows it (holder), and otherwise
// tells the operator how to find it with the system's own tool.
std::string NoServerLine(uint16_t port, const std::string& reason, TListenFailure failure,
                         const std::string& holder = {});
