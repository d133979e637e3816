#pragma once

#include <cstdint>
#include <string>

#include "ListenSocket.h"

// The error line of a window whose server could not open. A port that another program holds is
// the usual cause, and the operator is told how to find that program with the system's own tool.
std::string NoServerLine(uint16_t port, const std::string& reason, TListenFailure failure);
