#pragma once

#include <QString>

class QWidget;

// The program's general error report: a message box with the text, which waits for the operator;
// the program goes on.
void ShowErrorReport(const QString& text);

// The same box shown without waiting: the program goes on while it is open, and it goes with its
// parent.
void ShowModelessErrorReport(QWidget* parent, const QString& text);

// The same report on standard error, for when no one may be there to close a box.
void PrintErrorReport(const QString& text);
