#pragma once

// The main window for the widget tests and the window benchmark.

#include "Form1.h"
#include "MessageBoxes.h"

#include <memory>

// The main window of a program whose root is FOLDER (Locations::InRoot), not
// yet shown; null when it does not start. Message boxes are recorded
// (MessageBoxes::TakeShown), not shown.
inline std::unique_ptr<Form1> StartWindow(const QString &folder)
{
    MessageBoxes::SetNextAnswers({});
    return Form1::Start(Locations::InRoot(folder));
}
