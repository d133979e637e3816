#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The settings file: sections of "key=value" lines. Section and key names match without regard
// to ASCII case, as INI files have always been read; values are kept as written. A line that
// starts with ";" or "#" is a comment, and so is the rest of a line from a ";" that follows a
// space or a tab ("ViewSet=1   ; log the parameters"), as settings files are commonly annotated.
// Setting a value changes only its own line (or adds it); comments, other sections and the order
// of lines stay as they were, except that a comment behind a value the program sets moves to a
// line of its own above it, so that older copies, which read it as part of the value, read the
// value. Save writes the file once for any number of changes, replacing it whole (a new file
// renamed over the old), so a crash during a write leaves the old or the new file; its folder is
// created when missing.
class TIniFile {
public:
    TIniFile() = default;
    explicit TIniFile(std::string path);

    // Reads the file again; a file that does not exist reads as empty. False when what is at the
    // path cannot be read (a folder in its place, no permission): the content stays as it was,
    // and LoadError says why.
    bool Load();
    // The failing step, the path and the system's reason of the last Load that failed; empty
    // once one succeeds.
    const std::string& LoadError() const { return ReadError; }
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

    // Change the value in memory only; Save writes them.
    void SetString(std::string_view section, std::string_view key, std::string_view value);
    void SetInteger(std::string_view section, std::string_view key, int32_t value);
    // Set as "1" or "0".
    void SetBool(std::string_view section, std::string_view key, bool value);
    // Takes the key's lines (each, when it is repeated) out of the section in memory only; the
    // lines around them stay.
    void RemoveKey(std::string_view section, std::string_view key);
    // Writes the file when something changed since it was last written (true when nothing did);
    // false when it could not be written, and the changes stay in memory for the next save.
    bool Save();

    // Set and save at once.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInteger(std::string_view section, std::string_view key, int32_t value);
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

    std::string FilePath;
    // The file's lines without their line feeds; a line that ended in CR LF keeps its CR.
    std::vector<std::string> Lines;
    std::vector<TEntry> Entries;
    std::string WriteError;
    std::string ReadError;
    bool Unsaved = false;
};

// The integer a settings value holds, by the rules of ReadInteger; false when it holds none.
bool ParseSettingsInteger(std::string_view text, int32_t& value);
