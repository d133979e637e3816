#include "SimOptions.h"

#include <array>
#include <cstdint>
#include <optional>

namespace {

// An option that takes a number, with its range and where the number goes.
struct TNumberOption {
    std::string_view Name;
    uint32_t Min;
    uint32_t Max;
    void (*Store)(TSimOptions& options, uint32_t value);
};

constexpr std::array<TNumberOption, 7> kNumberOptions = {{
    {"--address", 1, 247,
     [](TSimOptions& o, uint32_t v) { o.Device.Address = static_cast<uint8_t>(v); }},
    {"--device-type", 0, 0xFFFF,
     [](TSimOptions& o, uint32_t v) { o.Device.DeviceType = static_cast<uint16_t>(v); }},
    {"--exception", 1, 0xFF,
     [](TSimOptions& o, uint32_t v) { o.Device.ForcedException = static_cast<uint8_t>(v); }},
    {"--noise", 0, 100000, [](TSimOptions& o, uint32_t v) { o.Faults.NoiseBytes = v; }},
    {"--delay", 0, 60000, [](TSimOptions& o, uint32_t v) { o.Faults.DelayMs = v; }},
    {"--pieces", 1, 256, [](TSimOptions& o, uint32_t v) { o.Faults.Pieces = v; }},
    {"--gap", 0, 60000, [](TSimOptions& o, uint32_t v) { o.Faults.GapMs = v; }},
}};

struct TFlagOption {
    std::string_view Name;
    void (*Set)(TSimOptions& options);
};

constexpr std::array<TFlagOption, 7> kFlagOptions = {{
    {"--echo", [](TSimOptions& o) { o.Faults.Echo = true; }},
    {"--wrong-address", [](TSimOptions& o) { o.Faults.WrongAddress = true; }},
    {"--bad-crc", [](TSimOptions& o) { o.Faults.BadCrc = true; }},
    {"--silent", [](TSimOptions& o) { o.Faults.Silent = true; }},
    {"--verbose", [](TSimOptions& o) { o.Verbose = true; }},
    {"--help", [](TSimOptions& o) { o.Help = true; }},
    {"-h", [](TSimOptions& o) { o.Help = true; }},
}};

constexpr std::string_view kLinkOption = "--link";
constexpr std::string_view kSlaveOption = "--slave";
constexpr std::string_view kAddressOption = "--address";
constexpr uint32_t kHighestAddress = 247;
constexpr uint32_t kHighestBaud = 4000000;

std::optional<uint32_t> ParseNumber(std::string_view text) {
    uint32_t base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (const char c : text) {
        uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > UINT32_MAX) {
            return std::nullopt;
        }
    }
    return static_cast<uint32_t>(value);
}

// ADDRESS or ADDRESS@BAUD; the reason it is refused when Error is set.
std::optional<TSlaveSetup> ParseSlave(std::string_view text, std::string& error) {
    const size_t at = text.find('@');
    const std::optional<uint32_t> address = ParseNumber(text.substr(0, at));
    if (!address || *address < 1 || *address > kHighestAddress) {
        error = "--slave: '" + std::string(text) + "' does not start with an address from 1 to 247";
        return std::nullopt;
    }
    TSlaveSetup slave{static_cast<uint8_t>(*address)};
    if (at != text.npos) {
        const std::optional<uint32_t> baud = ParseNumber(text.substr(at + 1));
        if (!baud || *baud < 1 || *baud > kHighestBaud) {
            error = "--slave: '" + std::string(text) + "' needs a speed from 1 to " +
                    std::to_string(kHighestBaud) + " after @";
            return std::nullopt;
        }
        slave.Baud = *baud;
    }
    return slave;
}

// Two slaves of one address may share the line only at distinct speeds: else both would answer.
bool Collides(const TSlaveSetup& a, const TSlaveSetup& b) {
    return a.Address == b.Address && (!a.Baud || !b.Baud || *a.Baud == *b.Baud);
}

}  // namespace

std::vector<TSlaveSetup> LineSlaves(const TSimOptions& options) {
    if (!options.Slaves.empty()) {
        return options.Slaves;
    }
    return {TSlaveSetup{options.Device.Address}};
}

TParsedOptions ParseOptions(std::span<const std::string_view> args) {
    TParsedOptions parsed;
    bool addressGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view name = args[i];
        std::optional<std::string_view> value;
        if (const size_t equals = name.find('='); name.starts_with("--") && equals != name.npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        const auto takeValue = [&]() -> std::optional<std::string_view> {
            if (value) {
                return value;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            return std::nullopt;
        };

        bool known = false;
        for (const TFlagOption& flag : kFlagOptions) {
            if (name == flag.Name) {
                if (value) {
                    parsed.Error = std::string(name) + " takes no value";
                    return parsed;
                }
                flag.Set(parsed.Options);
                known = true;
            }
        }
        for (const TNumberOption& option : kNumberOptions) {
            if (name != option.Name) {
                continue;
            }
            const std::optional<std::string_view> text = takeValue();
            if (!text) {
                parsed.Error = std::string(name) + " needs a value";
                return parsed;
            }
            const std::optional<uint32_t> number = ParseNumber(*text);
            if (!number || *number < option.Min || *number > option.Max) {
                parsed.Error = std::string(name) + ": '" + std::string(*text) +
                               "' is not a number from " + std::to_string(option.Min) + " to " +
                               std::to_string(option.Max);
                return parsed;
            }
            option.Store(parsed.Options, *number);
            known = true;
        }
        if (name == kLinkOption) {
            const std::optional<std::string_view> path = takeValue();
            if (!path || path->empty()) {
                parsed.Error = "--link needs a path";
                return parsed;
            }
            parsed.Options.LinkPath = std::string(*path);
            known = true;
        }
        if (name == kSlaveOption) {
            const std::optional<std::string_view> text = takeValue();
            if (!text) {
                parsed.Error = "--slave needs ADDRESS or ADDRESS@BAUD";
                return parsed;
            }
            const std::optional<TSlaveSetup> slave = ParseSlave(*text, parsed.Error);
            if (!slave) {
                return parsed;
            }
            for (const TSlaveSetup& other : parsed.Options.Slaves) {
                if (Collides(other, *slave)) {
                    parsed.Error = "--slave " + std::string(*text) + ": address " +
                                   std::to_string(slave->Address) +
                                   " already answers at that speed";
                    return parsed;
                }
            }
            parsed.Options.Slaves.push_back(*slave);
            known = true;
        }
        addressGiven = addressGiven || name == kAddressOption;
        if (!known) {
            parsed.Error = "unknown option '" + std::string(args[i]) + "'";
            return parsed;
        }
    }
    if (addressGiven && !parsed.Options.Slaves.empty()) {
        parsed.Error = "--address and --slave do not go together: give every slave with --slave";
    }
    return parsed;
}

std::string_view HelpText() {
    return R"(Usage: modbus-sim [options]

Simulates a Modbus RTU slave on a pseudo-terminal. The first line on standard output is the path
of the terminal to open as the serial port (for example /dev/pts/3). The program runs until it
gets SIGINT or SIGTERM. Numbers are decimal or hexadecimal with 0x.

Like a real device, it starts to write only after the silence that ends a request on an RTU
line: 3.5 character times at the rate the port is set to (2 ms at 19200 baud and above, 4 ms at
9600, 32 ms at 1200), before the echo and before the answer.

Device:
  --address N        slave address, 1 to 247 (default 1). Requests for other addresses are
                     ignored. Address 0 is a broadcast: writes (6, 16) are carried out and
                     nothing is answered.
  --slave N[@BAUD]   a slave on the line with its own registers, instead of the one of
                     --address; give it again for more slaves. With @BAUD it reads requests
                     only while the port is set to that speed: at any other speed it hears
                     garbled bytes, answers nothing and changes nothing, as a real device set
                     to BAUD. One address may appear again only at other speeds. The other
                     options apply to every slave.
  --device-type N    device-type code in the device section, 0 to 0xFFFF (default 0x0003).
  --exception CODE   refuse every request addressed to the device with this exception code,
                     1 to 255; the request changes nothing.

Line faults, applied to every answer:
  --echo             send every complete request frame straight back, as a two-wire adapter
                     does, also when the device then stays silent.
  --noise N          N random bytes before the answer (0 to 100000). They never hold the
                     answering address byte, so they never form a frame from the slave.
  --delay MS         wait MS milliseconds before answering (0 to 60000).
  --pieces N         send the answer in N pieces (1 to 256).
  --gap MS           wait between pieces, 0 to 60000 (default 20).
  --wrong-address    answer from the address plus one, with a CRC valid for it.
  --bad-crc          damage the CRC of every answer.
  --silent           never answer; requests are still carried out.

Other:
  --link PATH        keep a symbolic link PATH to the terminal while running; an existing
                     symbolic link is replaced, any other file is left alone and the program
                     stops. The link is removed on exit.
  --verbose          print one line per event: "rx HEX" for every request frame taken,
                     "tx HEX" for every chunk written (echo, noise, answer pieces). HEX is the
                     whole frame or chunk in upper-case hexadecimal without separators. Bytes
                     the terminal cannot take, as when nobody reads it, are dropped and left
                     out of the line. "overlap HEX" after the answer to the request HEX when
                     another request came before that answer was written: two masters, or one
                     that does not wait for answers.
  --help, -h         print this text.

Register model:
  Holding registers 0x0000-0x8FFF, each starting out as its own address.
  Input registers 0x0000-0x00FF: 0 counts up every 100 ms since start; 1 is a slow wave
  1000 + round(1000 * sin(2 pi t / 60 s)), 0 to 2000; 2 is the uptime in seconds (low 16 bits);
  every other input register reads 0x1000 + its address.
  File records (reference type 6): files 0, 1, 2, 4 and 5 are views of the holding registers
  from 0x0000, 0x1000, 0x2000, 0x4000 and 0x8000, record r being register base + r. File 6
  holds 32 event records of 32 bytes, numbered 0 to 31: byte 0 is the record number r, byte 1
  the event code 1 + r % 7, bytes 2-5 a time stamp of 1000 * r seconds (high byte first) and
  every byte i from 6 on is (r + i) & 0xFF. A read of n registers gets the first 2n bytes of the
  record, zero beyond its 32 bytes.

Function codes:
  3, 4   read holding / input registers: 1 to 125 registers, else exception 3; a range outside
         the bank gives exception 2.
  6      write single register; the answer repeats the request. Outside the bank: exception 2.
  16     write multiple registers: 1 to 123 registers with a matching byte count, else
         exception 3; outside the bank: exception 2. The answer gives start and quantity.
  20     read file record: byte count 7 to 0xF5 in steps of 7, else exception 3; a reference
         type other than 6, an unknown file or a record outside it gives exception 2; an answer
         longer than 253 bytes gives exception 3.
  69     read device section: 16 registers: section format 1, device-type code, firmware
         version 0x0100, slave address, serial number 0x2026 0x0001, then zeros.
  70, 71 binding and boot loader: the answer is the function code, status 0x00 and the data of
         the request.
  Every other function code gets exception 1.
)";
}
