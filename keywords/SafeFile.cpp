#include "SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <tuple>
#include <unistd.h>

namespace {

constexpr int MaxLinks = 40;
constexpr char AclName[] = "system.posix_acl_access";

class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    bool ok() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

bool Fail(SafeFile::Error *error, SafeFile::Step step, int code, const QString &path,
          SafeFile::Cause cause = SafeFile::Cause::System, const struct stat *at = nullptr)
{
    *error = {step, cause, code, QDir::cleanPath(path), 0, 0, 0};
    if (at) {
        error->owner = at->st_uid;
        error->group = at->st_gid;
        error->mode = at->st_mode & 07777;
    }
    return false;
}

bool InGroup(uid_t user, gid_t group)
{
    QList<gid_t> groups;
    if (user == ::geteuid()) {
        groups.resize(::getgroups(0, nullptr));
        groups.resize(qMax(0, ::getgroups(int(groups.size()), groups.data())));
        groups << ::getegid();
    } else if (const struct passwd *account = ::getpwuid(user)) {
        int count = 0;
        ::getgrouplist(account->pw_name, account->pw_gid, nullptr, &count);
        groups.resize(count);
        ::getgrouplist(account->pw_name, account->pw_gid, groups.data(), &count);
    }
    return groups.contains(group);
}

// Whether someone who reads the file now would be shut out once the file is
// replaced by one owned by this process, keeping what it may keep.
bool NarrowsReaders(const struct stat &old)
{
    const uid_t me = ::geteuid();
    if (me == 0 || old.st_mode & S_IROTH)
        return false;
    const bool keepsGroup = InGroup(me, old.st_gid);
    if (!keepsGroup && old.st_mode & S_IRGRP)
        return true;
    const bool ownerStillReads = old.st_uid == me || old.st_uid == 0
                                 || (old.st_mode & S_IRGRP && keepsGroup && InGroup(old.st_uid, old.st_gid));
    return old.st_mode & S_IRUSR && !ownerStillReads;
}

QByteArray ProcPath(int fd)
{
    return "/proc/self/fd/" + QByteArray::number(fd);
}

} // namespace

SafeFile::SafeFile(const QString &path)
    : m_path(path)
{
}

SafeFile::~SafeFile()
{
    if (m_folder >= 0)
        ::close(m_folder);
}

bool SafeFile::Reach(Error *error)
{
    QList<QByteArray> pending; // the parts still to walk, the next one last
    auto push = [&pending](const QByteArray &path) {
        const QList<QByteArray> parts = path.split('/');
        for (auto part = parts.crbegin(); part != parts.crend(); ++part)
            if (!part->isEmpty() && *part != ".")
                pending.append(*part);
    };
    push(QFile::encodeName(QFileInfo(m_path).absoluteFilePath()));

    Descriptor folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    QString folderPath = QStringLiteral("/");
    int links = 0;
    while (!pending.isEmpty()) {
        const QByteArray part = pending.takeLast();
        const QString partPath = QDir::cleanPath(folderPath + u'/' + QFile::decodeName(part));
        Descriptor next(::openat(folder.get(), part.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (!next.ok() || ::fstat(next.get(), &st) != 0) {
            if (errno != ENOENT || !pending.isEmpty())
                return Fail(error, Step::Reach, errno, partPath);
            st.st_mode = S_IFREG; // not there yet: a save will create it
        }
        if (S_ISLNK(st.st_mode)) {
            if (st.st_uid != 0 && st.st_uid != ::geteuid())
                return Fail(error, Step::Reach, 0, partPath, Cause::ForeignLink, &st);
            char target[PATH_MAX];
            const ssize_t length = ::readlinkat(next.get(), "", target, sizeof target);
            if (length < 0 || ++links > MaxLinks)
                return Fail(error, Step::Reach, length < 0 ? errno : ELOOP, partPath);
            push(QByteArray(target, length));
            if (target[0] == '/') {
                folder.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
                folderPath = QStringLiteral("/");
            }
        } else if (pending.isEmpty()) {
            m_folder = folder.release();
            m_name = part;
            m_folderPath = folderPath;
            return true;
        } else if (!S_ISDIR(st.st_mode)) {
            return Fail(error, Step::Reach, ENOTDIR, partPath);
        } else {
            folder.reset(next.release());
            folderPath = partPath;
        }
    }
    return Fail(error, Step::Reach, EISDIR, m_path);
}

bool SafeFile::Read(QByteArray *bytes, Error *error) const
{
    Descriptor file(::openat(m_folder, m_name.constData(),
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!file.ok() || ::fstat(file.get(), &st) != 0)
        return Fail(error, Step::Read, errno, m_path);
    if (S_ISDIR(st.st_mode))
        return Fail(error, Step::Read, EISDIR, m_path);
    if (!S_ISREG(st.st_mode))
        return Fail(error, Step::Read, 0, m_path, Cause::NotAFile);

    QByteArray data(qMax<qsizetype>(st.st_size + 1, 4096), Qt::Uninitialized);
    qsizetype used = 0;
    for (;;) {
        if (used == data.size())
            data.resize(data.size() * 2);
        const ssize_t got = ::read(file.get(), data.data() + used, size_t(data.size() - used));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Fail(error, Step::Read, errno, m_path);
        if (got == 0)
            break;
        used += got;
    }
    data.truncate(used);
    *bytes = std::move(data);
    return true;
}

bool SafeFile::Inspect(Error *error)
{
    m_exists = false;
    m_acl.clear();
    Descriptor old(::openat(m_folder, m_name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!old.ok() && errno == ENOENT)
        return true;
    if (!old.ok() || ::fstat(old.get(), &st) != 0)
        return Fail(error, Step::Inspect, errno, m_path);
    // A link that appeared since the path was reached is replaced, not followed.
    if (S_ISLNK(st.st_mode))
        return true;
    if (S_ISDIR(st.st_mode))
        return Fail(error, Step::Inspect, EISDIR, m_path);
    if (NarrowsReaders(st))
        return Fail(error, Step::Inspect, 0, m_path, Cause::NarrowsReaders, &st);

    const QByteArray proc = ProcPath(old.get());
    ssize_t size = ::getxattr(proc.constData(), AclName, nullptr, 0);
    if (size > 0) {
        m_acl.resize(size);
        size = ::getxattr(proc.constData(), AclName, m_acl.data(), size_t(size));
    }
    if (size < 0 && errno != ENODATA && errno != ENOTSUP)
        return Fail(error, Step::Inspect, errno, m_path);
    m_acl.truncate(qMax<ssize_t>(size, 0));
    m_exists = true;
    m_owner = st.st_uid;
    m_group = st.st_gid;
    m_mode = st.st_mode & 07777;
    return true;
}

bool SafeFile::Replace(const QByteArray &bytes, Error *error, const std::function<bool()> &unchanged)
{
    Descriptor folder(::openat(m_folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat folderStat;
    if (!folder.ok() || ::fstat(folder.get(), &folderStat) != 0)
        return Fail(error, Step::Create, errno, m_folderPath);
    RemoveLeftovers(folder.get());

    const QByteArray temporary = '.' + m_name + '.' + QByteArray::number(::getpid()) + ".tmp";
    Descriptor file(::openat(folder.get(), temporary.constData(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.ok())
        return Fail(error, Step::Create, errno, m_folderPath, Cause::System, &folderStat);
    auto abandon = [&](Step step) {
        const int code = errno;
        ::unlinkat(folder.get(), temporary.constData(), 0);
        return Fail(error, step, code, m_path);
    };

    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t wrote = ::write(file.get(), bytes.constData() + done, size_t(bytes.size() - done));
        if (wrote < 0 && errno != EINTR)
            return abandon(Step::Write);
        done += qMax<ssize_t>(wrote, 0);
    }
    // Owner and group where this process may set them, else the group alone
    // where it may; Inspect has refused the cases where what it may not set
    // would shut a reader out.
    if (!m_exists || ::fchown(file.get(), m_owner, m_group) != 0)
        std::ignore = ::fchown(file.get(), uid_t(-1), m_exists ? m_group : folderStat.st_gid);
    // The ACL before the mode: each sets the group bits from the other.
    if (!m_acl.isEmpty() ? ::fsetxattr(file.get(), AclName, m_acl.constData(), size_t(m_acl.size()), 0) != 0
                         : m_exists && ::fremovexattr(file.get(), AclName) != 0 && errno != ENODATA
                               && errno != ENOTSUP)
        return abandon(Step::Write);
    if (::fchmod(file.get(), m_exists ? m_mode : 0644) != 0 || ::fsync(file.get()) != 0)
        return abandon(Step::Write);
    // Two saves that both check hold the lock in turn, so neither renames over
    // what the other's check did not see. A file system without locks still saves.
    if (unchanged) {
        std::ignore = ::flock(folder.get(), LOCK_EX);
        if (!unchanged()) {
            ::unlinkat(folder.get(), temporary.constData(), 0);
            return Fail(error, Step::Rename, 0, m_path, Cause::Changed);
        }
    }
    if (::renameat(folder.get(), temporary.constData(), folder.get(), m_name.constData()) != 0)
        return abandon(Step::Rename);
    if (::fsync(folder.get()) != 0)
        return Fail(error, Step::Confirm, errno, m_folderPath);
    return true;
}

// A save killed midway leaves its new file behind under a name that holds its
// process id; once that process is gone, nobody will finish it.
void SafeFile::RemoveLeftovers(int folder) const
{
    DIR *entries = ::fdopendir(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!entries)
        return;
    const QByteArray prefix = '.' + m_name + '.';
    while (const struct dirent *entry = ::readdir(entries)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith(prefix) || !name.endsWith(".tmp"))
            continue;
        const QByteArray digits = name.mid(prefix.size(), name.size() - prefix.size() - 4);
        if (digits.isEmpty() || digits.size() > 9
            || !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(uchar(c)); }))
            continue;
        const pid_t pid = pid_t(digits.toInt());
        if (pid == ::getpid() || (::kill(pid, 0) != 0 && errno == ESRCH))
            ::unlinkat(::dirfd(entries), entry->d_name, 0);
    }
    ::closedir(entries);
}
