#include "OpenFailure.h"

namespace {

const char* CauseText(TOpenCause cause) {
    switch (cause) {
        case TOpenCause::None:
            return "причина не известна";
        case TOpenCause::NoDevice:
            return "нет такого устройства (адаптер не подключён или путь в [Ports] неверен)";
        case TOpenCause::NoAccess:
            return "нет прав на устройство (в Linux пользователь должен быть в группе dialout)";
        case TOpenCause::Busy:
            return "занят другой программой";
        case TOpenCause::NotSerial:
            return "это не последовательный порт";
        case TOpenCause::Speed:
            return "драйвер не принимает скорость";
        case TOpenCause::Other:
            break;
    }
    return "ошибка системы";
}

}  // namespace

std::string OpenFailureLine(uint8_t port, const std::string& path, const TOpenFailure& failure) {
    const std::string name = "COM" + std::to_string(port);
    if (path.empty()) {
        return name + " не открыт: у этого номера нет устройства";
    }
    std::string line = name + " (" + path + ") не открыт: ";
    line += CauseText(failure.Cause);
    if (!failure.Detail.empty()) {
        line += " (" + failure.Detail + ")";
    }
    return line;
}
