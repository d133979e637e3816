#include "AutostartEntry.h"

#include "WindowTexts.h"

namespace {

// A desktop entry's string value: backslash and the control characters as escapes.
std::string EscapeString(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped += c;
                break;
        }
    }
    return escaped;
}

std::string UnescapeString(std::string_view text) {
    std::string plain;
    for (size_t index = 0; index < text.size(); ++index) {
        if (text[index] != '\\' || index + 1 == text.size()) {
            plain += text[index];
            continue;
        }
        switch (text[++index]) {
            case 'n':
                plain += '\n';
                break;
            case 't':
                plain += '\t';
                break;
            case 'r':
                plain += '\r';
                break;
            case 's':
                plain += ' ';
                break;
            default:
                plain += text[index];
                break;
        }
    }
    return plain;
}

// One argument of an Exec line: in double quotes, with the four characters that quotes do not
// protect escaped, and a per cent sign doubled so that it is no field code.
std::string QuoteExecArgument(std::string_view argument) {
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        if (c == '%') {
            quoted += '%';
        }
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

// The first argument of an Exec line whose string escapes are undone.
std::string FirstExecArgument(std::string_view line) {
    std::string argument;
    size_t index = 0;
    bool quoted = false;
    for (; index < line.size(); ++index) {
        const char c = line[index];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && index + 1 < line.size()) {
                argument += line[++index];
            } else {
                argument += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ' ' || c == '\t') {
            if (!argument.empty()) {
                break;
            }
        } else {
            argument += c;
        }
        if (c == '%' && index + 1 < line.size() && line[index + 1] == '%') {
            ++index;
        }
    }
    return argument;
}

}  // namespace

std::string XdgAutostartText(std::string_view programPath) {
    std::string text = "[Desktop Entry]\nType=Application\nName=Modbus bridge\nName[ru]=";
    text += WindowText::kTrayName;
    text += "\nComment=Starts the bridge hidden in the tray when you log in\n";
    text += "Comment[ru]=Запускает мост в области уведомлений при входе в систему\n";
    text += "Exec=" + EscapeString(QuoteExecArgument(programPath) + " ") +
            std::string(kStartMinimizedOption) + "\n";
    text += "TryExec=" + EscapeString(programPath) + "\n";
    text += "Icon=modbus-bridge\nTerminal=false\n";
    return text;
}

std::optional<std::string> ProgramOfXdgAutostart(std::string_view text) {
    bool inEntry = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.starts_with('[')) {
            inEntry = line == "[Desktop Entry]";
        } else if (inEntry && line.starts_with("Exec")) {
            std::string_view rest = line.substr(4);
            const size_t equals = rest.find('=');
            if (equals == std::string_view::npos ||
                rest.substr(0, equals).find_first_not_of(" \t") != std::string_view::npos) {
                continue;
            }
            return FirstExecArgument(UnescapeString(rest.substr(equals + 1)));
        }
    }
    return std::nullopt;
}

std::string RunValueText(std::string_view programPath) {
    return "\"" + std::string(programPath) + "\" " + std::string(kStartMinimizedOption);
}

std::optional<std::string> ProgramOfRunValue(std::string_view value) {
    const size_t start = value.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    value.remove_prefix(start);
    if (value.front() == '"') {
        const size_t close = value.find('"', 1);
        return std::string(
            value.substr(1, close == std::string_view::npos ? value.npos : close - 1));
    }
    return std::string(value.substr(0, value.find_first_of(" \t")));
}
