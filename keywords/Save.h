#pragma once

#include "KeywordStore.h"
#include "SaveRecord.h"
#include "system/SafeFile.h"

#include <QElapsedTimer>

// One save of the keyword store, in the order its steps run: refuse what the
// file cannot hold, reach both copies, reconcile with someone else's changes,
// take the lock, write the working copy, publish. Each step that fails says
// why in the words the user sees and ends the save.
class Save
{
public:
    // Whom the save asks, and tells while it waits.
    struct Person
    {
        const ChangedQuestion &ask;
        const WaitingNotice &waiting;
    };
    Save(KeywordStore &store, const QStringList &keywords, const Person &person, SaveRecord &record);
    SaveResult Run();

private:
    enum class Written { Done, Failed, ChangedMeanwhile };
    enum class Published { Whole, Unconfirmed, Refused };

    bool Fail(const QString &message);
    bool Cancel();
    bool Encode(const QStringList &keywords, bool merged = false);
    bool ReachBothCopies();
    bool InspectBothCopies();
    bool PublishedCopyRefused();
    bool Reconcile();
    bool TakeTheLock();
    Written WriteWorkingCopy();
    void Saved();
    Published Publish();
    bool FailWorking(const SafeFile::Error &failure);

    KeywordStore &m_store;
    const Locations &m_at;
    const QStringList &m_mine; // what the caller saves
    Person m_person;
    SaveRecord &m_record;
    SaveResult m_result;

    SafeFile m_working;
    SafeFile m_published;
    // Whether the published copy can be written; when not, why.
    bool m_publishable = false;
    SafeFile::Error m_publishFailure;

    QStringList m_texts; // what this save writes: the caller's list, or merged with theirs
    QByteArray m_bytes;
    QByteArray m_mineBytes;
    bool m_merged = false;
    QByteArray m_found; // the working copy as Reconcile read it
    bool m_exists = false;
    // Time has passed since the copies were inspected (a question was open,
    // or the working copy changed under a pass): inspect them again before
    // writing.
    bool m_inspectAgain = false;
    // Since the working copy first changed under a pass, and how long the
    // questions have taken meanwhile.
    QElapsedTimer m_retrying;
    qint64 m_asking = 0;
    int m_passCount = 0;
    QString m_unconfirmed;
};
