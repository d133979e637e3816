#include "NoServerLine.h"

std::string NoServerLine(uint16_t port, const std::string& reason, TListenFailure failure) {
    const std::string line = "Сервер не запущен, запросы страниц не принимаются: ";
    if (failure != TListenFailure::AddressInUse) {
        return line + reason;
    }
    return line + "порт " + std::to_string(port) + " занят другой программой (" + reason +
           "); какой, покажет " + kPortHolderCommand;
}
