#pragma once

#include <string>
#include <string_view>

// Text at the Win32 calls (Windows only): the program keeps UTF-8 inside and converts at each
// wide-string call, so that any folder name works whatever the ANSI code page is.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

// The system's text for an error code of GetLastError or WSAGetLastError, in UTF-8, without the
// final line break and full stop; empty when the system has no text for it.
std::string Win32ErrorMessage(unsigned long code);

// Win32ErrorMessage and the code's number ("<text> (error 5)"); the number alone when the system
// has no text for it.
std::string Win32ErrorText(unsigned long code);
