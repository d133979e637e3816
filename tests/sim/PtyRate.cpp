// termios2 comes from the kernel headers, which clash with <termios.h>: this file uses ioctl only.
#include "PtyRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool SetPtyRate(int terminal, uint32_t baud) {
    termios2 settings{};
    if (ioctl(terminal, TCGETS2, &settings) != 0) {
        return false;
    }
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | CIBAUD);
    settings.c_cflag |= BOTHER;
    settings.c_ispeed = baud;
    settings.c_ospeed = baud;
    return ioctl(terminal, TCSETS2, &settings) == 0;
}
