#include "AnswerDecoder.h"

#include <string>

namespace {

constexpr int kEventRecordBytes = 32;
constexpr int kDeviceSectionRegisters = 16;
constexpr int kSubRequestBytes = 7;
constexpr uint8_t kEventFile = 6;

constexpr size_t kCrcBytes = 2;

// A frame read only where it has bytes. Registers are whole words of its data, in front of the
// CRC; single bytes may come from anywhere in the frame.
class TFrameReader {
public:
    explicit TFrameReader(std::span<const uint8_t> bytes) : Bytes(bytes) {}

    bool HasWord(size_t at) const { return at + 1 + kCrcBytes < Bytes.size(); }
    uint16_t Word(size_t at) const {
        return static_cast<uint16_t>((Bytes[at] << 8) | Bytes[at + 1]);
    }
    uint8_t ByteOrZero(size_t at) const { return at < Bytes.size() ? Bytes[at] : 0; }

private:
    std::span<const uint8_t> Bytes;
};

// The member, made an object first if the request had sent something else under its name.
Json::Value& ObjectMember(Json::Value& reply, const char* name) {
    Json::Value& member = reply[name];
    if (!member.isObject()) {
        member = Json::Value(Json::objectValue);
    }
    return member;
}

void DecodeRegisters(const TFrameReader& request, const TFrameReader& answer, Json::Value& reply) {
    if (!request.HasWord(2) || !request.HasWord(4)) {
        return;
    }
    const uint16_t start = request.Word(2);
    const uint16_t count = request.Word(4);
    Json::Value& data = ObjectMember(reply, "data");
    for (uint32_t k = 0; k < count && answer.HasWord(3 + 2 * k); ++k) {
        data[std::to_string(static_cast<uint16_t>(start + k))] = answer.Word(3 + 2 * k);
    }
}

void DecodeDeviceSection(const TFrameReader& answer, Json::Value& reply) {
    Json::Value& data = ObjectMember(reply, "data");
    for (uint32_t k = 0; k < kDeviceSectionRegisters && answer.HasWord(3 + 2 * k); ++k) {
        data[std::to_string(k)] = answer.Word(3 + 2 * k);
    }
}

uint16_t RegisterBase(uint8_t file) {
    switch (file) {
        case 0:
            return 0x0000;
        case 1:
            return 0x1000;
        case 2:
            return 0x2000;
        case 4:
            return 0x4000;
        case 5:
            return 0x8000;
        default:
            return 0;
    }
}

bool IsRegisterFile(uint8_t file) {
    return file <= 2 || file == 4 || file == 5;
}

void DecodeFileRecords(std::span<const uint8_t> requestBytes, const TFrameReader& answer,
                       Json::Value& reply) {
    const TFrameReader request(requestBytes);
    if (requestBytes.size() < 3) {
        return;
    }
    int remaining = requestBytes[2];
    size_t q = 3;
    size_t p = 5;
    for (; remaining >= kSubRequestBytes && request.HasWord(q + 5);
         remaining -= kSubRequestBytes, q += kSubRequestBytes) {
        const uint8_t file = static_cast<uint8_t>(request.Word(q + 1) & 0xFF);
        const uint16_t record = request.Word(q + 3);
        const uint16_t length = request.Word(q + 5);
        if (IsRegisterFile(file)) {
            // Addresses wrap at 16 bits as the device counts them; a range that wraps still
            // holds length registers, so the sub-responses after it stay in step.
            const uint16_t first = static_cast<uint16_t>(RegisterBase(file) + record);
            Json::Value& data = ObjectMember(reply, "data");
            for (uint32_t k = 0; k < length; ++k, p += 2) {
                if (!answer.HasWord(p)) {
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
        case 3:
        case 4:
            DecodeRegisters(requestReader, answerReader, reply);
            break;
        case kReadSectionDevice:
            DecodeDeviceSection(answerReader, reply);
            break;
        case 20:
            DecodeFileRecords(request, answerReader, reply);
            break;
        default:
            break;
    }
}

uint16_t DeviceTypeCode(std::span<const uint8_t> answer) {
    const TFrameReader reader(answer);
    return reader.HasWord(5) ? reader.Word(5) : 0;
}
