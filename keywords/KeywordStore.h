#pragma once

#include <QString>

class KeywordList;
struct Locations;

// The keyword store's file operations. Each returns false on failure and then
// sets error to a description a person can act on: what was being done, the
// full path, and the system's reason.

// Appends the working copy's keywords, in file order, to the list. The
// working copy must exist; it is never created here.
[[nodiscard]] bool LoadWorkingCopy(const Locations &locations, KeywordList &list, QString *error);

// Creates the filter directory when nothing of that name exists. Anything
// already there, even a plain file, is left alone.
[[nodiscard]] bool EnsureFilterDirectory(const Locations &locations, QString *error);

// Once per run, before the main window is shown.
[[nodiscard]] bool RunStartUp(const Locations &locations, KeywordList &list, QString *error);

// Writes the list to the working copy, then publishes the very same bytes as
// the published copy. A list that the file could not hold faithfully is
// refused before any file is touched. Each copy is replaced in one step, so a
// failure leaves it as it was; the published copy is never newer than the
// working copy.
[[nodiscard]] bool SaveAndPublish(const Locations &locations, const KeywordList &list, QString *error);
