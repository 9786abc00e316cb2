#pragma once

#include "KeywordMerge.h"

#include <QString>

#include <chrono>
#include <functional>

class KeywordList;
struct LastSeen;
struct Locations;

// The keyword store's file operations. Each returns false on failure and then
// sets error to a description a person can act on: what was being done, the
// full path, and the system's reason.

// Appends the working copy's keywords, in file order, to the list, and notes
// them in seen. The working copy must exist; it is never created here.
[[nodiscard]] bool LoadWorkingCopy(const Locations &locations, KeywordList &list, QString *error,
                                   LastSeen *seen = nullptr);

// Creates the filter directory when nothing of that name exists. Anything
// already there, even a plain file, is left alone.
[[nodiscard]] bool EnsureFilterDirectory(const Locations &locations, QString *error);

// Once per run, before the main window is shown.
[[nodiscard]] bool RunStartUp(const Locations &locations, KeywordList &list, QString *error,
                              LastSeen *seen = nullptr);

// How long a save waits for another save of the same list to finish.
inline constexpr std::chrono::seconds SaveWait{5};

enum class OnChange { Merge, Overwrite, Cancel };
// Asked when the working copy holds other keywords than it did when last seen.
using ChangedQuestion = std::function<OnChange(const QString &path, const KeywordMerge::Changes &theirs)>;

// Writes the list to the working copy, then publishes the very same bytes as
// the published copy. A list that the file could not hold faithfully is
// refused before any file is touched. Each copy is replaced in one step, so a
// failure leaves it as it was; the published copy is never newer than the
// working copy.
//
// With seen, a working copy that someone else has changed since is not
// overwritten unasked: ask chooses (without ask, Merge), a merge puts the
// merged keywords in the list, and seen follows what was written. Cancel
// writes nothing and returns false with an empty error. Saves of one list
// take turns, each waiting at most SaveWait for the one before. Every save,
// failed or not, leaves a line in the system log.
[[nodiscard]] bool SaveAndPublish(const Locations &locations, KeywordList &list, QString *error,
                                  LastSeen *seen = nullptr, const ChangedQuestion &ask = {});
