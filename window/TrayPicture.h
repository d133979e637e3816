#pragma once

#include <cstdint>
#include <vector>

#include "TrayView.h"

// The tray icon's picture for a state, drawn without a toolkit so that both platforms show the
// same one: the program's icon (packaging/modbus-bridge.svg) with a round mark at its lower
// right in the state's colour, none when idle. Rows from the top, each pixel 0xAARRGGBB with
// straight (not premultiplied) alpha, size by size pixels.
std::vector<uint32_t> TrayPicturePixels(TTrayPicture picture, int size);

// The mark's colour, 0xRRGGBB; none for Idle.
uint32_t TrayMarkColour(TTrayPicture picture);
