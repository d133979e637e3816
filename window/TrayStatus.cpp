#include "TrayStatus.h"

#include <utility>

#include "WindowTexts.h"

void TTrayStatus::ServerStarted(uint16_t port, bool listening) {
    Port = port;
    Listening = listening;
}

void TTrayStatus::RequestBegun() {
    Serving = true;
}

void TTrayStatus::RequestEnded(const TRequestEnd& end) {
    Serving = false;
    if (end.ErrorCode) {
        Last = end;
    }
}

void TTrayStatus::Asking(std::string origin) {
    AskingOrigin = std::move(origin);
}

TTrayPicture TTrayStatus::Picture() const {
    if (!AskingOrigin.empty()) {
        return TTrayPicture::Asking;
    }
    if (Serving) {
        return TTrayPicture::Serving;
    }
    if (!Listening || (Last && *Last->ErrorCode != 0)) {
        return TTrayPicture::Failed;
    }
    return TTrayPicture::Idle;
}

std::string TTrayStatus::Tooltip() const {
    std::string text(WindowText::kTrayName);
    text += Listening ? ", порт " + std::to_string(Port)
                      : ": порт " + std::to_string(Port) + " не открыт";
    text += '\n';
    if (Serving) {
        text += "Выполняется запрос";
    } else if (!Last) {
        text += "Запросов ещё не было";
    } else if (*Last->ErrorCode == 0) {
        text += "Последний запрос: успешно";
    } else {
        text += "Последний запрос: ошибка " + std::to_string(*Last->ErrorCode);
        if (!Last->ErrorText.empty()) {
            text += ", " + Last->ErrorText;
        }
    }
    if (!AskingOrigin.empty()) {
        text += "\nЖдёт разрешения: " + AskingOrigin;
    }
    return text;
}
