#include "ErrorText.h"

namespace {

constexpr char kUnknownError[] = "Unknown ERROR";

}  // namespace

std::string ErrorText(int code) {
    switch (code) {
        case 0:
            return "OK";
        case 1:
            return "В запросе был передан недопустимый код функции";
        case 2:
            return "Указанный в запросе адрес данных не существует";
        case 3:
            return "В поле данных передано неверное значение";
        case 4:
            return "Произошла невосстановимая ошибка на устройстве при выполнении запрошенной "
                   "операции";
        case 5:
            return "Запрос принят, выполняется, но выполнение потребует много времени";
        case 6:
            return "Устройство занято обработкой предыдущего запроса";
        case 7:
            return "Устройство не может выполнить запрос, необходимо получить диагностическую "
                   "информацию";
        case 8:
            return "Ошибка четности при обращении к внутренней памяти устройства";
        case 100:
            return "Ошибка длины принятого пакета";
        case 101:
            return "Чужой адрес";
        case 102:
            return "Ошибка CRC пакета";
        case 103:
            return "Не найдена первая POST строка HTTP заголовка";
        case 104:
            return "Нет версии HTTP протокола";
        case 105:
            return "Не найден конец HTTP заголовка";
        case 106:
            return "Не найдены JSON данные";
        case 107:
            return "Ошибка парсинга JSON данных";
        case 108:
            return "Отсутствие параметра COMPANY_ID";
        case 109:
            return "Отсутствие параметра DEVICE_ID";
        case 110:
            return "Отсутствие параметра SLAVE_ADDR";
        case 111:
            return "Отсутствие параметра BAUD_RATE";
        case 112:
            return "Отсутствие параметра COM_PORT";
        case 113:
            return "Отсутствие параметра POLL_MS";
        case 114:
            return "Отсутствие параметра TIMEOUT_MS";
        case 115:
            return "Отсутствие параметра CTRL_ECHO";
        case 116:
            return "Отсутствие параметра CTRL_DTR";
        case 117:
            return "Отсутствие параметра CTRL_RTS";
        case 118:
            return "Отсутствие параметра CTRL_INVERT";
        case 119:
            return "Отсутствие параметра RAND_STRING";
        case 120:
            return "Отсутствие параметра PDU";
        case 121:
            return "Неизвестный тип параметра";
        case 122:
            return "Ошибка открытия COM порта";
        case 123:
            return "Истекло время ожидания ответа";
        case 124:
            return "Ошибка операции с COM портом";
        case 125:
            return "Запрос отклонён настройками доступа моста";
        case 126:
            return "Порт или функция запрещены настройками моста";
        case 127:
            return "Страница ждёт разрешения оператора в окне моста";
        case 128:
            return "Линия занята: время ожидания в очереди моста истекло";
        case -1:
            return "Внутренняя ошибка моста";
        default:
            return kUnknownError;
    }
}

int ShownErrorCode(uint8_t code) {
    // The line's queue: a code past the signed bytes, since every one up to 127 was taken.
    constexpr uint8_t kQueueWaitExpired = 128;
    return code == kQueueWaitExpired ? int{code} : int{static_cast<int8_t>(code)};
}

std::string AnswerErrorText(uint8_t code) {
    return code < ErrorCode::FirstAddedCode ? ErrorText(static_cast<int8_t>(code)) : kUnknownError;
}
