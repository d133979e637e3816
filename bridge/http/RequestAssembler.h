#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "HttpFraming.h"

// Holds the bytes of one request as TCP delivers them, up to a limit, and tells when the header
// block has ended and as much body has arrived as its Content-Length names.
class TRequestAssembler {
public:
    explicit TRequestAssembler(size_t limit) : Limit(limit) {}

    // Takes as many bytes as the limit leaves room for; returns how many it took.
    size_t Append(std::string_view bytes);
    bool Complete() const;
    bool Full() const { return Held.size() >= Limit; }
    bool Empty() const { return Held.empty(); }
    size_t Room() const { return Limit - Held.size(); }
    std::string_view Bytes() const { return Held; }
    // The bytes held, parsed with the empty line that Append found: the one parse of a request.
    THttpRequest Parsed() const;
    // Forgets the bytes held and starts afresh.
    void Clear();

private:
    size_t Limit;
    std::string Held;
    std::optional<size_t> BodyStart;
    std::optional<size_t> ContentLength;
};
