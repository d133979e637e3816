#pragma once

#include <QString>

// The program's general error report: a message box with the text; the program goes on.
void ShowErrorReport(const QString& text);
