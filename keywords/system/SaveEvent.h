#pragma once

#include "SaveRecord.h"

#include <QByteArray>
#include <QString>

// The event a save leaves in the Windows Application log: event 1 of the
// source vantrel-filter, whose message is its one string as it is.
struct SaveEvent
{
    quint16 type = 0; // EVENTLOG_WARNING_TYPE for a failed save, else EVENTLOG_INFORMATION_TYPE
    QString text;     // who saved, then the record's line
    QByteArray user;  // the SID the Event Viewer shows in its User column; empty for none

    static SaveEvent Of(const SaveRecord &record, const QString &userName, quint32 processId,
                        const QByteArray &userSid);
};
