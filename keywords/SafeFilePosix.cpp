#include "SafeFile.h"

#include "Accounts.h"
#include "SafeFilePlatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <tuple>
#include <unistd.h>
#include <utility>

using namespace SafeFilePlatform;

namespace {

constexpr char AclName[] = "system.posix_acl_access";

struct DescriptorTraits
{
    using Type = int;
    static int Invalid() { return -1; }
    static void Close(int fd) { ::close(fd); }
};
using Descriptor = UniqueHandle<DescriptorTraits>;

// A system call again for as long as a signal interrupts it.
template<typename Call>
auto Retried(Call &&call)
{
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR)
            return result;
    }
}

Descriptor OpenRoot()
{
    return Descriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
}

bool Fail(SafeFile::Error *error, SafeFile::Step step, int code, const QString &path,
          SafeFile::Cause cause = SafeFile::Cause::System, const struct stat *at = nullptr)
{
    *error = {step, cause, code, QDir::cleanPath(path), {}, {}, 0};
    if (at) {
        error->owner = Accounts::UserName(at->st_uid);
        error->group = Accounts::GroupName(at->st_gid);
        error->mode = int(at->st_mode & 07777);
    }
    return false;
}

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

// The way from "/" to the file, one part at a time, each opened beneath the
// folder that was checked before it.
struct Walk
{
    Way<QByteArray> way;
    Descriptor folder = OpenRoot();
    QString folderPath = QStringLiteral("/");

    void BackToRoot()
    {
        folder = OpenRoot();
        folderPath = QStringLiteral("/");
    }

    // Puts the link's target in the way, when the link may be followed.
    bool Follow(const Descriptor &link, const struct stat &st, const QString &linkPath, SafeFile::Error *error)
    {
        constexpr auto Reach = SafeFile::Step::Reach;
        if (!SafeFile::MayFollow(QString::number(st.st_uid), QString::number(::geteuid())))
            return Fail(error, Reach, 0, linkPath, SafeFile::Cause::ForeignLink, &st);
        if (!way.TakeLink())
            return Fail(error, Reach, ELOOP, linkPath);
        char target[PATH_MAX];
        const ssize_t length = ::readlinkat(link.get(), "", target, sizeof target);
        if (length < 0)
            return Fail(error, Reach, errno, linkPath);
        if (size_t(length) == sizeof target) // the target may go on beyond the buffer
            return Fail(error, Reach, ENAMETOOLONG, linkPath);
        way.Push(QByteArray(target, length), '/');
        if (target[0] == '/')
            BackToRoot();
        return true;
    }
};

// What the new file takes over from the one it replaces.
struct Kept
{
    bool exists = false;
    uid_t owner = 0;
    gid_t group = 0;
    mode_t mode = 0644;
    QByteArray acl; // the POSIX access ACL as stored, empty when none
};

bool WriteWhole(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t wrote = Retried([&] { return ::write(fd, bytes.constData() + done, size_t(bytes.size() - done)); });
        if (wrote < 0)
            return false;
        done += wrote;
    }
    return true;
}

// Owner and group where this process may set them, else the group alone
// where it may; Inspect has refused the cases where what it may not set
// would shut a reader out. A new file takes the folder's group.
void TakeOwners(int fd, const Kept &old, gid_t folderGroup)
{
    if (old.exists && ::fchown(fd, old.owner, old.group) == 0)
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

struct SafeFile::Held
{
    Descriptor folder; // O_PATH descriptor of the folder that holds the file
    QByteArray name;
    Kept old;
    Descriptor lock;
};

SafeFile::SafeFile(const QString &path)
    : m_path(path), m_held(std::make_unique<Held>())
{
}

SafeFile::~SafeFile() = default;

bool SafeFile::Reach(Error *error)
{
    Walk walk;
    walk.way.Push(QFile::encodeName(QFileInfo(m_path).absoluteFilePath()), '/');
    while (!walk.way.Done()) {
        const QByteArray part = walk.way.Next();
        const bool last = walk.way.Done();
        const QString partPath = QDir::cleanPath(walk.folderPath + u'/' + QFile::decodeName(part));
        Descriptor next(::openat(walk.folder.get(), part.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (!next.ok() || ::fstat(next.get(), &st) != 0) {
            if (errno != ENOENT || !last)
                return Fail(error, Step::Reach, errno, partPath);
            st.st_mode = S_IFREG; // not there yet: a save will create it
        }
        if (S_ISLNK(st.st_mode)) {
            if (!walk.Follow(next, st, partPath, error))
                return false;
        } else if (last) {
            m_held->folder = std::move(walk.folder);
            m_held->name = part;
            m_folderPath = walk.folderPath;
            return true;
        } else if (!S_ISDIR(st.st_mode)) {
            return Fail(error, Step::Reach, ENOTDIR, partPath);
        } else {
            walk.folder = std::move(next);
            walk.folderPath = partPath;
        }
    }
    return Fail(error, Step::Reach, EISDIR, m_path);
}

bool SafeFile::Read(QByteArray *bytes, Error *error) const
{
    // O_NONBLOCK: a FIFO planted at the name must not hold the open up until
    // someone writes to it.
    Descriptor file(Retried([&] {
        return ::openat(m_held->folder.get(), m_held->name.constData(),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    }));
    struct stat st;
    if (!file.ok() || ::fstat(file.get(), &st) != 0)
        return Fail(error, Step::Read, errno, m_path);
    if (S_ISDIR(st.st_mode))
        return Fail(error, Step::Read, EISDIR, m_path);
    if (!S_ISREG(st.st_mode))
        return Fail(error, Step::Read, 0, m_path, Cause::NotAFile);

    const auto readSome = [&](char *buffer, qint64 room) {
        return qint64(Retried([&] { return ::read(file.get(), buffer, size_t(room)); }));
    };
    switch (ReadWhole(st.st_size, readSome, bytes)) {
    case Reading::Done: return true;
    case Reading::Failed: return Fail(error, Step::Read, errno, m_path);
    case Reading::TooLarge: break;
    }
    Fail(error, Step::Read, 0, m_path, Cause::TooLarge);
    error->number = qMax<qint64>(st.st_size, MaxSize + 1);
    return false;
}

bool SafeFile::Inspect(Error *error)
{
    Kept &old = m_held->old;
    old = {};
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
    // A keyword list is no program: a set-id bit on it was never meant.
    old.mode = st.st_mode & 07777 & ~(S_ISUID | S_ISGID);
    return true;
}

bool SafeFile::Replace(const QByteArray &bytes, Error *error, const std::function<bool()> &unchanged)
{
    const Kept &old = m_held->old;
    Descriptor folder(::openat(m_held->folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat folderStat;
    if (!folder.ok() || ::fstat(folder.get(), &folderStat) != 0)
        return Fail(error, Step::Create, errno, m_folderPath);
    RemoveLeftovers();

    const QByteArray &name = m_held->name;
    const QByteArray temporary = QFile::encodeName(LeftoverName(QFile::decodeName(name), ::getpid()));
    Descriptor file(::openat(folder.get(), temporary.constData(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
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

bool SafeFile::Lock(std::chrono::milliseconds wait, Error *error)
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
    switch (TakeWithin(wait, [&] {
        if (::fcntl(file.get(), F_SETLK, &lock) == 0)
            return Attempt::Taken;
        // A file system without locks saves unguarded, as before there was a lock.
        return errno == EACCES || errno == EAGAIN || errno == EINTR ? Attempt::Busy
               : errno == ENOLCK                                   ? Attempt::Unguarded
                                                                   : Attempt::Failed;
    })) {
    case Attempt::Taken: m_held->lock = std::move(file); return true;
    case Attempt::Unguarded: return true;
    case Attempt::Failed: return Fail(error, Step::Lock, errno, lockPath);
    case Attempt::Busy: break;
    }
    Fail(error, Step::Lock, 0, lockPath, Cause::Busy);
    NameHolder(file.get(), lock, error);
    return false;
}

void SafeFile::Unlock()
{
    m_held->lock.reset();
}

bool SafeFile::MakeFolder(const QString &path, Error *error)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::lstat(name.constData(), &st) == 0)
        return true;
    if (::mkdir(name.constData(), 0755) != 0)
        return Fail(error, Step::MakeFolder, errno, path);
    // 0755 whatever the umask: the web-server filter runs as another user.
    const Descriptor folder(::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.ok() || ::fchmod(folder.get(), 0755) != 0)
        return Fail(error, Step::MakeFolder, errno, path);
    return true;
}

bool SafeFile::MayFollow(const QString &linkOwner, const QString &user)
{
    return linkOwner == u"0" || linkOwner == user;
}

namespace SafeFilePlatform {

Failure Classify(int code)
{
    switch (code) {
    case ENOENT: return Failure::NotThere;
    case ENOTDIR: return Failure::NotAFolder;
    case EACCES:
    case EPERM: return Failure::Denied;
    case EROFS: return Failure::ReadOnly;
    case EBUSY: return Failure::MountedAlone;
    default: return Failure::Other;
    }
}

QString CurrentUserName()
{
    return Accounts::UserName(::geteuid());
}

const Words &PlatformWords()
{
    static const Words words{
        QStringLiteral("符号链接"),
        QStringLiteral("root"),
        QStringLiteral("adduser %2 %1"),
        QStringLiteral("。请由管理员（root）启动一次本程序，或安装本程序的软件包，它们会创建这个文件夹"),
    };
    return words;
}

} // namespace SafeFilePlatform
