#include <cstdio>
#include <string_view>

#include "ConsoleLine.h"
#include "ProgramCommandLine.h"

const TProgramPlatform kThisPlatform = TProgramPlatform::Linux;

std::vector<std::string> ProgramArguments(int argc, char* argv[]) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
}

void WriteProgramAnswer(const TProgramAnswer& answer) {
    std::FILE* stream = answer.ToStandardError ? stderr : stdout;
    std::string_view text = answer.Text;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        WriteConsoleLine(stream, text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
}
