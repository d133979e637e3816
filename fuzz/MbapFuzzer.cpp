// The Modbus TCP framing: a connection's bytes, fed whole and in pieces of the fuzzer's choice.
//
// Input: one byte, the piece length (0 reads as 1), then the stream's bytes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "MbapFraming.h"

namespace {

struct TTaken {
    std::vector<std::string> Frames;
    bool Malformed = false;
};

// Every request the whole stream holds, one parse after another, until it breaks or runs out.
TTaken ParseWhole(std::string_view stream) {
    TTaken taken;
    for (;;) {
        const TMbapParsed parsed = ParseMbapFrame(stream);
        if (parsed.Result == TMbapParse::Malformed) {
            taken.Malformed = true;
            return taken;
        }
        if (parsed.Result == TMbapParse::NeedMore) {
            return taken;
        }
        const TMbapRequest& request = parsed.Request;
        FUZZ_CHECK(parsed.Consumed >= kMbapHeaderBytes + 1 && parsed.Consumed <= stream.size());
        FUZZ_CHECK(!request.Pdu.empty() && request.Pdu.size() <= kMbapLongestLength - 1);
        // The request's bytes are exactly the frame an answer of the same fields makes.
        const std::string frame =
            BuildMbapAnswer(request.TransactionId, request.UnitId, request.Pdu);
        FUZZ_CHECK(frame == stream.substr(0, parsed.Consumed));
        const std::string exception = BuildMbapException(request, MbapException::TargetFailed);
        FUZZ_CHECK(exception.size() == kMbapHeaderBytes + 2);
        FUZZ_CHECK(static_cast<uint8_t>(exception[7]) ==
                   (static_cast<uint8_t>(request.Pdu[0]) | 0x80));
        taken.Frames.push_back(frame);
        stream.remove_prefix(parsed.Consumed);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const size_t piece = data[0] == 0 ? 1 : data[0];
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
    const TTaken whole = ParseWhole(stream);

    // In pieces, as the network delivers them: the same requests in the same order.
    TMbapStream connection;
    TTaken pieces;
    size_t at = 0;
    while (!pieces.Malformed) {
        const size_t room = connection.Room();
        FUZZ_CHECK(room > 0);
        const size_t take = std::min({piece, room, stream.size() - at});
        connection.Append(stream.substr(at, take));
        at += take;
        for (;;) {
            const TMbapParsed parsed = connection.Next();
            if (parsed.Result == TMbapParse::Malformed) {
                pieces.Malformed = true;
                break;
            }
            if (parsed.Result == TMbapParse::NeedMore) {
                break;
            }
            pieces.Frames.push_back(BuildMbapAnswer(parsed.Request.TransactionId,
                                                    parsed.Request.UnitId, parsed.Request.Pdu));
        }
        if (at == stream.size()) {
            break;
        }
    }
    FUZZ_CHECK(pieces.Frames == whole.Frames);
    FUZZ_CHECK(pieces.Malformed == whole.Malformed);
    return 0;
}
