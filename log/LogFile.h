#pragma once

#include <iconv.h>

#include <ostream>
#include <string>

#include "LogModel.h"

// The log as plain text: every line in Windows-1251 with CR LF, no byte-order mark. Characters
// the code page lacks become "?".
void WriteLogText(const TLogModel& log, std::ostream& out);

// The log as an RTF document with the colours and styles of every line kind, in the log's
// monospaced font.
void WriteLogRtf(const TLogModel& log, std::ostream& out);

// UTF-8 text into Windows-1251, written to a stream. Every character the code page lacks and every
// broken UTF-8 piece becomes "?", and the conversion goes on after it.
class TCp1251Converter {
public:
    TCp1251Converter();
    ~TCp1251Converter();
    TCp1251Converter(const TCp1251Converter&) = delete;
    TCp1251Converter& operator=(const TCp1251Converter&) = delete;

    bool Ready() const;
    // Converts the whole block, writes it and empties it; encoded is working space.
    void Write(std::string& block, std::string& encoded, std::ostream& out);

private:
    iconv_t Handle;
};
