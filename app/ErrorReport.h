#pragma once

#include <QString>

// The program's general error report: a message box with the text; the program goes on.
void ShowErrorReport(const QString& text);

// The same report on standard error, for when no one may be there to close a box.
void PrintErrorReport(const QString& text);
