#pragma once
// The program's one reporter of failures.

#include "engine/runevents.h"

namespace TRAVO1 {

struct ErrorMessage {
    bool shown = true; // error 5 shows no box
    QString text;
    int style = 0;
    QString title; // empty: the application title
};

// The message the operator sees for an error number.
ErrorMessage messageFor(int32_t number, const QString& description, const QString& name);

// Shows the recorded error's message (the name in it is CurrentName's), tells
// `events` that it was reported (the window shows it in the status line,
// disables "Copiar" and resets the progress panel) and logs it.
void ReportError(RunObserver& events);

} // namespace TRAVO1
