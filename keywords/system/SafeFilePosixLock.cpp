#include "SafeFilePosix.h"

#include "Accounts.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <array>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/xattr.h>
#include <tuple>
#include <utility>

using namespace SafeFilePlatform;
using namespace SafeFilePosix;

namespace {

// The first entry of the file's POSIX access ACL, as the kernel stores it,
// that names a user or a group of its own ("user:mallory:rw-"); empty when
// there is none.
QString NamedEntry(int fd)
{
    constexpr size_t Header = 4, Entry = 8;
    constexpr quint16 NamedUser = 0x02, NamedGroup = 0x08;
    std::array<char, 1024> acl;
    const ssize_t size = ::fgetxattr(fd, AclName, acl.data(), acl.size());
    for (size_t at = Header; size > 0 && at + Entry <= size_t(size); at += Entry) {
        quint16 tag, permissions;
        quint32 id;
        std::memcpy(&tag, acl.data() + at, sizeof tag);
        std::memcpy(&permissions, acl.data() + at + 2, sizeof permissions);
        std::memcpy(&id, acl.data() + at + 4, sizeof id);
        tag = qFromLittleEndian(tag);
        permissions = qFromLittleEndian(permissions);
        id = qFromLittleEndian(id);
        if (tag != NamedUser && tag != NamedGroup)
            continue;
        const QString rights = QString(permissions & 4 ? u'r' : u'-') + (permissions & 2 ? u'w' : u'-')
                             + (permissions & 1 ? u'x' : u'-');
        return tag == NamedUser ? QStringLiteral("user:%1:%2").arg(Accounts::UserName(id), rights)
                                : QStringLiteral("group:%1:%2").arg(Accounts::GroupName(id), rights);
    }
    return {};
}

// Why the lock file is not one that only those who may save can open, and
// what an administrator does about it; nothing when it is. The one file
// trusted is a plain file of one name, root's or the saver's (an owner may
// open it to anyone at any time), of the folder's group, open to nobody else.
std::optional<SafeFile::Cause> Untrusted(const struct stat &st, const QString &namedEntry, gid_t folderGroup,
                                         const QString &path, SafeFile::Error *error)
{
    using Cause = SafeFile::Cause;
    const QString quoted = u'"' + path + u'"';
    if (!S_ISREG(st.st_mode))
        return Cause::NotAFile;
    if (st.st_nlink != 1) {
        error->number = qint64(st.st_nlink);
        error->detail = QStringLiteral("rm ") + quoted;
        return Cause::LockLinks;
    }
    if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
        error->detail = QStringLiteral("chown root ") + quoted;
        return Cause::LockOwner;
    }
    if (st.st_gid != folderGroup) {
        error->detail = QStringLiteral("chgrp %1 %2").arg(Accounts::GroupName(folderGroup), quoted);
        return Cause::LockGroup;
    }
    if (!namedEntry.isEmpty()) {
        error->owner = QStringLiteral("ACL 项 %1 所指的账户").arg(namedEntry);
        error->detail = QStringLiteral("setfacl -b ") + quoted;
        return Cause::OpenToOthers;
    }
    if (st.st_mode & S_IRWXO) {
        error->owner = QStringLiteral("所有用户（权限 %1）")
                               .arg(QString::number(st.st_mode & 07777, 8).rightJustified(4, u'0'));
        error->detail = QStringLiteral("chmod o= ") + quoted;
        return Cause::OpenToOthers;
    }
    return std::nullopt;
}

// A lock file of the saver's own, of one name, is made the folder's group's
// alone; any other is used only as it is.
void Tighten(int fd, const struct stat &st, gid_t folderGroup)
{
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid())
        return;
    if (st.st_gid != folderGroup)
        std::ignore = ::fchown(fd, uid_t(-1), folderGroup);
    if (!NamedEntry(fd).isEmpty())
        std::ignore = ::fremovexattr(fd, AclName);
    if (st.st_mode & (S_IRWXO | S_ISUID | S_ISGID | S_ISVTX))
        std::ignore = ::fchmod(fd, st.st_mode & 0770);
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

// The lock file in the folder. The first save makes it for the folder's group
// alone: whoever may not open it for writing cannot take the lock, nor hold
// up a save. One found there is checked before it is used or changed.
bool SafeFile::Lock(std::chrono::milliseconds wait, Error *error, const std::function<bool(const Error &busy)> &waiting)
{
    const QByteArray name = QFile::encodeName(LockName(QFile::decodeName(m_held->name)));
    const QString lockPath = QDir::cleanPath(m_folderPath + u'/' + QFile::decodeName(name));
    const int folderFd = m_held->folder.get();
    struct stat folder, st;
    if (::fstat(folderFd, &folder) != 0)
        return Fail(error, Step::Lock, errno, m_folderPath);
    const auto refuse = [&](const struct stat &found, const QString &entry) {
        Error judged;
        const std::optional<Cause> cause = Untrusted(found, entry, folder.st_gid, lockPath, &judged);
        if (!cause)
            return false;
        Fail(error, Step::Lock, 0, lockPath, *cause, &found);
        error->number = judged.number;
        error->detail = judged.detail;
        if (!judged.owner.isEmpty())
            error->owner = judged.owner;
        return true;
    };

    Descriptor file(::openat(folderFd, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0660));
    if (file.ok()) {
        std::ignore = ::fchown(file.get(), uid_t(-1), folder.st_gid);
        std::ignore = ::fchmod(file.get(), 0660);
    } else if (errno == EEXIST) {
        file.reset(Retried(
                [&] { return ::openat(folderFd, name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }));
    }
    if (!file.ok()) {
        const int code = errno;
        // Someone who may not write the folder may not save; a lock file that
        // cannot be opened for another reason is told as what it is.
        if ((code == EACCES || code == EPERM || code == EROFS) && ::faccessat(folderFd, ".", W_OK, AT_EACCESS) != 0)
            return Fail(error, Step::Create, code, m_folderPath, Cause::System, &folder);
        struct stat found;
        const bool there = ::fstatat(folderFd, name.constData(), &found, AT_SYMLINK_NOFOLLOW) == 0;
        if (there && refuse(found, {}))
            return false;
        return Fail(error, Step::Lock, code, lockPath, Cause::System, there ? &found : nullptr);
    }
    if (::fstat(file.get(), &st) != 0)
        return Fail(error, Step::Lock, errno, lockPath);
    Tighten(file.get(), st, folder.st_gid);
    if (::fstat(file.get(), &st) != 0)
        return Fail(error, Step::Lock, errno, lockPath);
    // Anyone else who may open it could hold a read lock that keeps every save out.
    if (refuse(st, NamedEntry(file.get())))
        return false;

    // A process's lock, not one of its open file description: the kernel can
    // then tell who holds it. This is the one descriptor of the file the
    // program opens, so no other close lets it go.
    struct flock lock
    { };
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
    switch (TakeWithin(
            wait,
            [&] {
                if (::fcntl(file.get(), F_SETLK, &lock) == 0)
                    return Attempt::Taken;
                // A file system without locks saves unguarded, as before there was a lock.
                return errno == EACCES || errno == EAGAIN || errno == EINTR ? Attempt::Busy
                     : errno == ENOLCK                                      ? Attempt::Unguarded
                                                                            : Attempt::Failed;
            },
            keepWaiting)) {
    case Attempt::Taken:
        m_held->lock = std::move(file);
        return true;
    case Attempt::Unguarded:
        return true;
    case Attempt::Failed:
        return Fail(error, Step::Lock, errno, lockPath);
    case Attempt::GaveUp:
        return Fail(error, Step::Lock, 0, lockPath, Cause::GaveUp);
    case Attempt::Busy:
        break;
    }
    busy(error);
    return false;
}

void SafeFile::Unlock()
{
    m_held->lock.reset();
}
