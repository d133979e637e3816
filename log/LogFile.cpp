#include "LogFile.h"

#include <array>
#include <charconv>
#include <string>
#include <vector>

#include "Cp1251.h"
#include "Utf8.h"

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
            const TUtf8Step step = DecodeUtf8(text, at);
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

void WriteLogText(const TLogModel& log, std::ostream& out) {
    std::string block;
    block.reserve(kBlockBytes + 4096);
    const size_t count = log.Size();
    for (size_t index = 0; index < count && out; ++index) {
        AppendAsCp1251(block, log.Line(index).Text);
        block.append("\r\n");
        if (block.size() >= kBlockBytes) {
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
            block.clear();
        }
    }
    if (!block.empty() && out) {
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
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
