#include "AnswerDecoder.h"

#include <string>

#include "FrameReader.h"
#include "ModbusProtocol.h"

namespace {

// The member, made an object first if the request had sent something else under its name.
Json::Value& ObjectMember(Json::Value& reply, const char* name) {
    Json::Value& member = reply[name];
    if (!member.isObject()) {
        member = Json::Value(Json::objectValue);
    }
    return member;
}

void DecodeRegisters(const TFrameReader& request, const TFrameReader& answer, Json::Value& reply) {
    if (!request.HasDataWord(2) || !request.HasDataWord(4)) {
        return;
    }
    const uint16_t start = request.Word(2);
    const uint16_t count = request.Word(4);
    Json::Value& data = ObjectMember(reply, "data");
    for (uint32_t k = 0; k < count && answer.HasDataWord(kCountedDataAt + 2 * k); ++k) {
        data[std::to_string(static_cast<uint16_t>(start + k))] =
            answer.Word(kCountedDataAt + 2 * k);
    }
}

void DecodeDeviceSection(const TFrameReader& answer, Json::Value& reply) {
    Json::Value& data = ObjectMember(reply, "data");
    for (uint32_t k = 0; k < kDeviceSectionRegisters && answer.HasDataWord(kCountedDataAt + 2 * k);
         ++k) {
        data[std::to_string(k)] = answer.Word(kCountedDataAt + 2 * k);
    }
}

void DecodeFileRecords(std::span<const uint8_t> requestBytes, const TFrameReader& answer,
                       Json::Value& reply) {
    const TFrameReader request(requestBytes);
    if (requestBytes.size() < 3) {
        return;
    }
    int remaining = requestBytes[2];
    // q at each sub-request, p at the registers of its sub-response (behind its length byte
    // and reference type).
    size_t q = kCountedDataAt;
    size_t p = kCountedDataAt + 2;
    for (; remaining >= kFileSubRequestBytes && request.HasDataWord(q + 5);
         remaining -= kFileSubRequestBytes, q += kFileSubRequestBytes) {
        const uint8_t file = static_cast<uint8_t>(request.Word(q + 1) & 0xFF);
        const uint16_t record = request.Word(q + 3);
        const uint16_t length = request.Word(q + 5);
        if (const std::optional<uint16_t> base = RegisterFileBase(file)) {
            // Addresses wrap at 16 bits as the device counts them; a range that wraps still
            // holds length registers, so the sub-responses after it stay in step.
            const uint16_t first = static_cast<uint16_t>(*base + record);
            Json::Value& data = ObjectMember(reply, "data");
            for (uint32_t k = 0; k < length; ++k, p += 2) {
                if (!answer.HasDataWord(p)) {
                    return;
                }
                data[std::to_string(static_cast<uint16_t>(first + k))] = answer.Word(p);
            }
        } else {
            if (file == kEventFile) {
                Json::Value bytes(Json::arrayValue);
                for (size_t k = 0; k < kEventRecordBytes; ++k) {
                    bytes.append(answer.ByteOrZero(p + k));
                }
                ObjectMember(reply, "events_log")[std::to_string(record)] = std::move(bytes);
            }
            p += 2 * size_t{length};
        }
        p += 2;
    }
}

}  // namespace

void DecodeAnswer(std::span<const uint8_t> request, std::span<const uint8_t> answer,
                  Json::Value& reply) {
    if (answer.size() < 2) {
        return;
    }
    const TFrameReader requestReader(request);
    const TFrameReader answerReader(answer);
    switch (answer[1]) {
        case FunctionCode::ReadHoldingRegisters:
        case FunctionCode::ReadInputRegisters:
            DecodeRegisters(requestReader, answerReader, reply);
            break;
        case FunctionCode::ReadSectionDevice:
            DecodeDeviceSection(answerReader, reply);
            break;
        case FunctionCode::ReadFileRecord:
            DecodeFileRecords(request, answerReader, reply);
            break;
        default:
            break;
    }
}

uint16_t DeviceTypeCode(std::span<const uint8_t> answer) {
    const TFrameReader reader(answer);
    // The second register of the section.
    constexpr size_t kDeviceTypeAt = kCountedDataAt + 2;
    return reader.HasDataWord(kDeviceTypeAt) ? reader.Word(kDeviceTypeAt) : 0;
}
