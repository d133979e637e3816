#include "RequestAssembler.h"

#include <charconv>

#include "AsciiCase.h"

namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kContentLength = "content-length:";

// The value of the first Content-Length field of the header block; none when it is absent or
// not a number, in which case the request ends with its header block.
std::optional<size_t> FindContentLength(std::string_view header) {
    size_t lineStart = 0;
    while (lineStart < header.size()) {
        const size_t lineEnd = std::min(header.find("\r\n", lineStart), header.size());
        std::string_view line = header.substr(lineStart, lineEnd - lineStart);
        if (StartsWithIgnoringAsciiCase(line, kContentLength)) {
            line.remove_prefix(kContentLength.size());
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
                line.remove_prefix(1);
            }
            size_t length = 0;
            const auto [end, error] =
                std::from_chars(line.data(), line.data() + line.size(), length);
            if (error == std::errc{} && end != line.data()) {
                return length;
            }
            return std::nullopt;
        }
        lineStart = lineEnd + 2;
    }
    return std::nullopt;
}

}  // namespace

size_t TRequestAssembler::Append(std::string_view bytes) {
    const size_t taken = std::min(bytes.size(), Room());
    const size_t searchFrom = Held.size() < kHeaderEnd.size() ? 0 : Held.size() - 3;
    Held.append(bytes.substr(0, taken));
    if (!BodyStart) {
        const size_t found = Held.find(kHeaderEnd, searchFrom);
        if (found != std::string::npos) {
            BodyStart = found + kHeaderEnd.size();
            ContentLength = FindContentLength(std::string_view(Held).substr(0, found));
        }
    }
    return taken;
}

bool TRequestAssembler::Complete() const {
    if (!BodyStart) {
        return false;
    }
    return !ContentLength || Held.size() - *BodyStart >= *ContentLength;
}

THttpRequest TRequestAssembler::Parsed() const {
    return ParseHttpRequest(Held, BodyStart ? *BodyStart - kHeaderEnd.size() : std::string::npos);
}

void TRequestAssembler::Clear() {
    Held.clear();
    BodyStart.reset();
    ContentLength.reset();
}
