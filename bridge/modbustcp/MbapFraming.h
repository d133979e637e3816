#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The exception codes a Modbus TCP client gets from the bridge itself, beside the slave's own.
namespace MbapException {
// A write to a port that the bridge only reads.
inline constexpr uint8_t IllegalFunction = 0x01;
// A fault of the bridge itself while it served the request.
inline constexpr uint8_t DeviceFailure = 0x04;
// The line's queue is full.
inline constexpr uint8_t PathUnavailable = 0x0A;
// The slave did not answer, or its request could not go out.
inline constexpr uint8_t TargetFailed = 0x0B;
}  // namespace MbapException

// One Modbus TCP request as its header framed it.
struct TMbapRequest {
    uint16_t TransactionId = 0;
    uint8_t UnitId = 0;
    // The function code and its data: 1 to 253 bytes.
    std::string Pdu;
};

enum class TMbapParse {
    // Not a whole frame yet.
    NeedMore,
    Request,
    // A protocol id other than 0 or a length outside 2..254: the stream cannot be trusted past
    // it, and the connection closes.
    Malformed,
};

struct TMbapParsed {
    TMbapParse Result = TMbapParse::NeedMore;
    // How many bytes of the input the request took (only for Request).
    size_t Consumed = 0;
    TMbapRequest Request;
};

inline constexpr size_t kMbapHeaderBytes = 7;
// The length field counts the unit id and the PDU.
inline constexpr uint16_t kMbapShortestLength = 2;
inline constexpr uint16_t kMbapLongestLength = 254;

// The first frame at the start of bytes. A header that is already wrong is Malformed before its
// body arrives, so a client cannot hold the connection open with a bad length.
TMbapParsed ParseMbapFrame(std::string_view bytes);

// The answer frame: the request's transaction id, protocol id 0, the unit id and the PDU (the
// slave's answer without its address and CRC).
std::string BuildMbapAnswer(uint16_t transactionId, uint8_t unitId, std::string_view pdu);

// An exception answer to the request's function: the function code with its high bit set, then
// the code.
std::string BuildMbapException(const TMbapRequest& request, uint8_t exceptionCode);

// The bytes of one connection until each request is whole. Holds at most one frame's worth past
// the requests already taken, so a client cannot make it grow.
class TMbapStream {
public:
    // Room for more bytes; the caller reads no more than this.
    size_t Room() const;
    void Append(std::string_view bytes);
    // The next whole request, out of the stream; once Malformed, always Malformed.
    TMbapParsed Next();
    bool Empty() const { return Held.empty(); }

private:
    std::string Held;
    bool Broken = false;
};
