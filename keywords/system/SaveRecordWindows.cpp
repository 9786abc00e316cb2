#include "SaveRecord.h"

#include "WindowsAccounts.h"

#include <windows.h>

#include <iterator>

namespace {

// The one message in the program's message table (cmake/windows/messages.mc),
// "%1": the Event Viewer shows the record as it is.
constexpr DWORD SaveRecordEvent = 1;

// The event source the record is filed under in the Application log.
QString &Destination()
{
    static QString source = QStringLiteral("vantrel-filter");
    return source;
}

} // namespace

void SaveRecord::SetDestination(const QString &destination)
{
    Destination() = destination;
}

void SaveRecord::Send() const
{
    const QString &source = Destination();
    if (source.isEmpty())
        return;
    wchar_t name[256];
    DWORD length = DWORD(std::size(name));
    const QString user = ::GetUserNameW(name, &length) ? QString::fromWCharArray(name) : QStringLiteral("?");
    const QString line = QStringLiteral("user=%1 pid=%2 ").arg(user).arg(::GetCurrentProcessId()) + Line();

    HANDLE log = ::RegisterEventSourceW(nullptr, reinterpret_cast<const wchar_t *>(source.utf16()));
    if (!log)
        return;
    const wchar_t *strings[] = {reinterpret_cast<const wchar_t *>(line.utf16())};
    const WORD type = result == Result::Failed ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE;
    QByteArray sid = WindowsAccounts::CurrentUser(); // the event's user
    ::ReportEventW(log, type, 0, SaveRecordEvent, sid.isEmpty() ? nullptr : sid.data(), 1, 0, strings, nullptr);
    ::DeregisterEventSource(log);
}
