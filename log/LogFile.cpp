#include "LogFile.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <string>
#include <vector>

namespace {

// Lines are gathered and written in blocks of about this size, so a long log costs a few large
// conversions and writes rather than several per line.
constexpr size_t kBlockBytes = size_t{1} << 20;

constexpr std::array kAllKinds = {TLogKind::Date,   TLogKind::Info, TLogKind::Error,
                                  TLogKind::Notice, TLogKind::Send, TLogKind::Receive};

// A kind's place in per-kind tables; a value outside the enumeration is shown as information,
// as LogStyle does.
size_t KindSlot(TLogKind kind) {
    const auto slot = static_cast<size_t>(kind);
    return slot < kAllKinds.size() ? slot : static_cast<size_t>(TLogKind::Info);
}

struct TUtf8Step {
    char32_t Code;
    // Bytes taken: the whole character, or for a broken one its longest valid-looking start
    // (at least one byte), so that each broken piece becomes one "?".
    size_t Length;
    bool Valid;
};

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
TUtf8Step DecodeUtf8(const unsigned char* bytes, size_t left) {
    const unsigned lead = bytes[0];
    if (lead < 0x80) {
        return {lead, 1, true};
    }
    size_t length = 0;
    char32_t code = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {0, 1, false};
    }
    for (size_t taken = 1; taken < length; ++taken) {
        const unsigned next = taken < left ? bytes[taken] : 0;
        if (next < low || next > high) {
            return {0, taken, false};
        }
        code = (code << 6) | (next & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return {code, length, true};
}

void AppendNumber(std::string& out, long value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

void AppendUnicode(std::string& out, char32_t unit) {
    // RTF takes a UTF-16 code unit as a signed 16-bit number.
    out.append("\\u");
    AppendNumber(out, unit >= 0x8000 ? static_cast<long>(unit) - 0x10000 : static_cast<long>(unit));
    out.push_back('?');
}

// A line's text in RTF: control characters of RTF escaped, TAB and line breaks as control
// words, everything beyond ASCII as UTF-16 units so that no reader depends on the code page.
void AppendRtfText(std::string& out, std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    size_t at = 0;
    while (at < size) {
        const unsigned char byte = bytes[at];
        if (byte >= 0x20 && byte < 0x7F && byte != '\\' && byte != '{' && byte != '}') {
            size_t end = at + 1;
            while (end < size && bytes[end] >= 0x20 && bytes[end] < 0x7F && bytes[end] != '\\' &&
                   bytes[end] != '{' && bytes[end] != '}') {
                ++end;
            }
            out.append(text.data() + at, end - at);
            at = end;
            continue;
        }
        if (byte == '\\' || byte == '{' || byte == '}') {
            out.push_back('\\');
            out.push_back(static_cast<char>(byte));
            ++at;
        } else if (byte == '\t') {
            out.append("\\tab ");
            ++at;
        } else if (byte == '\r' || byte == '\n') {
            out.append("\\line ");
            at += byte == '\r' && at + 1 < size && bytes[at + 1] == '\n' ? 2 : 1;
        } else if (byte < 0x80) {
            // Other control characters have no picture in a document.
            out.push_back('?');
            ++at;
        } else {
            const TUtf8Step step = DecodeUtf8(bytes + at, size - at);
            if (!step.Valid) {
                out.push_back('?');
            } else if (step.Code < 0x10000) {
                AppendUnicode(out, step.Code);
            } else {
                const char32_t rest = step.Code - 0x10000;
                AppendUnicode(out, 0xD800 + (rest >> 10));
                AppendUnicode(out, 0xDC00 + (rest & 0x3FF));
            }
            at += step.Length;
        }
    }
}

void AppendRtfColour(std::string& out, uint32_t colour) {
    out.append("\\red");
    AppendNumber(out, static_cast<long>((colour >> 16) & 0xFF));
    out.append("\\green");
    AppendNumber(out, static_cast<long>((colour >> 8) & 0xFF));
    out.append("\\blue");
    AppendNumber(out, static_cast<long>(colour & 0xFF));
    out.push_back(';');
}

}  // namespace

TCp1251Converter::TCp1251Converter() : Handle(iconv_open("CP1251", "UTF-8")) {}

TCp1251Converter::~TCp1251Converter() {
    if (Ready()) {
        iconv_close(Handle);
    }
}

bool TCp1251Converter::Ready() const {
    return Handle != reinterpret_cast<iconv_t>(-1);
}

void TCp1251Converter::Write(std::string& block, std::string& encoded, std::ostream& out) {
    // A CP1251 character never takes more bytes than its UTF-8 form, nor "?" more than the
    // piece it replaces.
    encoded.resize(block.size());
    char* in = block.data();
    size_t inLeft = block.size();
    char* place = encoded.data();
    size_t placeLeft = encoded.size();
    while (inLeft > 0) {
        if (iconv(Handle, &in, &inLeft, &place, &placeLeft) != static_cast<size_t>(-1)) {
            break;
        }
        const bool full = errno == E2BIG;
        if (full || placeLeft == 0) {
            out.write(encoded.data(), place - encoded.data());
            place = encoded.data();
            placeLeft = encoded.size();
            if (full) {
                continue;
            }
        }
        const TUtf8Step step = DecodeUtf8(reinterpret_cast<const unsigned char*>(in), inLeft);
        *place++ = '?';
        --placeLeft;
        in += step.Length;
        inLeft -= step.Length;
    }
    out.write(encoded.data(), place - encoded.data());
    block.clear();
}

void WriteLogText(const TLogModel& log, std::ostream& out) {
    TCp1251Converter converter;
    if (!converter.Ready()) {
        out.setstate(std::ios::failbit);
        return;
    }
    std::string block;
    std::string encoded;
    block.reserve(kBlockBytes + 4096);
    encoded.reserve(kBlockBytes + 4096);
    const size_t count = log.Size();
    for (size_t index = 0; index < count && out; ++index) {
        const std::string_view text = log.Line(index).Text;
        block.append(text);
        block.append("\r\n");
        if (block.size() >= kBlockBytes) {
            converter.Write(block, encoded, out);
        }
    }
    if (!block.empty() && out) {
        converter.Write(block, encoded, out);
    }
}

void WriteLogRtf(const TLogModel& log, std::ostream& out) {
    const size_t count = log.Size();
    std::array<bool, kAllKinds.size()> present{};
    for (size_t index = 0; index < count; ++index) {
        present[KindSlot(log.Line(index).Kind)] = true;
    }

    // The colour table holds exactly the colours of the kinds present; index 0 is the
    // reader's automatic colour.
    std::vector<uint32_t> colours;
    const auto colourIndex = [&colours](uint32_t colour) {
        for (size_t at = 0; at < colours.size(); ++at) {
            if (colours[at] == colour) {
                return static_cast<long>(at + 1);
            }
        }
        colours.push_back(colour);
        return static_cast<long>(colours.size());
    };
    std::array<std::string, kAllKinds.size()> openings;
    for (const TLogKind kind : kAllKinds) {
        const size_t slot = static_cast<size_t>(kind);
        if (!present[slot]) {
            continue;
        }
        const TLogStyle& style = LogStyle(kind);
        std::string& opening = openings[slot];
        opening.append("{\\cf");
        AppendNumber(opening, colourIndex(style.Text));
        // Some readers show only \highlight, others only \chcbpat.
        const long background = colourIndex(style.Background);
        opening.append("\\highlight");
        AppendNumber(opening, background);
        opening.append("\\chcbpat");
        AppendNumber(opening, background);
        if (style.Bold) {
            opening.append("\\b");
        }
        if (style.Italic) {
            opening.append("\\i");
        }
        if (style.Underline) {
            opening.append("\\ul");
        }
        if (style.StrikeOut) {
            opening.append("\\strike");
        }
        opening.push_back(' ');
    }

    std::string block;
    block.reserve(kBlockBytes + 4096);
    block.append(
        "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fmodern\\fcharset204 Monospace;}}\n");
    block.append("{\\colortbl;");
    for (const uint32_t colour : colours) {
        AppendRtfColour(block, colour);
    }
    // 21 half-points: 10.5 pt, 14 pixels on a 96 dpi screen.
    block.append("}\n\\viewkind4\\uc1\\pard\\f0\\fs21\n");
    for (size_t index = 0; index < count && out; ++index) {
        const TLogModel::TLine line = log.Line(index);
        block.append(openings[KindSlot(line.Kind)]);
        AppendRtfText(block, line.Text);
        block.append("\\par}\n");
        if (block.size() >= kBlockBytes) {
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
            block.clear();
        }
    }
    block.push_back('}');
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
}
