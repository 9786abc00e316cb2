#pragma once

#include <QString>

// Why the keyword file could not hold a keyword that the user typed or
// edited, in the words the user sees; empty when it can.
QString KeywordRefusal(const QString &keyword);
