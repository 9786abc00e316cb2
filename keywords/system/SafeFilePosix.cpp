#include "SafeFilePosix.h"

#include "Accounts.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>

using namespace SafeFilePlatform;
using namespace SafeFilePosix;

namespace SafeFilePosix {

bool Fail(SafeFile::Error *error, SafeFile::Step step, int code, const QString &path, SafeFile::Cause cause,
          const struct stat *at)
{
    *error = {.step = step, .cause = cause, .code = code, .path = QDir::cleanPath(path)};
    if (at) {
        error->owner = Accounts::UserName(at->st_uid);
        error->group = Accounts::GroupName(at->st_gid);
        error->mode = int(at->st_mode & 07777);
    }
    return false;
}

} // namespace SafeFilePosix

SafeFile::SafeFile(const QString &path)
    : m_path(path)
    , m_held(std::make_unique<Held>())
{
}

SafeFile::~SafeFile() = default;

bool SafeFile::Read(QByteArray *bytes, Error *error) const
{
    // O_NONBLOCK: a FIFO planted at the name must not hold the open up until
    // someone writes to it.
    Descriptor file(Retried([&] {
        return ::openat(m_held->folder.get(), m_held->name.constData(),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    }));
    struct stat st;
    if (!file.ok() && errno == EACCES) {
        // The group that may read it, for the message.
        if (::fstatat(m_held->folder.get(), m_held->name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
            && st.st_mode & S_IRGRP)
            return Fail(error, Step::Read, EACCES, m_path, Cause::System, &st);
        return Fail(error, Step::Read, EACCES, m_path);
    }
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
    case Reading::Done:
        return true;
    case Reading::Failed:
        return Fail(error, Step::Read, errno, m_path);
    case Reading::TooLarge:
        break;
    }
    Fail(error, Step::Read, 0, m_path, Cause::TooLarge);
    error->number = qMax<qint64>(st.st_size, MaxSize + 1);
    return false;
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
    case ENOENT:
        return Failure::NotThere;
    case ENOTDIR:
        return Failure::NotAFolder;
    case EISDIR:
        return Failure::AFolder;
    case EACCES:
    case EPERM:
        return Failure::Denied;
    case EROFS:
        return Failure::ReadOnly;
    case EBUSY:
        return Failure::MountedAlone;
    default:
        return Failure::Other;
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
            QStringLiteral("cp \"%1\" \"%2\""),
    };
    return words;
}

} // namespace SafeFilePlatform
