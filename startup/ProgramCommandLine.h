#pragma once

#include <string>
#include <vector>

#include "CommandLine.h"

// The system this build runs on.
extern const TProgramPlatform kThisPlatform;

// The program's arguments after its name, in UTF-8: argv on Linux; on Windows the wide command
// line, since argv holds only the ANSI code page's reading of it.
std::vector<std::string> ProgramArguments(int argc, char* argv[]);

// Writes the answer where whoever started the program reads it: standard output or standard
// error. On Windows a program that has neither (the window) writes to the console it was started
// from, or, started from the desktop, shows the answer in a box.
void WriteProgramAnswer(const TProgramAnswer& answer);
