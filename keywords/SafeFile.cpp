#include "SafeFile.h"

#include "Accounts.h"
#include "SystemReason.h"

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
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <tuple>
#include <unistd.h>
#include <utility>

namespace {

// As many as the kernel follows in one path lookup before it gives ELOOP.
constexpr int MaxLinks = 40;
constexpr char AclName[] = "system.posix_acl_access";

class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor &&other) noexcept : m_fd(other.release()) {}
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
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
    QList<QByteArray> pending; // the parts still to walk, the next one last
    Descriptor folder = OpenRoot();
    QString folderPath = QStringLiteral("/");
    int links = 0;

    void Push(const QByteArray &path)
    {
        const QList<QByteArray> parts = path.split('/');
        for (auto part = parts.crbegin(); part != parts.crend(); ++part)
            if (!part->isEmpty() && *part != ".")
                pending.append(*part);
    }

    void BackToRoot()
    {
        folder = OpenRoot();
        folderPath = QStringLiteral("/");
    }

    // Puts the link's target in the way, when the link may be followed.
    bool Follow(const Descriptor &link, const struct stat &st, const QString &linkPath, SafeFile::Error *error)
    {
        constexpr auto Reach = SafeFile::Step::Reach;
        if (st.st_uid != 0 && st.st_uid != ::geteuid())
            return Fail(error, Reach, 0, linkPath, SafeFile::Cause::ForeignLink, &st);
        if (++links > MaxLinks)
            return Fail(error, Reach, ELOOP, linkPath);
        char target[PATH_MAX];
        const ssize_t length = ::readlinkat(link.get(), "", target, sizeof target);
        if (length < 0)
            return Fail(error, Reach, errno, linkPath);
        if (size_t(length) == sizeof target) // the target may go on beyond the buffer
            return Fail(error, Reach, ENAMETOOLONG, linkPath);
        Push(QByteArray(target, length));
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

} // namespace

struct SafeFile::Held
{
    Descriptor folder; // O_PATH descriptor of the folder that holds the file
    QByteArray name;
    Kept old;
};

SafeFile::SafeFile(const QString &path)
    : m_path(path), m_held(std::make_unique<Held>())
{
}

SafeFile::~SafeFile() = default;

bool SafeFile::Reach(Error *error)
{
    Walk walk;
    walk.Push(QFile::encodeName(QFileInfo(m_path).absoluteFilePath()));
    while (!walk.pending.isEmpty()) {
        const QByteArray part = walk.pending.takeLast();
        const bool last = walk.pending.isEmpty();
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

    QByteArray data(qMax<qsizetype>(st.st_size + 1, 4096), Qt::Uninitialized);
    qsizetype used = 0;
    for (;;) {
        if (used == data.size())
            data.resize(data.size() * 2);
        const ssize_t got = Retried([&] { return ::read(file.get(), data.data() + used, size_t(data.size() - used)); });
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
    const QByteArray temporary = '.' + name + '.' + QByteArray::number(::getpid()) + ".tmp";
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
    // Two saves that both check hold the lock in turn, so neither renames over
    // what the other's check did not see. A file system without locks still saves.
    if (unchanged) {
        std::ignore = Retried([&] { return ::flock(folder.get(), LOCK_EX); });
        if (!unchanged()) {
            ::unlinkat(folder.get(), temporary.constData(), 0);
            return Fail(error, Step::Rename, 0, m_path, Cause::Changed);
        }
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
    const QByteArray prefix = '.' + m_held->name + '.';
    while (const struct dirent *entry = ::readdir(entries)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith(prefix) || !name.endsWith(".tmp"))
            continue;
        const QByteArray digits = name.mid(prefix.size(), name.size() - prefix.size() - 4);
        if (digits.isEmpty() || digits.size() > 9
            || !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(uchar(c)); }))
            continue;
        // EPERM means a live process of another user: only ESRCH means gone.
        const pid_t pid = pid_t(digits.toInt());
        if (pid == ::getpid() || (::kill(pid, 0) != 0 && errno == ESRCH))
            ::unlinkat(::dirfd(entries), entry->d_name, 0);
    }
    ::closedir(entries);
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

bool SafeFile::Missing(const Error &e)
{
    return e.cause == Cause::System && e.code == ENOENT;
}

QString SafeFile::Explain(const Error &e)
{
    const QString me = Accounts::UserName(::geteuid());
    switch (e.cause) {
    case Cause::ForeignLink:
        return QStringLiteral("%1 是用户 %2 的符号链接。为安全起见，本程序只跟随属于 root "
                              "或你自己（%3）的链接，所以没有读取或写入任何文件。请管理员检查这个链接")
            .arg(e.path, e.owner, me);
    case Cause::NotAFile:
        return QStringLiteral("%1 不是普通文件").arg(e.path);
    case Cause::NarrowsReaders:
        return QStringLiteral("%1 只允许用户 %2 和组 %3 读取（权限 %4）。以你（%5）的身份保存后，"
                              "新文件不能再属于它们，原来能读它的用户（例如 Web 服务器）会读不到。"
                              "请由管理员保存，或请管理员先让所有人可读：chmod o+r %1")
            .arg(e.path, e.owner, e.group, QString::number(e.mode, 8).rightJustified(4, u'0'), me);
    case Cause::System:
    case Cause::Changed:
        break;
    }
    if (e.step == Step::Reach && e.code == ENOTDIR)
        return QStringLiteral("%1 不是文件夹。这里需要一个文件夹：请把它移走或改名").arg(e.path);
    if (e.step == Step::Reach && e.code == ENOENT)
        return QStringLiteral("文件夹 %1 不存在").arg(e.path);
    if (e.step == Step::Create && (e.code == EACCES || e.code == EPERM)) {
        const QString cannot = QStringLiteral("你（用户 %1）不能在文件夹 %2 中写入。").arg(me, e.path);
        if (e.mode & S_IWGRP)
            return cannot + QStringLiteral("只有 %1 组的成员可以在这里保存：请管理员执行“adduser %2 %1”，"
                                           "你重新登录后即可保存")
                                .arg(e.group, me);
        return cannot + QStringLiteral("请管理员给你这个文件夹的写入权限");
    }
    if (e.step == Step::Create)
        return QStringLiteral("无法在文件夹 %1 中创建新文件：%2").arg(e.path, SystemReason(e.code));
    if (e.step == Step::Rename && e.code == EBUSY)
        return QStringLiteral("%1 是单独挂载的文件（挂载点），不能用新文件替换它。"
                              "请改为挂载它所在的文件夹")
            .arg(e.path);
    if (e.step == Step::MakeFolder && (e.code == EACCES || e.code == EPERM || e.code == EROFS))
        return SystemReason(e.code)
               + QStringLiteral("。请由管理员（root）启动一次本程序，或安装本程序的软件包，它们会创建这个文件夹");
    return SystemReason(e.code);
}
