#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The settings file: sections of "key=value" lines. Section and key names match without regard
// to ASCII case, as INI files have always been read; values are kept as written. A write changes
// only its own line (or adds it) and reaches the file at once; comments, other sections and the
// order of lines stay as they were. The file is replaced whole (a new file renamed over the old),
// so a crash during a write leaves the old or the new file; its folder is created when missing.
class TIniFile {
public:
    TIniFile() = default;
    explicit TIniFile(std::string path);

    // Reads the file again; a file that does not exist reads as empty.
    void Load();
    // Parses text as the file's content.
    void LoadText(std::string_view text);
    // The content as it would be written.
    std::string Text() const;

    const std::string& Path() const { return FilePath; }

    bool HasValue(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    // Decimal, or hexadecimal after "0x" or "0X"; anything else, or a number beyond 32 bits,
    // reads as the fallback.
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t fallback) const;
    // On for any non-zero integer.
    bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
    // The keys of a section in file order.
    std::vector<std::string> Keys(std::string_view section) const;

    // Each returns false when the file could not be written; the value is kept in memory.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInteger(std::string_view section, std::string_view key, int32_t value);
    // Written as "1" or "0".
    bool WriteBool(std::string_view section, std::string_view key, bool value);
    // Why the last failed write failed: the step, the path and the system's reason.
    const std::string& LastWriteError() const { return WriteError; }

private:
    struct TEntry {
        std::string Section;
        std::string Key;
        std::string Value;
        size_t Line;
    };

    void Parse();
    const TEntry* Find(std::string_view section, std::string_view key) const;
    bool Save();

    std::string FilePath;
    // The file's lines without their line feeds; a line that ended in CR LF keeps its CR.
    std::vector<std::string> Lines;
    std::vector<TEntry> Entries;
    std::string WriteError;
};

// The integer a settings value holds, by the rules of ReadInteger; false when it holds none.
bool ParseSettingsInteger(std::string_view text, int32_t& value);
