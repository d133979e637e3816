#include "MbapFraming.h"

namespace {

constexpr size_t kLongestFrameBytes = kMbapHeaderBytes - 1 + kMbapLongestLength;

uint16_t Word(std::string_view bytes, size_t at) {
    return static_cast<uint16_t>((static_cast<uint8_t>(bytes[at]) << 8) |
                                 static_cast<uint8_t>(bytes[at + 1]));
}

void AppendWord(std::string& out, uint16_t value) {
    out.push_back(static_cast<char>(value >> 8));
    out.push_back(static_cast<char>(value & 0xFF));
}

}  // namespace

TMbapParsed ParseMbapFrame(std::string_view bytes) {
    TMbapParsed parsed;
    // The protocol id and the length are judged as soon as their bytes are there.
    if (bytes.size() >= 4 && Word(bytes, 2) != 0) {
        parsed.Result = TMbapParse::Malformed;
        return parsed;
    }
    if (bytes.size() < 6) {
        return parsed;
    }
    const uint16_t length = Word(bytes, 4);
    if (length < kMbapShortestLength || length > kMbapLongestLength) {
        parsed.Result = TMbapParse::Malformed;
        return parsed;
    }
    const size_t frameBytes = kMbapHeaderBytes - 1 + length;
    if (bytes.size() < frameBytes) {
        return parsed;
    }
    parsed.Result = TMbapParse::Request;
    parsed.Consumed = frameBytes;
    parsed.Request.TransactionId = Word(bytes, 0);
    parsed.Request.UnitId = static_cast<uint8_t>(bytes[6]);
    parsed.Request.Pdu = std::string(bytes.substr(kMbapHeaderBytes, frameBytes - kMbapHeaderBytes));
    return parsed;
}

std::string BuildMbapAnswer(uint16_t transactionId, uint8_t unitId, std::string_view pdu) {
    std::string frame;
    frame.reserve(kMbapHeaderBytes + pdu.size());
    AppendWord(frame, transactionId);
    AppendWord(frame, 0);
    AppendWord(frame, static_cast<uint16_t>(pdu.size() + 1));
    frame.push_back(static_cast<char>(unitId));
    frame.append(pdu);
    return frame;
}

std::string BuildMbapException(const TMbapRequest& request, uint8_t exceptionCode) {
    const uint8_t function = request.Pdu.empty() ? 0 : static_cast<uint8_t>(request.Pdu[0]);
    const char pdu[] = {static_cast<char>(function | 0x80), static_cast<char>(exceptionCode)};
    return BuildMbapAnswer(request.TransactionId, request.UnitId, std::string_view(pdu, 2));
}

size_t TMbapStream::Room() const {
    return Broken || Held.size() >= kLongestFrameBytes ? 0 : kLongestFrameBytes - Held.size();
}

void TMbapStream::Append(std::string_view bytes) {
    Held.append(bytes.substr(0, Room()));
}

TMbapParsed TMbapStream::Next() {
    if (Broken) {
        TMbapParsed broken;
        broken.Result = TMbapParse::Malformed;
        return broken;
    }
    TMbapParsed parsed = ParseMbapFrame(Held);
    if (parsed.Result == TMbapParse::Malformed) {
        Broken = true;
        Held.clear();
    } else if (parsed.Result == TMbapParse::Request) {
        Held.erase(0, parsed.Consumed);
    }
    return parsed;
}
