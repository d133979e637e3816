#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ErrorText.h"
#include "Lookups.h"

namespace {

// Characters, not bytes: the names are shown in a fixed 32-character field.
size_t CharacterCount(const std::string& utf8) {
    size_t count = 0;
    for (const char byte : utf8) {
        // The mask takes the low bits alone, so the sign of char does not matter.
        if ((byte & 0xC0) != 0x80) {
            ++count;
        }
    }
    return count;
}

TEST(ErrorTextTest, EveryCodeHasItsText) {
    const std::pair<int, const char*> rows[] = {
        {0, "OK"},
        {1, "В запросе был передан недопустимый код функции"},
        {2, "Указанный в запросе адрес данных не существует"},
        {3, "В поле данных передано неверное значение"},
        {4, "Произошла невосстановимая ошибка на устройстве при выполнении запрошенной операции"},
        {5, "Запрос принят, выполняется, но выполнение потребует много времени"},
        {6, "Устройство занято обработкой предыдущего запроса"},
        {7, "Устройство не может выполнить запрос, необходимо получить диагностическую информацию"},
        {8, "Ошибка четности при обращении к внутренней памяти устройства"},
        {100, "Ошибка длины принятого пакета"},
        {101, "Чужой адрес"},
        {102, "Ошибка CRC пакета"},
        {103, "Не найдена первая POST строка HTTP заголовка"},
        {104, "Нет версии HTTP протокола"},
        {105, "Не найден конец HTTP заголовка"},
        {106, "Не найдены JSON данные"},
        {107, "Ошибка парсинга JSON данных"},
        {108, "Отсутствие параметра COMPANY_ID"},
        {109, "Отсутствие параметра DEVICE_ID"},
        {110, "Отсутствие параметра SLAVE_ADDR"},
        {111, "Отсутствие параметра BAUD_RATE"},
        {112, "Отсутствие параметра COM_PORT"},
        {113, "Отсутствие параметра POLL_MS"},
        {114, "Отсутствие параметра TIMEOUT_MS"},
        {115, "Отсутствие параметра CTRL_ECHO"},
        {116, "Отсутствие параметра CTRL_DTR"},
        {117, "Отсутствие параметра CTRL_RTS"},
        {118, "Отсутствие параметра CTRL_INVERT"},
        {119, "Отсутствие параметра RAND_STRING"},
        {120, "Отсутствие параметра PDU"},
        {121, "Неизвестный тип параметра"},
        {122, "Ошибка открытия COM порта"},
        {123, "Истекло время ожидания ответа"},
        {124, "Ошибка операции с COM портом"},
        {125, "Запрос отклонён настройками доступа моста"},
        {126, "Порт или функция запрещены настройками моста"},
        {127, "Страница ждёт разрешения оператора в окне моста"},
        {128, "Линия занята: время ожидания в очереди моста истекло"},
        {-1, "Внутренняя ошибка моста"},
    };
    std::set<int> withText;
    for (const auto& [code, text] : rows) {
        EXPECT_EQ(ErrorText(code), text) << code;
        withText.insert(code);
    }
    for (int code = -128; code <= 255; ++code) {
        if (withText.count(code) == 0) {
            EXPECT_EQ(ErrorText(code), "Unknown ERROR") << code;
        }
    }
}

TEST(ErrorTextTest, ByteAbove127ReadsNegativeButTheQueuesCode) {
    const std::pair<uint8_t, int> rows[] = {
        {200, -56}, {255, -1}, {129, -127}, {127, 127}, {128, 128}};
    for (const auto& [code, shown] : rows) {
        EXPECT_EQ(ShownErrorCode(code), shown) << int{code};
    }
    EXPECT_EQ(ErrorText(ShownErrorCode(200)), "Unknown ERROR");
    // A device's exception code 0x80 is none of the bridge's.
    EXPECT_EQ(AnswerErrorText(128), "Unknown ERROR");
}

TEST(FunctionNameTest, NamesTheKnownCodesOnly) {
    const std::pair<uint32_t, const char*> rows[] = {
        {1, "READ_COILS"},          {2, "READ_DISCRETE_INPUTS"},  {3, "READ_HOLDING_REGISTER"},
        {4, "READ_INPUT_REGISTER"}, {5, "WRITE_SINGLE_COIL"},     {6, "WRITE_SINGLE_REGISTER"},
        {7, "DIAG_READ_EXCEPTION"}, {15, "WRITE_MULTIPLE_COILS"}, {16, "WRITE_MULTIPLE_REGISTERS"},
        {20, "READ_FILE_RECORD"},   {21, "WRITE_FILE_RECORD"},    {22, "MASK_WRITE_REGISTER"},
        {67, "READ_CONFIGURATION"}, {68, "WRITE_CONFIGURATION"},  {69, "READ_SECTION_DEVICE"},
        {70, "OWN_BIND"},           {71, "BOOTLOADER"},
    };
    std::set<uint32_t> named;
    for (const auto& [code, name] : rows) {
        EXPECT_EQ(FunctionName(code), name) << code;
        named.insert(code);
    }
    for (uint32_t code = 0; code < 512; ++code) {
        if (named.count(code) == 0) {
            EXPECT_EQ(FunctionName(code), "UNKNOWN") << code;
        }
    }
    EXPECT_EQ(FunctionName(0x10003), "UNKNOWN");
    EXPECT_EQ(FunctionName(0xFFFFFFFF), "UNKNOWN");
}

TEST(ExchangePauseTest, PauseFollowsTheLineSpeed) {
    const std::tuple<int32_t, int, uint32_t> rows[] = {
        {1200, 0, 450}, {2400, 1, 200},  {4800, 2, 110},  {9600, 3, 100},      {19200, 4, 50},
        {38400, 5, 50}, {57600, 6, 50},  {115200, 7, 50}, {14400, 7, 50},      {0, 7, 50},
        {-9600, 7, 50}, {230400, 7, 50}, {1201, 7, 50},   {2147483647, 7, 50},
    };
    for (const auto& [baud, index, pause] : rows) {
        EXPECT_EQ(BaudIndex(baud), index) << baud;
        EXPECT_EQ(ExchangePause(baud), pause) << baud;
    }
}

TEST(DeviceNameTest, RolesModelsAndTheFallback) {
    EXPECT_STREQ(DeviceName(0x0001), "Ведущий HOST");
    EXPECT_STREQ(DeviceName(0x0002), "Отладочный пульт BENCH");
    EXPECT_STREQ(DeviceName(0x0003), "Отладочный SLAVE");
    EXPECT_STREQ(DeviceName(0x1234), "Неизвестное устройство");
    EXPECT_STREQ(DeviceName(0x0000), "Неизвестное устройство");
    EXPECT_STREQ(DeviceName(0xFFFF), "Неизвестное устройство");
}

TEST(DeviceNameTest, EveryModelRowIsFoundByItsOwnCodeAndFitsItsField) {
    std::set<uint16_t> codes;
    for (int row = 0; row < kDeviceTypeCount - 1; ++row) {
        const TDeviceType& type = DeviceTypes[row];
        EXPECT_NE(type.Code, 0) << row;
        EXPECT_TRUE(codes.insert(type.Code).second) << "code used twice: " << type.Code;
        EXPECT_STREQ(DeviceName(type.Code), type.Name) << row;
        EXPECT_LE(CharacterCount(type.Name), 31U) << type.Name;
        EXPECT_GT(CharacterCount(type.Name), 0U) << row;
    }
    EXPECT_STREQ(DeviceTypes[kDeviceTypeCount - 1].Name, "Неизвестное устройство");
}

}  // namespace
