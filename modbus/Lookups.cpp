#include "Lookups.h"

#include <array>

#include "ModbusProtocol.h"

std::string FunctionName(uint32_t code) {
    switch (code) {
        case FunctionCode::ReadCoils:
            return "READ_COILS";
        case FunctionCode::ReadDiscreteInputs:
            return "READ_DISCRETE_INPUTS";
        case FunctionCode::ReadHoldingRegisters:
            return "READ_HOLDING_REGISTER";
        case FunctionCode::ReadInputRegisters:
            return "READ_INPUT_REGISTER";
        case FunctionCode::WriteSingleCoil:
            return "WRITE_SINGLE_COIL";
        case FunctionCode::WriteSingleRegister:
            return "WRITE_SINGLE_REGISTER";
        case FunctionCode::ReadExceptionStatus:
            return "DIAG_READ_EXCEPTION";
        case FunctionCode::WriteMultipleCoils:
            return "WRITE_MULTIPLE_COILS";
        case FunctionCode::WriteMultipleRegisters:
            return "WRITE_MULTIPLE_REGISTERS";
        case FunctionCode::ReadFileRecord:
            return "READ_FILE_RECORD";
        case FunctionCode::WriteFileRecord:
            return "WRITE_FILE_RECORD";
        case FunctionCode::MaskWriteRegister:
            return "MASK_WRITE_REGISTER";
        case FunctionCode::ReadConfiguration:
            return "READ_CONFIGURATION";
        case FunctionCode::WriteConfiguration:
            return "WRITE_CONFIGURATION";
        case FunctionCode::ReadSectionDevice:
            return "READ_SECTION_DEVICE";
        case FunctionCode::OwnBind:
            return "OWN_BIND";
        case FunctionCode::BootLoader:
            return "BOOTLOADER";
        default:
            return "UNKNOWN";
    }
}

int BaudIndex(int32_t baud) {
    switch (baud) {
        case 1200:
            return 0;
        case 2400:
            return 1;
        case 4800:
            return 2;
        case 9600:
            return 3;
        case 19200:
            return 4;
        case 38400:
            return 5;
        case 57600:
            return 6;
        default:
            return 7;
    }
}

uint32_t ExchangePause(int32_t baud) {
    static constexpr std::array<uint32_t, 8> kPauseMs = {450, 200, 110, 100, 50, 50, 50, 50};
    return kPauseMs[static_cast<size_t>(BaudIndex(baud))];
}

const TDeviceType DeviceTypes[kDeviceTypeCount] = {
    {0x0001, "Ведущий HOST"},
    {0x0002, "Отладочный пульт BENCH"},
    {0x0003, "Отладочный SLAVE"},
    {0x0110, "Контроллер насосов КН-10"},
    {0x0111, "Контроллер насосов КН-10М"},
    {0x0120, "Регулятор отопления РО-4"},
    {0x0121, "Регулятор отопления РО-4 ГВС"},
    {0x0130, "Модуль ввода МВ-16"},
    {0x0131, "Модуль вывода МУ-8"},
    {0x0140, "Датчик давления ДД-2"},
    {0x0150, "Счетчик тепла СТ-1"},
    {0x0160, "Блок реле БР-6"},
    {0x0170, "Панель оператора ПО-3"},
    {0x0000, "Неизвестное устройство"},
};

const char* DeviceName(uint16_t code) {
    for (int row = 0; row < kDeviceTypeCount - 1; ++row) {
        if (DeviceTypes[row].Code == code) {
            return DeviceTypes[row].Name;
        }
    }
    return DeviceTypes[kDeviceTypeCount - 1].Name;
}
