#pragma once

#include <QStringList>

class KeywordList;

// The built-in keyword set, in the order it is written to the file.
QStringList DefaultKeywords();

// Replaces whatever the list holds with the built-in set. Touches no file.
void RestoreDefaults(KeywordList &list);
