#include "NoServerLine.h"

std::string NoServerLine(uint16_t port, const std::string& reason, TListenFailure failure,
                         const std::string& holder) {
    const std::string line = "Сервер не запущен, запросы страниц не принимаются: ";
    if (failure != TListenFailure::AddressInUse) {
        return line + reason;
    }
    const std::string taken = line + "порт " + std::to_string(port) + " занят ";
    if (!holder.empty()) {
        return taken + "программой " + holder + " (" + reason + ")";
    }
    return taken + "другой программой (" + reason + "); какой, покажет " + kPortHolderCommand;
}
