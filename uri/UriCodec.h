#pragma once

#include <string>
#include <string_view>

// Percent-decoding of a form body: "%" and two hexadecimal digits (either case) become one byte;
// every other byte, a "+" included, is copied. The result is never longer than the input.
std::string UriDecode(std::string_view text);

// Percent-encoding: only 0-9, A-Z and a-z are kept, every other byte becomes "%" and two
// upper-case hexadecimal digits.
std::string UriEncode(std::string_view text);

// Checks both functions at start-up. On the first condition that fails it reports the condition
// text, the source file and the line on standard error and ends the process; release builds
// check as well.
void UriCodecSelfTest();

// The report of a failed self-test condition, as the self-test writes it.
std::string SelfTestFailureReport(std::string_view condition, std::string_view file, int line);
