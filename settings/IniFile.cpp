#include "IniFile.h"

#include <charconv>
#include <optional>

#include "AsciiCase.h"
#include "Blanks.h"
#include "FileReplace.h"

namespace {

std::string_view WithoutCr(std::string_view line) {
    return line.ends_with('\r') ? line.substr(0, line.size() - 1) : line;
}

// Where a comment behind the settings of a line starts: a ';' after a space or a tab.
size_t CommentStart(std::string_view line) {
    for (size_t at = line.find(';'); at != std::string_view::npos; at = line.find(';', at + 1)) {
        if (at > 0 && (line[at - 1] == ' ' || line[at - 1] == '\t')) {
            return at;
        }
    }
    return std::string_view::npos;
}

// What a line of the file says: without its CR, a comment behind it and the blanks around.
std::string_view Content(std::string_view line) {
    line = WithoutCr(line);
    return TrimBlanks(line.substr(0, CommentStart(line)));
}

// The name of the section that a line's content opens, or none when it opens none.
std::optional<std::string> SectionName(std::string_view line) {
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    const size_t close = line.find(']');
    return std::string(TrimBlanks(line.substr(1, close == line.npos ? line.npos : close - 1)));
}

}  // namespace

TIniFile::TIniFile(std::string path) : FilePath(std::move(path)) {
    Load();
}

bool TIniFile::Load() {
    std::string content;
    std::string error;
    if (ReadFileContent(FilePath, content, error) == TFileRead::Failed) {
        ReadError = std::move(error);
        return false;
    }
    ReadError.clear();
    LoadText(content);
    return true;
}

void TIniFile::LoadText(std::string_view text) {
    Lines.clear();
    while (!text.empty()) {
        const size_t end = text.find('\n');
        Lines.emplace_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    Parse();
}

std::string TIniFile::Text() const {
    std::string text;
    for (const std::string& line : Lines) {
        text += line;
        text += '\n';
    }
    return text;
}

void TIniFile::Parse() {
    Entries.clear();
    std::string section;
    for (size_t index = 0; index < Lines.size(); ++index) {
        const std::string_view line = Content(Lines[index]);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (std::optional<std::string> name = SectionName(line)) {
            section = std::move(*name);
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        Entries.push_back(TEntry{section, std::string(TrimBlanks(line.substr(0, equals))),
                                 std::string(TrimBlanks(line.substr(equals + 1))), index});
    }
}

void TIniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
    if (const TEntry* entry = Find(section, key)) {
        const size_t index = entry->Line;
        const std::string_view old = WithoutCr(Lines[index]);
        const std::string ending = Lines[index].ends_with('\r') ? "\r" : "";
        const std::string wanted = entry->Key + "=" + std::string(value);
        if (old == wanted) {
            return;
        }
        const size_t comment = CommentStart(old);
        const std::string commentLine =
            comment == std::string_view::npos ? "" : std::string(old.substr(comment)) + ending;
        Lines[index] = wanted + ending;
        if (!commentLine.empty()) {
            Lines.insert(Lines.begin() + static_cast<std::ptrdiff_t>(index), commentLine);
        }
    } else {
        // New lines end as the file's first line does.
        const std::string ending = !Lines.empty() && Lines.front().ends_with('\r') ? "\r" : "";
        std::optional<size_t> sectionEnd;
        std::string current;
        for (size_t index = 0; index < Lines.size(); ++index) {
            const std::string_view line = Content(Lines[index]);
            if (std::optional<std::string> name = SectionName(line)) {
                current = std::move(*name);
                if (EqualsIgnoringAsciiCase(current, section)) {
                    sectionEnd = index + 1;
                }
            } else if (EqualsIgnoringAsciiCase(current, section) && !line.empty()) {
                sectionEnd = index + 1;
            }
        }
        const std::string newLine = std::string(key) + "=" + std::string(value) + ending;
        if (sectionEnd) {
            Lines.insert(Lines.begin() + static_cast<std::ptrdiff_t>(*sectionEnd), newLine);
        } else {
            Lines.push_back("[" + std::string(section) + "]" + ending);
            Lines.push_back(newLine);
        }
    }
    Parse();
    Unsaved = true;
}

void TIniFile::RemoveKey(std::string_view section, std::string_view key) {
    // From the last line up, so that the line numbers of those still to go hold.
    for (auto entry = Entries.rbegin(); entry != Entries.rend(); ++entry) {
        if (EqualsIgnoringAsciiCase(entry->Section, section) &&
            EqualsIgnoringAsciiCase(entry->Key, key)) {
            Lines.erase(Lines.begin() + static_cast<std::ptrdiff_t>(entry->Line));
            Unsaved = true;
        }
    }
    Parse();
}

void TIniFile::SetInteger(std::string_view section, std::string_view key, int32_t value) {
    SetString(section, key, std::to_string(value));
}

void TIniFile::SetBool(std::string_view section, std::string_view key, bool value) {
    SetString(section, key, value ? "1" : "0");
}

bool TIniFile::Save() {
    if (!Unsaved) {
        return true;
    }
    WriteError.clear();
    if (!ReplaceFileContent(FilePath, Text(), WriteError)) {
        return false;
    }
    Unsaved = false;
    return true;
}

bool TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    SetString(section, key, value);
    return Save();
}

bool TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
    SetInteger(section, key, value);
    return Save();
}

bool TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    SetBool(section, key, value);
    return Save();
}

const TIniFile::TEntry* TIniFile::Find(std::string_view section, std::string_view key) const {
    // The last of repeated keys wins, as a later line overrides an earlier one.
    const TEntry* found = nullptr;
    for (const TEntry& entry : Entries) {
        if (EqualsIgnoringAsciiCase(entry.Section, section) &&
            EqualsIgnoringAsciiCase(entry.Key, key)) {
            found = &entry;
        }
    }
    return found;
}

bool TIniFile::HasValue(std::string_view section, std::string_view key) const {
    return Find(section, key) != nullptr;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view fallback) const {
    const TEntry* entry = Find(section, key);
    return entry != nullptr ? entry->Value : std::string(fallback);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                              int32_t fallback) const {
    const TEntry* entry = Find(section, key);
    int32_t value = 0;
    return entry != nullptr && ParseSettingsInteger(entry->Value, value) ? value : fallback;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
    return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

std::vector<std::string> TIniFile::Keys(std::string_view section) const {
    std::vector<std::string> keys;
    for (const TEntry& entry : Entries) {
        if (EqualsIgnoringAsciiCase(entry.Section, section)) {
            keys.push_back(entry.Key);
        }
    }
    return keys;
}

bool ParseSettingsInteger(std::string_view text, int32_t& value) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.front() == '-' || text.front() == '+') {
        return false;
    }
    int64_t magnitude = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return false;
    }
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue < INT32_MIN || signedValue > INT32_MAX) {
        return false;
    }
    value = static_cast<int32_t>(signedValue);
    return true;
}
