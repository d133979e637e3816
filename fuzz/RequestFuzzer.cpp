// The whole request road: raw HTTP bytes in, response bytes out, over a scripted line.
//
// Input: one byte of options (bit 0 errors only, bit 1 connection parameters, bit 2 hex; the
// access settings: bit 3 Listen=any, bits 4-5 Origins any, list, ask, bit 6 a key, bit 7 the
// port policy), two bytes (big-endian) with the length of the HTTP part, the HTTP bytes, then
// the line's answer as chunks (see QueueChunks). A request goes through the server's access gate,
// and to the request road only when the gate lets it and its framing is sound; the gate answers a
// framing error itself with the request road's bytes. A GET of the bridge's own page takes the
// page road instead: the gate answers it after the Host check alone, busy or not, with fixed bytes;
// anything else waits while a request is served.

#include <json/reader.h>
#include <json/value.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "AccessCheck.h"
#include "AccessGate.h"
#include "AccessSettings.h"
#include "BridgeHost.h"
#include "DemoPageFiles.h"
#include "DemoPages.h"
#include "FakeSerialIo.h"
#include "FuzzInput.h"
#include "HttpFraming.h"
#include "Ravo32.h"
#include "RequestAssembler.h"
#include "RequestErrors.h"
#include "RequestWorker.h"
#include "Utf8.h"

namespace {

// Counts the calls so that the compiler keeps the texts being built; nothing else is kept.
class TCountingHost final : public TBridgeHost {
public:
    explicit TCountingHost(uint8_t options) : Options(options) {}

    void LogDate() override { Count({}); }
    void LogInfo(std::string text) override { Count(text); }
    void LogError(std::string text) override { Count(text); }
    void LogNotice(std::string text) override { Count(text); }
    void LogSend(std::string text) override { Count(text); }
    void LogReceive(std::string text) override { Count(text); }
    void ShowLinkStatus(uint8_t, uint8_t, uint16_t, int32_t) override { ++Statuses; }

    bool ViewError() const override { return (Options & 1U) != 0; }
    bool ViewSet() const override { return (Options & 2U) != 0; }
    bool ViewHex() const override { return (Options & 4U) != 0; }

    size_t Lines = 0;
    size_t Bytes = 0;
    size_t Statuses = 0;

private:
    void Count(const std::string& text) {
        ++Lines;
        Bytes += text.size();
    }

    uint8_t Options;
};

constexpr std::string_view kStatusLine = "HTTP/1.1 200 OK\r\n";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kLengthField = "\r\nContent-Length: ";

// The Content-Length value, or none when the field is missing or not a plain decimal number.
std::optional<size_t> ContentLength(std::string_view header) {
    const size_t field = header.find(kLengthField);
    if (field == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view value = header.substr(field + kLengthField.size());
    value = value.substr(0, value.find("\r\n"));
    if (value.empty() || value.size() > 9) {
        return std::nullopt;
    }
    size_t length = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        length = length * 10 + static_cast<size_t>(c - '0');
    }
    return length;
}

// Checks the reply body; its error code.
int CheckBody(std::string_view body) {
    FUZZ_CHECK(IsValidUtf8(body));

    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value reply;
    bool parsed = false;
    try {
        parsed = reader->parse(body.data(), body.data() + body.size(), &reply, nullptr);
    } catch (const std::exception&) {
        // The reader throws past its nesting limit, which the request's own reader shares.
        parsed = false;
    }
    FUZZ_CHECK(parsed);
    FUZZ_CHECK(reply.isObject());

    const Json::Value& status = reply["status"];
    const Json::Value& code = reply["error_code"];
    const Json::Value& text = reply["error_text"];
    FUZZ_CHECK(status.isString());
    FUZZ_CHECK(code.isInt() && (code.type() == Json::intValue || code.type() == Json::uintValue));
    FUZZ_CHECK(text.isString());
    FUZZ_CHECK(status.asString() == "ok" || status.asString() == "error");
    // Error codes travel as signed bytes.
    FUZZ_CHECK(code.asInt() >= -128 && code.asInt() <= 127);
    if (status.asString() == "ok") {
        FUZZ_CHECK(code.asInt() == 0);
        FUZZ_CHECK(text.asString().empty());
    } else {
        // A device's exception code among the bridge's later codes reads as an unknown one.
        FUZZ_CHECK(text.asString() == ErrorText(static_cast<int8_t>(code.asInt())) ||
                   text.asString() == AnswerErrorText(static_cast<uint8_t>(code.asInt())));
    }
    return code.asInt();
}

int CheckResponse(std::string_view response) {
    FUZZ_CHECK(response.starts_with(kStatusLine));
    const size_t headerEnd = response.find(kHeaderEnd);
    FUZZ_CHECK(headerEnd != std::string_view::npos);
    const std::string_view header = response.substr(0, headerEnd + 2);
    const std::string_view rest = response.substr(headerEnd + kHeaderEnd.size());

    const std::optional<size_t> length = ContentLength(header);
    FUZZ_CHECK(length.has_value());
    // The body is followed by exactly one CR LF that Content-Length leaves out.
    FUZZ_CHECK(rest.size() == *length + 2);
    FUZZ_CHECK(rest.ends_with("\r\n"));
    return CheckBody(rest.substr(0, *length));
}

TAccessSettings AccessFromOptions(uint8_t options) {
    TAccessSettings access;
    access.Listen = (options & 0x08U) != 0 ? TListenScope::Any : TListenScope::Loopback;
    const unsigned origins = (options >> 4) & 3U;
    access.Origins = origins == 1   ? TOriginMode::List
                     : origins >= 2 ? TOriginMode::Ask
                                    : TOriginMode::Any;
    access.OriginDecisions = {
        {"https://scada.example", true}, {"null", true}, {"https://old.example", false}};
    access.AllowedHosts = {"scada.local"};
    if ((options & 0x40U) != 0) {
        access.Key = "k 1+&x";
    }
    if ((options & 0x80U) != 0) {
        access.Ports.DenyUnmapped = true;
        access.Ports.Mapped.set(1);
        access.Ports.Mapped.set(2);
        access.Ports.ReadOnly.set(2);
    }
    return access;
}

const TLocalNames kLocal{19284, "plant-pc", {"127.0.0.1", "::1", "192.168.1.20", "fe80::1"}};

// The gate's lines are fit for the log.
void CheckLines(const std::vector<TLogEntry>& lines) {
    for (const TLogEntry& line : lines) {
        FUZZ_CHECK(IsValidUtf8(line.Text));
        for (const char c : line.Text) {
            FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
        }
    }
}

// A wider listening scope never refuses a Host that the narrower one lets through, and a key
// that is asked for is never let through without one.
void CheckVerdict(std::string_view received, const TAccessSettings& access,
                  const TAccessVerdict& verdict) {
    if (verdict.HasHost && access.Listen == TListenScope::Loopback &&
        HostAllowed(verdict.Host, access, kLocal)) {
        TAccessSettings wider = access;
        wider.Listen = TListenScope::Any;
        FUZZ_CHECK(HostAllowed(verdict.Host, wider, kLocal));
    }
    if (!access.Key.empty() && verdict.Refusal == TRefusal::None) {
        const size_t headerEnd = received.find("\r\n\r\n");
        FUZZ_CHECK(headerEnd != std::string_view::npos);
        FUZZ_CHECK(received.find("key=", headerEnd) != std::string_view::npos);
    }
}

// The page's answer: only to a GET of /demo or below, a sound response with the page's header
// block, a file's bytes or one fixed response, nothing of the request in it.
void CheckDemoPage(std::string_view received) {
    static const std::string notFound = AnswerDemoPage("GET /demo/- HTTP/1.1\r\n").Response;
    static const std::string redirect = AnswerDemoPage("GET /demo HTTP/1.1\r\n").Response;
    const TDemoPageAnswer answer = AnswerDemoPage(received);
    const std::optional<std::string_view> target = GetRequestTarget(received);
    const std::string_view path = target ? target->substr(0, target->find('?')) : "";
    if (answer.Kind == TDemoPageKind::NotOurs) {
        FUZZ_CHECK(answer.Response.empty());
        FUZZ_CHECK(path != "/demo" && !path.starts_with("/demo/"));
        return;
    }
    FUZZ_CHECK(received.starts_with("GET /demo"));
    const std::string_view response = answer.Response;
    const size_t headerEnd = response.find(kHeaderEnd);
    FUZZ_CHECK(headerEnd != std::string_view::npos);
    const std::string_view header = response.substr(0, headerEnd + 2);
    const std::string_view body = response.substr(headerEnd + kHeaderEnd.size());
    FUZZ_CHECK(ContentLength(header) == body.size());
    FUZZ_CHECK(header.find("\r\nContent-Security-Policy: default-src 'none';") !=
               std::string_view::npos);
    FUZZ_CHECK(header.find("Access-Control-Allow-Origin") == std::string_view::npos);
    switch (answer.Kind) {
        case TDemoPageKind::File: {
            FUZZ_CHECK(header.starts_with("HTTP/1.1 200 OK\r\n"));
            bool known = false;
            for (const TEmbeddedFile& file : DemoPageFiles()) {
                known = known || body == file.Bytes;
            }
            FUZZ_CHECK(known);
            break;
        }
        case TDemoPageKind::NotFound:
            FUZZ_CHECK(response == notFound);
            break;
        case TDemoPageKind::Redirect:
            FUZZ_CHECK(path == "/demo" && response == redirect);
            break;
        case TDemoPageKind::NotOurs:
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TFuzzInput input(data, size);
    const uint8_t viewOptions = input.Byte();
    const std::span<const uint8_t> http = input.Take(input.Word());

    auto io = std::make_unique<TFakeSerialIo>();
    TFakeSerialIo* const line = io.get();
    QueueChunks(input.Remaining(), *line);
    TRavo32 link(std::move(io));
    for (int port = 0; port < 256; ++port) {
        link.MapPort(static_cast<uint8_t>(port), "/fake");
    }
    TCountingHost host(viewOptions);

    const std::string_view received(reinterpret_cast<const char*>(http.data()), http.size());
    CheckDemoPage(received);
    const TAccessSettings access = AccessFromOptions(viewOptions);
    // The server's one parse: the assembler finds the empty line as the bytes arrive, in two
    // pieces here, and its parse must be the one the bytes give whole.
    TRequestAssembler assembler(received.size() + 1);
    assembler.Append(received.substr(0, received.size() / 2));
    assembler.Append(received.substr(received.size() / 2));
    const THttpRequest request = assembler.Parsed();
    const THttpRequest whole = ParseHttpRequest(std::string(received));
    FUZZ_CHECK(request.Received == received && request.HeaderEnd == whole.HeaderEnd &&
               request.Error == whole.Error && request.Json == whole.Json);
    const auto decide = [&](bool busy) {
        TAccessGate gate;
        gate.SetSettings(access);
        gate.SetLocalNames(kLocal.Port, kLocal.HostName);
        gate.SetAddressSource([] { return kLocal.Addresses; });
        return gate.Decide({.Request = request,
                            .Peer = "::1",
                            .ErrorsOnly = host.ViewError(),
                            .CanAsk = true,
                            .Busy = busy});
    };
    const TGateDecision decision = decide(false);
    CheckLines(decision.Lines);
    const TGateDecision whileBusy = decide(true);
    if (const TDemoPageAnswer page = AnswerDemoPage(received);
        page.Kind != TDemoPageKind::NotOurs) {
        // The page road: the gate answers, busy or not, after the Host check alone.
        FUZZ_CHECK(decision.Action == TGateAction::Answer && !decision.Question);
        FUZZ_CHECK(whileBusy.Action == TGateAction::Answer &&
                   whileBusy.Response == decision.Response);
        // The server reads it while busy: every beginning of it may be the page's.
        for (size_t length = 0; length <= std::min(received.size(), kDemoPageRequestStartBytes);
             ++length) {
            FUZZ_CHECK(MayBeDemoPageRequest(received.substr(0, length)));
        }
        const bool hostRefused = CheckHost(request, access, kLocal).Refusal != TRefusal::None;
        FUZZ_CHECK(hostRefused == (decision.Response != page.Response));
        if (hostRefused) {
            FUZZ_CHECK(CheckResponse(decision.Response) == ErrorCode::AccessRefused);
        }
        FUZZ_CHECK(line->Written.empty());
        return 0;
    }
    // Anything else waits while a request is served, untouched: no lines, no question.
    FUZZ_CHECK(whileBusy.Action == TGateAction::Busy && whileBusy.Lines.empty() &&
               !whileBusy.Question && whileBusy.Response.empty());
    // Access is decided first, whatever the framing; only sound framing reaches the worker.
    CheckVerdict(received, access, decision.Verdict);
    const uint8_t framing = request.Error;
    FUZZ_CHECK(decision.Action == TGateAction::Answer || framing == ErrorCode::None);
    TProcedureOptions options{.PauseAfterExchange = false};
    options.Ports = access.Ports;
    std::optional<std::string> response;
    if (decision.Action == TGateAction::Answer) {
        response = decision.Response;
        // The gate's answer to a framing error is the request road's, byte for byte.
        if (decision.Verdict.Refusal == TRefusal::None) {
            FUZZ_CHECK(framing != ErrorCode::None);
            FUZZ_CHECK(response == ServeRequest(request, link, host, options));
        }
        FUZZ_CHECK(line->Written.empty());
    } else {
        response = ServeRequest(request, link, host, options);
    }

    FUZZ_CHECK(response.has_value());
    // For looking at what a seed does: MODBUS_BRIDGE_FUZZ_PRINT=1 fuzz-request SEED...
    static const bool print = std::getenv("MODBUS_BRIDGE_FUZZ_PRINT") != nullptr;
    if (print) {
        std::fprintf(stderr, "%zu log lines\n%s\n", host.Lines, response->c_str());
    }
    FUZZ_CHECK(!link.IsOpen());
    FUZZ_CHECK(!line->IsOpen());
    const int code = CheckResponse(*response);
    // A refused request sends nothing: the port policy looks at every PDU before the first.
    if (code == ErrorCode::AccessRefused || code == ErrorCode::PortRefused) {
        FUZZ_CHECK(line->Written.empty());
    }
    return 0;
}
