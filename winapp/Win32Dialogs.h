#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

// The save dialog: starts in the folder, offers the last chosen path (none at the first save),
// RTF first among the two choices, "rtf" added to a name without an extension, asks before a file
// is overwritten, no read-only box. The chosen path, or none when the operator cancels.
std::optional<std::string> AskSavePathDialog(HWND owner, const std::string& folder,
                                             const std::string& lastPath);

// A message box that waits for the operator. With no owner, the thread's windows are disabled
// while it is open, so nothing else is chosen meanwhile.
void ShowMessageBoxWaiting(HWND owner, std::string_view caption, std::string_view text, UINT icon);

// A report for when nobody may be there to close a box: standard error and the debugger.
void PrintReport(std::string_view text);
