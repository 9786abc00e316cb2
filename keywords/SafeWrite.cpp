#include "SafeWrite.h"

#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// QSaveFile does not always pass on the system's reason: a buffered write
// that fails at flush time says "Unknown error", and a read-only file system
// shows as "Existing file ... is not writable". errno still holds it.
QString Reason(const QFileDevice &file, int systemError)
{
    const QString reason = file.errorString();
    if (systemError == 0)
        return reason;
    const QString system = qt_error_string(systemError);
    if (reason.isEmpty() || reason == QLatin1String("Unknown error"))
        return system;
    if (reason.contains(system))
        return reason;
    return QStringLiteral("%1（%2）").arg(reason, system);
}

QString FollowLinks(const QString &path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < 64 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.filePath();
}

bool SyncFile(QSaveFile &file, QString *reason)
{
#ifdef Q_OS_UNIX
    if (::fsync(file.handle()) != 0) {
        *reason = qt_error_string(errno);
        return false;
    }
#else
    Q_UNUSED(file);
    Q_UNUSED(reason);
#endif
    return true;
}

// The rename is only durable once the directory that holds the new name is.
bool SyncDirectory(const QString &directory, QString *reason)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        *reason = qt_error_string(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
#else
    Q_UNUSED(directory);
    Q_UNUSED(reason);
#endif
    return true;
}

} // namespace

bool WriteFileSafely(const QString &path, const QByteArray &bytes, QString *reason)
{
    const QString target = FollowLinks(path);
    const bool isNew = !QFileInfo::exists(target);

    QSaveFile file(target);
    file.setDirectWriteFallback(false);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly)) {
        *reason = Reason(file, errno);
        return false;
    }
    // flush() must be checked before commit(): commit() ignores a failed
    // flush of a small buffer and would put an empty file in place.
    errno = 0;
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        *reason = Reason(file, errno);
        file.cancelWriting();
        return false;
    }
    if (!SyncFile(file, reason)) {
        file.cancelWriting();
        return false;
    }
    if (isNew
        && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                | QFileDevice::ReadGroup | QFileDevice::ReadOther)) {
        *reason = file.errorString();
        file.cancelWriting();
        return false;
    }
    errno = 0;
    if (!file.commit()) {
        *reason = Reason(file, errno);
        return false;
    }
    return SyncDirectory(QFileInfo(target).absolutePath(), reason);
}
