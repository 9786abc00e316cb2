#pragma once

// The main window for the widget tests and the window benchmark.

#include "Form1.h"
#include "MessageBox.h"

#include <memory>

// The locations of a program in FOLDER: the working copy in it, the filter's
// folder inside it.
inline Locations WindowLocations(const QString &folder)
{
    return {folder + "/inject.txt", folder + "/tarnwick", folder + "/tarnwick/inject.txt"};
}

// The main window on FOLDER's working copy, not yet shown; null when it does
// not start. Message boxes are recorded (MessageBox::TakeShown), not shown.
inline std::unique_ptr<Form1> StartWindow(const QString &folder)
{
    MessageBox::SetNextAnswers({});
    return Form1::Start(WindowLocations(folder));
}
