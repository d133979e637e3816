#pragma once

#include <ostream>
#include <string>

#include "LogModel.h"

// The log as plain text: every line in Windows-1251 with CR LF, no byte-order mark. Characters
// the code page lacks become "?".
void WriteLogText(const TLogModel& log, std::ostream& out);

// The log as an RTF document with the colours and styles of every line kind, in the log's
// monospaced font.
void WriteLogRtf(const TLogModel& log, std::ostream& out);
