#pragma once

#include "BridgeHost.h"

// The first lines of the log when a bridge program starts: the date line, the caption, the view
// options as the toggles write them, "Старт" and the separator; then the status panels cleared.
void WriteStartLines(TBridgeHost& host);
