#pragma once

#include <QString>

// Why the keyword file could not hold a keyword that the user typed or
// edited, at this 1-based position of the list, in the words the user sees;
// empty when it can.
QString KeywordRefusal(const QString &keyword, qsizetype position);
