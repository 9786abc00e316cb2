#pragma once

#include "KeywordMerge.h"

#include <QString>

// The line a save leaves in the system log, so that operators who share one
// list can tell who changed what. Sending it never fails a save: where the
// log is unavailable, nothing is written.
class SaveRecord
{
public:
    enum class Result { Saved, Failed, Cancelled };

    Result result = Result::Failed;
    QString workingPath;
    QString publishedPath;
    bool workingWritten = false;
    bool publishedWritten = false;
    bool workingTightened = false; // others could write the copy before the save
    bool publishedTightened = false;
    bool counted = false;          // whether changes were worked out
    KeywordMerge::Changes changes; // against the working copy as the save found it
    QString reason;                // why it failed

    // Everything but who saved, as key=value pairs that stay the same from
    // one version to the next: the result, the counts and the copies first,
    // the keywords last, at most MaxLine bytes of UTF-8 in all, which any
    // syslog daemon keeps whole.
    QString Line() const;
    static constexpr qsizetype MaxLine = 4096;

    // Adds who saved and hands the line to the system log.
    void Send() const;
    // The system log unless changed; tests name a log of their own, an empty
    // name none at all.
    static void SetDestination(const QString &destination);
};
