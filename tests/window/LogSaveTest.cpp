#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "LogFile.h"
#include "LogModel.h"
#include "LogSave.h"
#include "TempFolder.h"
#include "Utf8Path.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream file(Utf8Path(path), std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void Fill(TLogModel& log) {
    log.Append(TLogKind::Date, "06-12-2026 16:48:29");
    log.Append(TLogKind::Info, "16:48:29.007\tСтарт");
    log.Append(TLogKind::Send, "16:48:30.100\t>> READ_HOLDING_REGISTERS 010300000002C40B");
    log.Append(TLogKind::Error, "16:48:30.600\tError[124] - {нет ответа}\\");
}

// The last three characters choose RTF, byte for byte; the file holds exactly what the shared
// writers write, whatever the folder is called.
TEST(LogSaveTest, TheNameChoosesTheFormatAndTheFileHoldsTheWritersBytes) {
    TLogModel log;
    Fill(log);
    std::ostringstream rtf;
    std::ostringstream text;
    WriteLogRtf(log, rtf);
    WriteLogText(log, text);
    ASSERT_NE(rtf.str(), text.str());

    const TTempFolder temp("log-save");
    ASSERT_FALSE(temp.Path().empty());
    const std::string folder = temp.Path() + "/Журналы Ивана";
    ASSERT_TRUE(std::filesystem::create_directory(Utf8Path(folder)));
    const struct {
        const char* Name;
        bool Rtf;
    } cases[] = {
        {"log.rtf", true},  {"log.RTF", false},     {"logrtf", true},     {"log.txt", false},
        {"log.Rtf", false}, {"log.rtf.txt", false}, {"журнал.rtf", true}, {"log", false},
    };
    for (const auto& saved : cases) {
        const std::string path = folder + "/" + saved.Name;
        EXPECT_EQ(LogFileFormatFor(path), saved.Rtf ? TLogFileFormat::Rtf : TLogFileFormat::Text)
            << saved.Name;
        ASSERT_TRUE(SaveLogFile(log, path)) << saved.Name;
        EXPECT_EQ(ReadFile(path), saved.Rtf ? rtf.str() : text.str()) << saved.Name;
    }

    // A save replaces what the file held.
    TLogModel shorter;
    shorter.Append(TLogKind::Info, "one line");
    ASSERT_TRUE(SaveLogFile(shorter, folder + "/log.txt"));
    EXPECT_EQ(ReadFile(folder + "/log.txt"), "one line\r\n");
}

TEST(LogSaveTest, AFileThatCannotBeCreatedIsAFailure) {
    TLogModel log;
    Fill(log);
    const TTempFolder temp("log-save");
    ASSERT_FALSE(temp.Path().empty());
    EXPECT_FALSE(SaveLogFile(log, temp.Path() + "/no such folder/log.rtf"));
    EXPECT_FALSE(SaveLogFile(log, temp.Path()));
}

}  // namespace
