// Writes again, with this platform's log writers, the lines of a log that another build of the
// window saved, and compares the bytes: the plain text file must come back byte for byte, and the
// RTF file, saved before it, must be what this build writes for the same lines but the last
// (the date and "Файл сохренён" lines that the RTF save itself added). The kind of each line is
// read from its text, which holds for the lines of a session without notices.
//
//   log-file-twin SAVED.txt SAVED.rtf [LINES_ADDED_AFTER_THE_RTF]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Cp1251.h"
#include "LogFile.h"
#include "LogModel.h"

namespace {

std::string ReadFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

TLogKind KindOf(const std::string& line) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) {
        return TLogKind::Date;
    }
    const std::string text = line.substr(tab + 1);
    if (text.starts_with(">> ")) {
        return TLogKind::Send;
    }
    if (text.starts_with("<< ")) {
        return TLogKind::Receive;
    }
    if (text.starts_with("Error[")) {
        return TLogKind::Error;
    }
    return TLogKind::Info;
}

std::string Written(const std::vector<std::string>& lines, bool rtf) {
    TLogModel log;
    for (const std::string& line : lines) {
        log.Append(KindOf(line), line);
    }
    std::ostringstream out;
    if (rtf) {
        WriteLogRtf(log, out);
    } else {
        WriteLogText(log, out);
    }
    return out.str();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fputs("usage: log-file-twin SAVED.txt SAVED.rtf [LINES_ADDED_AFTER_THE_RTF]\n",
                   stderr);
        return 2;
    }
    const std::string text = ReadFile(argv[1]);
    const std::string rtf = ReadFile(argv[2]);
    const size_t added = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 2;
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            std::fputs("log-file-twin: a line without CR LF at the end of the text file\n", stderr);
            return 1;
        }
        lines.push_back(Cp1251ToUtf8(text.substr(start, end - start)));
        start = end + 2;
    }
    if (lines.size() <= added) {
        std::fputs("log-file-twin: too few lines\n", stderr);
        return 1;
    }
    int failures = 0;
    if (Written(lines, false) != text) {
        std::fputs("log-file-twin: the text file differs from this build's for its lines\n",
                   stderr);
        ++failures;
    }
    lines.resize(lines.size() - added);
    if (Written(lines, true) != rtf) {
        std::fputs("log-file-twin: the RTF file differs from this build's for its lines\n", stderr);
        ++failures;
    }
    std::printf("%zu lines, %zu bytes of text, %zu bytes of RTF: %s\n", lines.size() + added,
                text.size(), rtf.size(), failures == 0 ? "the same bytes" : "different");
    return failures == 0 ? 0 : 1;
}
