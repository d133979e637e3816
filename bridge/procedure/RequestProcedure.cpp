#include "RequestProcedure.h"

#include <json/reader.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <span>

#include "AnswerDecoder.h"
#include "LogLine.h"
#include "Lookups.h"
#include "ModbusProtocol.h"
#include "OpenFailure.h"
#include "PortPolicy.h"
#include "Ravo32.h"
#include "RequestErrors.h"

namespace {

struct TParameterRow {
    const char* Key;
    char Type;
    uint8_t Code;
};

constexpr TParameterRow ParameterTable[] = {
    {"company_id", 'i', ErrorCode::MissingCompanyId},
    {"device_id", 'i', ErrorCode::MissingDeviceId},
    {"slave_addr", 'i', ErrorCode::MissingSlaveAddr},
    {"baud_rate", 'i', ErrorCode::MissingBaudRate},
    {"com_port", 'i', ErrorCode::MissingComPort},
    {"poll_ms", 'i', ErrorCode::MissingPollMs},
    {"timeout_ms", 'i', ErrorCode::MissingTimeoutMs},
    {"ctrl_echo", 'b', ErrorCode::MissingCtrlEcho},
    {"ctrl_dtr", 'b', ErrorCode::MissingCtrlDtr},
    {"ctrl_rts", 'b', ErrorCode::MissingCtrlRts},
    {"ctrl_invert", 'b', ErrorCode::MissingCtrlInvert},
    {"rand_string", 's', ErrorCode::MissingRandString},
    {"pdu", 'o', ErrorCode::MissingPdu},
};

constexpr int32_t kLongestTimeoutMs = 60000;
constexpr int32_t kShortestTimeoutMs = 250;
// Slave address, PDU and CRC share the transmit buffer.
constexpr Json::ArrayIndex kLongestPdu = TRavo32::kTxSize - 3;

// A JSON number written without fraction or exponent; 100.0 and 1e2 are not integers here,
// although the library would convert them.
bool IsIntegerNumber(const Json::Value& value) {
    return value.type() == Json::intValue || value.type() == Json::uintValue;
}

bool IsInt32(const Json::Value& value) {
    return IsIntegerNumber(value) && value.isInt();
}

bool IsEmptyParameter(const Json::Value* value) {
    return value == nullptr || value->isNull() ||
           ((value->isArray() || value->isObject()) && value->empty());
}

bool HasType(const Json::Value& value, char type, bool& known) {
    known = true;
    switch (type) {
        case 'b':
            return value.isBool();
        case 'i':
            return IsInt32(value);
        case 'o':
            return value.isObject();
        case 's':
            return value.isString();
        default:
            known = false;
            return false;
    }
}

// The strict reader of the old library interface: no comments, the root an object or an array,
// and text after the root ignored (form fields that follow the JSON).
std::unique_ptr<Json::CharReader> MakeStrictReader() {
    Json::CharReaderBuilder builder;
    builder["allowComments"] = false;
    builder["allowTrailingCommas"] = false;
    builder["strictRoot"] = true;
    builder["allowDroppedNullPlaceholders"] = false;
    builder["allowNumericKeys"] = false;
    builder["allowSingleQuotes"] = false;
    builder["failIfExtra"] = false;
    builder["rejectDupKeys"] = false;
    builder["allowSpecialFloats"] = false;
    builder["skipBom"] = false;
    return std::unique_ptr<Json::CharReader>(builder.newCharReader());
}

// The parsed request, or the members read before a failure; a root that is not an object
// cannot carry the reply, so it leaves the reply empty.
bool ParseRequest(std::string_view text, Json::Value& reply) {
    Json::Value root;
    bool parsed = false;
    try {
        parsed = MakeStrictReader()->parse(text.data(), text.data() + text.size(), &root, nullptr);
    } catch (const std::exception&) {
        // The reader throws when nesting goes beyond its depth limit; what it read by then is
        // deeper than any reader would take back, so none of it is echoed.
        root = Json::Value();
    }
    reply = root.isObject() ? std::move(root) : Json::Value();
    return parsed && reply.isObject();
}

std::string FormatLine(const char* format, auto... values) {
    const int length = std::snprintf(nullptr, 0, format, values...);
    std::string text(static_cast<size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, values...);
    return text;
}

std::string FrameLogText(uint8_t functionCode, const uint8_t* frame, int length, bool hex) {
    std::string text = FunctionName(functionCode);
    if (hex) {
        text += ' ';
        text += TComp32::ToHex(frame, length);
    }
    return text;
}

void BuildRequestFrame(const Json::Value& member, TFrameBuilder& frame) {
    frame.FrameBegin();
    if (member.isArray() || member.isObject()) {
        for (const Json::Value& byte : member) {
            frame.FrameAdd(FrameByte(byte));
        }
    }
    frame.FrameAddCrc();
}

void RefusePort(Json::Value& reply, const std::string& reason, TBridgeHost& host,
                const TProcedureOptions& options) {
    const std::string text = ErrorText(ErrorCode::PortRefused);
    if (options.PortRefused) {
        options.PortRefused(reason);
    } else {
        host.LogError(FormatLine("Error[%d] - %s: %s", int{ErrorCode::PortRefused}, text.c_str(),
                                 reason.c_str()));
    }
    reply["status"] = "error";
    reply["error_code"] = int{ErrorCode::PortRefused};
    reply["error_text"] = text;
}

}  // namespace

uint8_t FrameByte(const Json::Value& integer) {
    if (integer.type() == Json::uintValue) {
        return static_cast<uint8_t>(integer.asLargestUInt());
    }
    return static_cast<uint8_t>(integer.asLargestInt());
}

uint8_t CheckParameters(const Json::Value& request) {
    if (!request.isObject()) {
        return ErrorCode::JsonParse;
    }
    for (const TParameterRow& row : ParameterTable) {
        const Json::Value* value = request.find(row.Key, row.Key + std::strlen(row.Key));
        if (IsEmptyParameter(value)) {
            return row.Code;
        }
        bool known = true;
        const bool fits = HasType(*value, row.Type, known);
        if (!known) {
            return ErrorCode::UnknownParameterType;
        }
        if (!fits) {
            return row.Code;
        }
    }
    return ErrorCode::None;
}

uint8_t CheckPduMembers(const Json::Value& pdu) {
    for (const Json::Value& member : pdu) {
        if (member.isNumeric()) {
            continue;
        }
        if (!(member.isArray() || member.isObject()) || member.size() > kLongestPdu) {
            return ErrorCode::MissingPdu;
        }
        for (const Json::Value& byte : member) {
            if (!IsIntegerNumber(byte)) {
                return ErrorCode::MissingPdu;
            }
        }
    }
    return ErrorCode::None;
}

std::string ErrorLine(int shownCode, const std::string& text) {
    return FormatLine("Error[%d] - %s", shownCode, text.c_str());
}

void SetErrorReply(Json::Value& reply, uint8_t code, TBridgeHost& host) {
    host.LogError(ErrorLine(ShownErrorCode(code), ErrorText(ShownErrorCode(code))));
    SetErrorMembers(reply, ShownErrorCode(code), ErrorText(ShownErrorCode(code)));
}

void SetErrorReply(Json::Value& reply, uint8_t code, const std::string& text, TBridgeHost& host) {
    const int signedCode = static_cast<int8_t>(code);
    host.LogError(ErrorLine(signedCode, text));
    SetErrorMembers(reply, signedCode, text);
}

void SetErrorMembers(Json::Value& reply, int shownCode, const std::string& text) {
    reply["status"] = "error";
    reply["error_code"] = shownCode;
    reply["error_text"] = text;
}

int32_t EffectiveTimeoutMs(int32_t requested) {
    if (requested < 0 || requested > kLongestTimeoutMs) {
        return kLongestTimeoutMs;
    }
    if (requested > 0 && requested < kShortestTimeoutMs) {
        return kShortestTimeoutMs;
    }
    return requested;
}

TProcedureEnd RunRequestProcedure(std::string_view jsonText, Json::Value& reply, TRavo32& link,
                                  TBridgeHost& host, const TProcedureOptions& options) {
    if (!ParseRequest(jsonText, reply)) {
        SetErrorReply(reply, ErrorCode::JsonParse, host);
        return TProcedureEnd::Completed;
    }
    const Json::Value request = reply;
    uint8_t code = CheckParameters(request);
    if (code == ErrorCode::None) {
        code = CheckPduMembers(request["pdu"]);
    }
    if (code != ErrorCode::None) {
        SetErrorReply(reply, code, host);
        return TProcedureEnd::Completed;
    }

    const auto comPort = static_cast<uint8_t>(request["com_port"].asInt());
    if (const std::string refusal = PortPolicyRefusal(comPort, request["pdu"], options.Ports);
        !refusal.empty()) {
        RefusePort(reply, refusal, host, options);
        return TProcedureEnd::Completed;
    }
    const auto slave = static_cast<uint8_t>(request["slave_addr"].asInt());
    const int32_t baud = request["baud_rate"].asInt();
    const int32_t requestedTimeout = request["timeout_ms"].asInt();
    const bool echo = request["ctrl_echo"].asBool();
    const bool dtr = request["ctrl_dtr"].asBool();
    const bool rts = request["ctrl_rts"].asBool();
    const bool invert = request["ctrl_invert"].asBool();

    link.SetEcho(echo);
    link.SetControl(dtr, rts, invert);
    if (!link.Connect(comPort, slave, baud)) {
        SetErrorReply(reply, ErrorCode::PortOpen, host);
        // The reply's text is the table's; the log says which device and why.
        host.LogError(OpenFailureLine(comPort, link.PortName, link.LastOpenFailure()));
        return TProcedureEnd::Completed;
    }
    reply["status"] = "ok";
    reply["error_code"] = 0;
    reply["error_text"] = "";

    if (!host.ViewError() && host.ViewSet()) {
        host.LogInfo(FormatLine(
            "Адрес: %d, Скорость: %d бод, Порт: COM%d, Частота: %d мс, Таймаут: %d мс, ECHO: %d, "
            "DTR: %d, RTS: %d, Инвертирование: %d",
            int{slave}, baud, int{comPort}, request["poll_ms"].asInt(), requestedTimeout, int{echo},
            int{dtr}, int{rts}, int{invert}));
    }

    const int32_t timeout = EffectiveTimeoutMs(requestedTimeout);
    const Json::Value& pdu = request["pdu"];
    std::optional<TLineUse> use;
    for (const Json::Value& member : pdu) {
        // Until the pause after it is made, the exchange owes it.
        use = TLineUse{.Slave = {comPort, slave},
                       .Answered = std::nullopt,
                       .PauseOwedMs = ExchangePause(baud)};
        BuildRequestFrame(member, link.Frame);
        const std::span<const uint8_t> frame(link.Frame.FrameBuf,
                                             static_cast<size_t>(link.Frame.FrameLen));
        if (!host.ViewError()) {
            host.LogSend(FrameLogText(frame[1], frame.data(), link.Frame.FrameLen, host.ViewHex()));
        }
        if (!link.Transact(timeout)) {
            if (link.StopRequested()) {
                return TProcedureEnd::Stopped;
            }
            if (link.GetError() == ErrorCode::AnswerTimeout) {
                use->Answered = false;
            }
            SetErrorReply(reply, link.GetError(), host);
            break;
        }
        if (timeout == 0) {
            break;
        }
        use->Answered = true;
        const uint8_t* answerBytes = nullptr;
        int32_t answerLength = 0;
        const uint8_t answerCode = link.CheckAnswer(answerBytes, answerLength);
        const std::span<const uint8_t> answer(answerBytes, static_cast<size_t>(answerLength));
        if (!host.ViewError()) {
            const uint8_t function = answer.size() > 1 ? answer[1] : 0;
            host.LogReceive(FrameLogText(function, answer.data(), answerLength, host.ViewHex()));
        }
        if (answerCode != ErrorCode::None) {
            SetErrorReply(reply, answerCode, AnswerErrorText(answerCode), host);
            break;
        }
        DecodeAnswer(frame, answer, reply);
        if (answer.size() > 1 && answer[1] == FunctionCode::ReadSectionDevice) {
            host.ShowLinkStatus(comPort, slave, DeviceTypeCode(answer), baud);
        }
        if (options.PauseAfterExchange && !link.Pause(ExchangePause(baud))) {
            return TProcedureEnd::Stopped;
        }
        use->PauseOwedMs = 0;
    }
    if (use && options.LineUsed) {
        options.LineUsed(*use);
    }
    if (!host.ViewError()) {
        host.LogInfo(std::string(LogText::kSeparator));
    }
    return TProcedureEnd::Completed;
}

std::optional<TSlaveId> RequestSlave(std::string_view jsonText) {
    Json::Value request;
    if (!ParseRequest(jsonText, request) || CheckParameters(request) != ErrorCode::None) {
        return std::nullopt;
    }
    return TSlaveId{static_cast<uint8_t>(request["com_port"].asInt()),
                    static_cast<uint8_t>(request["slave_addr"].asInt())};
}

Json::Value UnsentRequestReply(std::string_view jsonText, uint8_t code) {
    Json::Value reply;
    // As far as the text parses, as the procedure's own error replies have it.
    ParseRequest(jsonText, reply);
    SetErrorMembers(reply, ShownErrorCode(code), ErrorText(ShownErrorCode(code)));
    return reply;
}
