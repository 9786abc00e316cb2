#include "SaveRecord.h"

#include "Accounts.h"

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <tuple>
#include <unistd.h>

namespace {

QByteArray &Destination()
{
    static QByteArray socket = "/dev/log";
    return socket;
}

} // namespace

void SaveRecord::SetDestination(const QString &destination)
{
    Destination() = QFile::encodeName(destination);
}

// Sent as syslog(3) sends it, but without ever waiting: a log daemon that
// has stopped reading must not hold up a save.
void SaveRecord::Send() const
{
    const QByteArray &socketPath = Destination();
    struct sockaddr_un address
    { };
    address.sun_family = AF_UNIX;
    if (socketPath.isEmpty() || size_t(socketPath.size()) >= sizeof address.sun_path)
        return;
    std::copy(socketPath.cbegin(), socketPath.cend(), address.sun_path);

    const uid_t user = ::geteuid();
    const QString name = Accounts::UserName(user);
    // The month in English whatever the locale, as log readers expect.
    static const char months[][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t now = std::time(nullptr);
    struct tm local
    { };
    ::localtime_r(&now, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%s %2d %02d:%02d:%02d", months[local.tm_mon], local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec);
    // An audit trail of a security control: the private authorisation facility.
    const QByteArray datagram = '<' + QByteArray::number(LOG_AUTHPRIV | LOG_NOTICE) + '>' + stamp + " vantrel-filter["
                              + QByteArray::number(::getpid()) + "]: "
                              + QStringLiteral("user=%1 uid=%2 ").arg(name).arg(user).toUtf8() + Line().toUtf8();

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    std::ignore = ::sendto(fd, datagram.constData(), size_t(datagram.size()), MSG_DONTWAIT | MSG_NOSIGNAL,
                           reinterpret_cast<const struct sockaddr *>(&address), sizeof address);
    ::close(fd);
}
