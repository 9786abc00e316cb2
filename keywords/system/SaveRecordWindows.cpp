#include "SaveRecord.h"

#include "SaveEvent.h"
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
    SaveEvent event = SaveEvent::Of(*this, ::GetUserNameW(name, &length) ? QString::fromWCharArray(name) : QString(),
                                    ::GetCurrentProcessId(), WindowsAccounts::CurrentUser());
    HANDLE log = ::RegisterEventSourceW(nullptr, reinterpret_cast<const wchar_t *>(source.utf16()));
    if (!log)
        return;
    const wchar_t *strings[] = {reinterpret_cast<const wchar_t *>(event.text.utf16())};
    ::ReportEventW(log, event.type, 0, SaveRecordEvent, event.user.isEmpty() ? nullptr : event.user.data(), 1, 0,
                   strings, nullptr);
    ::DeregisterEventSource(log);
}
