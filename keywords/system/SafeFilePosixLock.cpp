#include "SafeFilePosix.h"

#include "Accounts.h"

#include <QDir>
#include <QFile>

#include <chrono>
#include <fcntl.h>
#include <tuple>
#include <utility>

using namespace SafeFilePlatform;
using namespace SafeFilePosix;

namespace {

// The lock file in the folder. The first save makes it for the folder's group
// alone: whoever may not open it for writing cannot take the lock, nor hold
// up a save.
Descriptor OpenLockFile(int folder, const QByteArray &name, gid_t group)
{
    Descriptor file(::openat(folder, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0660));
    if (file.ok()) {
        std::ignore = ::fchown(file.get(), uid_t(-1), group);
        std::ignore = ::fchmod(file.get(), 0660);
    } else if (errno == EEXIST) {
        file.reset(Retried([&] { return ::openat(folder, name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }));
    }
    return file;
}

// Who holds the lock that lock asked for: the process, and the user it runs as.
void NameHolder(int fd, struct flock lock, SafeFile::Error *error)
{
    if (::fcntl(fd, F_GETLK, &lock) != 0 || lock.l_type == F_UNLCK || lock.l_pid <= 0)
        return;
    struct stat process;
    const QByteArray proc = "/proc/" + QByteArray::number(lock.l_pid);
    error->number = lock.l_pid;
    error->owner = ::stat(proc.constData(), &process) == 0 ? Accounts::UserName(process.st_uid) : QStringLiteral("?");
}

} // namespace

bool SafeFile::Lock(std::chrono::milliseconds wait, Error *error, const std::function<bool(const Error &busy)> &waiting)
{
    const QString name = LockName(QFile::decodeName(m_held->name));
    const QString lockPath = QDir::cleanPath(m_folderPath + u'/' + name);
    struct stat folder, st;
    if (::fstat(m_held->folder.get(), &folder) != 0)
        return Fail(error, Step::Lock, errno, m_folderPath);
    Descriptor file = OpenLockFile(m_held->folder.get(), QFile::encodeName(name), folder.st_gid);
    if (!file.ok() && (errno == EACCES || errno == EPERM || errno == EROFS))
        return Fail(error, Step::Create, errno, m_folderPath, Cause::System, &folder);
    if (!file.ok() || ::fstat(file.get(), &st) != 0)
        return Fail(error, Step::Lock, errno, lockPath);
    if (!S_ISREG(st.st_mode))
        return Fail(error, Step::Lock, 0, lockPath, Cause::NotAFile);
    // Anyone who may open it could hold a read lock that keeps every save out.
    if (st.st_mode & S_IRWXO && ::fchmod(file.get(), st.st_mode & 0770) != 0) {
        Fail(error, Step::Lock, 0, lockPath, Cause::OpenToOthers);
        error->owner = QStringLiteral("所有用户（权限 %1）").arg(QString::number(st.st_mode & 07777, 8).rightJustified(4, u'0'));
        return false;
    }
    // A process's lock, not one of its open file description: the kernel can
    // then tell who holds it. This is the one descriptor of the file the
    // program opens, so no other close lets it go.
    struct flock lock{};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const auto busy = [&](Error *busy) {
        Fail(busy, Step::Lock, 0, lockPath, Cause::Busy);
        NameHolder(file.get(), lock, busy);
    };
    const auto keepWaiting = [&] {
        Error holder;
        return !waiting || (busy(&holder), waiting(holder));
    };
    switch (TakeWithin(wait, [&] {
        if (::fcntl(file.get(), F_SETLK, &lock) == 0)
            return Attempt::Taken;
        // A file system without locks saves unguarded, as before there was a lock.
        return errno == EACCES || errno == EAGAIN || errno == EINTR ? Attempt::Busy
               : errno == ENOLCK                                   ? Attempt::Unguarded
                                                                   : Attempt::Failed;
    }, keepWaiting)) {
    case Attempt::Taken: m_held->lock = std::move(file); return true;
    case Attempt::Unguarded: return true;
    case Attempt::Failed: return Fail(error, Step::Lock, errno, lockPath);
    case Attempt::GaveUp: return Fail(error, Step::Lock, 0, lockPath, Cause::GaveUp);
    case Attempt::Busy: break;
    }
    busy(error);
    return false;
}

void SafeFile::Unlock()
{
    m_held->lock.reset();
}
