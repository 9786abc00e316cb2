#include "SafeFilePosix.h"

#include "Accounts.h"

#include <QFile>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/xattr.h>
#include <tuple>

using namespace SafeFilePlatform;
using namespace SafeFilePosix;

namespace {

// Whether someone who reads the file now would be shut out once the file is
// replaced by one owned by this process, keeping what it may keep.
bool NarrowsReaders(const struct stat &old)
{
    const uid_t me = ::geteuid();
    if (me == 0 || old.st_mode & S_IROTH)
        return false;
    const bool keepsGroup = Accounts::InGroup(me, old.st_gid);
    if (!keepsGroup && old.st_mode & S_IRGRP)
        return true;
    const bool ownerStillReads = old.st_uid == me || old.st_uid == 0
                              || (old.st_mode & S_IRGRP && keepsGroup && Accounts::InGroup(old.st_uid, old.st_gid));
    return old.st_mode & S_IRUSR && !ownerStillReads;
}

// Extended attributes cannot be read through an O_PATH descriptor itself, but
// can through its entry in /proc, which names the very file it holds.
QByteArray ProcPath(int fd)
{
    return "/proc/self/fd/" + QByteArray::number(fd);
}

bool WriteWhole(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t wrote =
                Retried([&] { return ::write(fd, bytes.constData() + done, size_t(bytes.size() - done)); });
        if (wrote < 0)
            return false;
        done += wrote;
    }
    return true;
}

// Whether the file's owner reads it by the owner's bits alone, and would no
// longer read a copy that someone else owns.
bool OwnerReadsAlone(const Kept &old)
{
    return old.owner != 0 && old.mode & S_IRUSR && !(old.mode & S_IROTH)
        && !(old.mode & S_IRGRP && Accounts::InGroup(old.owner, old.group));
}

// The group, and the owner where this process may set it, else the group
// alone where it may; Inspect has refused the cases where what it may not
// set would shut a reader out. Root's save makes the copy root's, so that
// an operator who saved before can no longer open it to anyone, unless that
// would shut its owner out. A new file takes the folder's group.
void TakeOwners(int fd, const Kept &old, gid_t folderGroup)
{
    const uid_t owner = ::geteuid() == 0 && !OwnerReadsAlone(old) ? 0 : old.owner;
    if (old.exists && ::fchown(fd, owner, old.group) == 0)
        return;
    std::ignore = ::fchown(fd, uid_t(-1), old.exists ? old.group : folderGroup);
}

bool TakeAcl(int fd, const Kept &old)
{
    if (!old.acl.isEmpty())
        return ::fsetxattr(fd, AclName, old.acl.constData(), size_t(old.acl.size()), 0) == 0;
    // The folder's default ACL gave the new file one that the old file had not.
    if (old.exists && ::fremovexattr(fd, AclName) != 0)
        return errno == ENODATA || errno == ENOTSUP;
    return true;
}

} // namespace

bool SafeFile::Inspect(Error *error)
{
    Kept &old = m_held->old;
    old = {};
    m_held->tightened = false;
    Descriptor file(::openat(m_held->folder.get(), m_held->name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!file.ok() && errno == ENOENT)
        return true;
    if (!file.ok() || ::fstat(file.get(), &st) != 0)
        return Fail(error, Step::Inspect, errno, m_path);
    // A link that appeared since the path was reached is replaced, not followed.
    if (S_ISLNK(st.st_mode))
        return true;
    if (S_ISDIR(st.st_mode))
        return Fail(error, Step::Inspect, EISDIR, m_path);
    if (NarrowsReaders(st))
        return Fail(error, Step::Inspect, 0, m_path, Cause::NarrowsReaders, &st);

    const QByteArray proc = ProcPath(file.get());
    ssize_t size = ::getxattr(proc.constData(), AclName, nullptr, 0);
    if (size > 0) {
        old.acl.resize(size);
        size = ::getxattr(proc.constData(), AclName, old.acl.data(), size_t(size));
    }
    if (size < 0 && errno != ENODATA && errno != ENOTSUP)
        return Fail(error, Step::Inspect, errno, m_path);
    old.acl.truncate(qMax<ssize_t>(size, 0));
    old.exists = true;
    old.owner = st.st_uid;
    old.group = st.st_gid;
    // A keyword list is no program: a set-id bit on it was never meant. Nor
    // may anyone who is not trusted to save change it.
    old.mode = st.st_mode & 07777 & ~(S_ISUID | S_ISGID | S_IWOTH);
    m_held->tightened = st.st_mode & S_IWOTH;
    return true;
}

bool SafeFile::Tightened() const
{
    return m_held->tightened;
}

// A reader never keeps a rename from taking the name here: wait is Windows'.
bool SafeFile::Replace(const QByteArray &bytes, Error *error, const std::function<bool()> &unchanged,
                       std::chrono::milliseconds)
{
    const Kept &old = m_held->old;
    Descriptor folder(::openat(m_held->folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat folderStat;
    if (!folder.ok() || ::fstat(folder.get(), &folderStat) != 0)
        return Fail(error, Step::Create, errno, m_folderPath);
    RemoveLeftovers();

    const QByteArray &name = m_held->name;
    const QByteArray temporary = QFile::encodeName(LeftoverName(QFile::decodeName(name), ::getpid()));
    Descriptor file(
            ::openat(folder.get(), temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.ok())
        return Fail(error, Step::Create, errno, m_folderPath, Cause::System, &folderStat);
    auto abandon = [&](Step step) {
        const int code = errno;
        ::unlinkat(folder.get(), temporary.constData(), 0);
        return Fail(error, step, code, m_path);
    };

    // 0600 whatever the umask until the file is whole: nobody else reads a half list.
    if (::fchmod(file.get(), 0600) != 0 || !WriteWhole(file.get(), bytes))
        return abandon(Step::Write);
    TakeOwners(file.get(), old, folderStat.st_gid);
    // The ACL before the mode: each sets the group bits from the other.
    if (!TakeAcl(file.get(), old) || ::fchmod(file.get(), old.exists ? old.mode : 0644) != 0
        || ::fsync(file.get()) != 0)
        return abandon(Step::Write);
    if (unchanged && !unchanged()) {
        ::unlinkat(folder.get(), temporary.constData(), 0);
        return Fail(error, Step::Rename, 0, m_path, Cause::Changed);
    }
    if (::renameat(folder.get(), temporary.constData(), folder.get(), name.constData()) != 0)
        return abandon(Step::Rename);
    if (::fsync(folder.get()) != 0)
        return Fail(error, Step::Confirm, errno, m_folderPath);
    return true;
}

bool SafeFile::FolderOpenToOthers(Error *warning) const
{
    struct stat st;
    if (::fstat(m_held->folder.get(), &st) != 0)
        return false;
    const QString quoted = u'"' + m_folderPath + u'"';
    if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
        Fail(warning, Step::Inspect, 0, m_folderPath, Cause::FolderOpen, &st);
        warning->owner = QStringLiteral("它的所有者 %1 随时让别人").arg(warning->owner);
        warning->detail = QStringLiteral("请管理员执行“chown root %1”").arg(quoted);
        return true;
    }
    if (!(st.st_mode & S_IWOTH))
        return false;
    Fail(warning, Step::Inspect, 0, m_folderPath, Cause::FolderOpen, &st);
    warning->owner =
            QStringLiteral("所有用户（权限 %1）").arg(QString::number(st.st_mode & 07777, 8).rightJustified(4, u'0'));
    warning->detail = QStringLiteral("请管理员执行“chmod o-w %1”").arg(quoted);
    return true;
}

// A save killed midway leaves its new file behind under a name that holds its
// process id; once that process is gone, nobody will finish it.
void SafeFile::RemoveLeftovers() const
{
    Descriptor folder(::openat(m_held->folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR *entries = folder.ok() ? ::fdopendir(folder.get()) : nullptr;
    if (!entries)
        return;
    folder.release(); // closedir closes it
    const QString name = QFile::decodeName(m_held->name);
    while (const struct dirent *entry = ::readdir(entries)) {
        // EPERM means a live process of another user: only ESRCH means gone.
        const pid_t pid = pid_t(LeftoverProcess(QFile::decodeName(entry->d_name), name));
        if (pid != 0 && (pid == ::getpid() || (::kill(pid, 0) != 0 && errno == ESRCH)))
            ::unlinkat(::dirfd(entries), entry->d_name, 0);
    }
    ::closedir(entries);
}
