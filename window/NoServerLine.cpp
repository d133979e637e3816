#include "NoServerLine.h"

#include <cerrno>

#include "ListenSocket.h"

std::string NoServerLine(uint16_t port, const std::string& reason) {
    const std::string line = "Сервер не запущен, запросы страниц не принимаются: ";
    if (reason != ListenErrorText(TListenSocket{{}, EADDRINUSE, "bind", {}})) {
        return line + reason;
    }
    return line + "порт " + std::to_string(port) + " занят другой программой (" + reason +
           "); какой, покажет ss -ltnp";
}
