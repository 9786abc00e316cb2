#include "SafeFilePosix.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <climits>
#include <fcntl.h>

using namespace SafeFilePlatform;
using namespace SafeFilePosix;

namespace {

Descriptor OpenRoot()
{
    return Descriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
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

} // namespace

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
