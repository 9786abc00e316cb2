#include "SaveEvent.h"

#include <windows.h>

SaveEvent SaveEvent::Of(const SaveRecord &record, const QString &userName, quint32 processId, const QByteArray &userSid)
{
    return {quint16(record.result == SaveRecord::Result::Failed ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE),
            QStringLiteral("user=%1 pid=%2 ").arg(userName.isEmpty() ? QStringLiteral("?") : userName).arg(processId)
                    + record.Line(),
            userSid};
}
