#include "ModbusExchange.h"

#include <span>

#include "Comp32.h"
#include "ErrorText.h"
#include "LogLine.h"
#include "Lookups.h"
#include "OpenFailure.h"
#include "Ravo32.h"

namespace {

// RTU's broadcast address: every slave acts, none answers.
constexpr uint8_t kBroadcastAddress = 0;

std::string FrameText(const uint8_t* frame, int length, bool hex) {
    std::string text = FunctionName(length > 1 ? frame[1] : 0);
    if (hex) {
        text += ' ';
        text += TComp32::ToHex(frame, length);
    }
    return text;
}

uint8_t FunctionOf(const TMbapRequest& request) {
    return request.Pdu.empty() ? 0 : static_cast<uint8_t>(request.Pdu[0]);
}

}  // namespace

std::optional<TModbusRefusal> ModbusPortRefusal(const TMbapRequest& request, uint8_t comPort,
                                                const TPortPolicy& policy) {
    const std::string port = "COM" + std::to_string(comPort);
    if (policy.DenyUnmapped && !policy.Mapped.test(comPort)) {
        return TModbusRefusal{port + " нет в разделе Ports", MbapException::PathUnavailable};
    }
    const uint8_t function = FunctionOf(request);
    if (policy.ReadOnly.test(comPort) && !ReadingFunction(function)) {
        return TModbusRefusal{port + " только для чтения, функция " + std::to_string(function),
                              MbapException::IllegalFunction};
    }
    return std::nullopt;
}

TSlaveId ModbusSlave(const TMbapRequest& request, const TModbusTcpSettings& line) {
    return {line.Com, request.UnitId};
}

std::optional<std::string> RunModbusExchange(const TMbapRequest& request,
                                             const TModbusTcpSettings& line,
                                             const std::string& peer, TRavo32& link,
                                             TBridgeHost& host, const TProcedureOptions& options) {
    const bool broadcast = request.UnitId == kBroadcastAddress;
    // The tray shows a master's requests as it shows the pages'.
    host.RequestBegun();
    const auto ended = [&host](uint8_t code, std::string text) {
        host.RequestEnded({ShownErrorCode(code), std::move(text)});
    };
    if (!host.ViewError()) {
        host.LogInfo("Modbus TCP от " + peer + ": транзакция " +
                     std::to_string(request.TransactionId) + ", адрес " +
                     std::to_string(request.UnitId) + ", COM" + std::to_string(line.Com));
    }
    link.SetEcho(line.CtrlEcho);
    link.SetControl(line.CtrlDtr, line.CtrlRts, line.CtrlInvert);
    if (!link.Connect(line.Com, request.UnitId, line.Baud)) {
        host.LogError(OpenFailureLine(line.Com, link.PortName, link.LastOpenFailure()));
        ended(link.GetError(), ErrorText(ShownErrorCode(link.GetError())));
        return BuildMbapException(request, MbapException::PathUnavailable);
    }
    link.Frame.FrameBegin();
    for (const char byte : request.Pdu) {
        link.Frame.FrameAdd(static_cast<uint8_t>(byte));
    }
    link.Frame.FrameAddCrc();
    if (!host.ViewError()) {
        host.LogSend(FrameText(link.Frame.FrameBuf, link.Frame.FrameLen, host.ViewHex()));
    }
    const int32_t timeout = broadcast ? 0 : EffectiveTimeoutMs(line.TimeoutMs);
    TLineUse use{.Slave = ModbusSlave(request, line),
                 .Answered = std::nullopt,
                 .PauseOwedMs = ExchangePause(line.Baud)};
    std::optional<std::string> answer;
    if (!link.Transact(timeout)) {
        if (link.StopRequested()) {
            host.RequestEnded({});
            return std::nullopt;
        }
        if (link.GetError() == ErrorCode::AnswerTimeout) {
            use.Answered = false;
        }
        const std::string text = ErrorText(ShownErrorCode(link.GetError()));
        host.LogError("Modbus TCP от " + peer + ": " + text + ", ответ исключением 11");
        ended(link.GetError(), text);
        answer = BuildMbapException(request, MbapException::TargetFailed);
    } else if (broadcast) {
        ended(ErrorCode::None, {});
    } else {
        use.Answered = true;
        const uint8_t* answerBytes = nullptr;
        int32_t answerLength = 0;
        const uint8_t answerCode = link.CheckAnswer(answerBytes, answerLength);
        if (!host.ViewError()) {
            host.LogReceive(FrameText(answerBytes, answerLength, host.ViewHex()));
        }
        // The slave's own exception goes back as it came; a frame that does not answer the
        // request (another function, too short) is the slave failing to answer.
        const std::span<const uint8_t> frame(answerBytes, static_cast<size_t>(answerLength));
        const bool exception = frame.size() >= 5 && (frame[1] & 0x80) != 0;
        if ((answerCode == ErrorCode::None || exception) && frame.size() >= 4) {
            answer = BuildMbapAnswer(
                request.TransactionId, request.UnitId,
                std::string(reinterpret_cast<const char*>(frame.data() + 1), frame.size() - 3));
            ended(answerCode,
                  answerCode == ErrorCode::None ? std::string{} : AnswerErrorText(answerCode));
        } else {
            const std::string text = ErrorText(ShownErrorCode(answerCode));
            host.LogError("Modbus TCP от " + peer + ": " + text + ", ответ исключением 11");
            ended(answerCode, text);
            answer = BuildMbapException(request, MbapException::TargetFailed);
        }
    }
    // The tool has its answer at once; the pause the baud rate asks for is owed to whichever
    // exchange comes next on the line.
    if (options.LineUsed) {
        options.LineUsed(use);
    }
    if (!host.ViewError()) {
        host.LogInfo(std::string(LogText::kSeparator));
    }
    return answer;
}
