#include "WindowTexts.h"

std::string OriginQuestionText(std::string_view origin) {
    std::string text = "Разрешить странице ";
    text.append(origin);
    text.append(" управлять устройствами через мост?");
    return text;
}

std::string OriginNotificationText(std::string_view origin) {
    std::string text = "Страница ";
    text.append(origin);
    text.append(" просит управлять устройствами через мост. Нажмите, чтобы ответить в окне.");
    return text;
}

std::string DroppedLinesNotice(uint64_t dropped, std::string_view dailyFilesFolder) {
    std::string text = "Старые строки удалены из памяти: " + std::to_string(dropped) + ". ";
    if (dailyFilesFolder.empty()) {
        text.append("Ежедневные файлы журнала не ведутся (LogFolder в [Options])");
    } else {
        text.append("Все строки — в ежедневных файлах журнала в ");
        text.append(dailyFilesFolder);
    }
    return text;
}
