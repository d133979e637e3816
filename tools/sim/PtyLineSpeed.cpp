// termios2 comes from the kernel headers, which clash with <termios.h>: this file uses ioctl only.
#include "PtyLineSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

std::optional<uint32_t> LineBaud(int terminal) {
    // The kernel fills c_ospeed with the rate in baud whichever way the rate was set.
    termios2 settings{};
    if (ioctl(terminal, TCGETS2, &settings) != 0 || settings.c_ospeed == 0) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(settings.c_ospeed);
}
