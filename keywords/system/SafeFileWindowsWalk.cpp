#include "SafeFileWindows.h"

#include "WindowsAccounts.h"

#include <QDir>
#include <QFileInfo>

#include <aclapi.h>
#include <winioctl.h>

using namespace SafeFilePlatform;
using namespace SafeFileWindows;

namespace {

// The root of an absolute path in the system's form: "C:\", "\\server\share\",
// "\\?\Volume{...}\"; empty for a relative one.
QString RootOf(const QString &path)
{
    if (path.startsWith(u"\\\\")) {
        const qsizetype server = path.indexOf(u'\\', 2);
        const qsizetype share = server < 0 ? -1 : path.indexOf(u'\\', server + 1);
        return share < 0 ? path + u'\\' : path.left(share + 1);
    }
    if (path.size() >= 3 && path.at(1) == u':' && path.at(2) == u'\\')
        return path.left(3);
    return {};
}

// A symbolic link's or a junction's reparse data, laid out as the file
// system hands it over (the SDK keeps the type in its driver headers).
struct LinkData
{
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
    // A symbolic link has a ULONG of flags here; a junction has its names at once.
};

// Where a symbolic link or junction points, in the system's form; relative
// to the link's folder when it does not start at a root.
bool LinkTarget(const Handle &link, DWORD tag, QString *target)
{
    QByteArray buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE, Qt::Uninitialized);
    DWORD got = 0;
    if (!::DeviceIoControl(link.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(), DWORD(buffer.size()), &got,
                           nullptr))
        return false;
    LinkData data;
    ::memcpy(&data, buffer.constData(), sizeof data);
    const bool symbolic = tag == IO_REPARSE_TAG_SYMLINK;
    ULONG flags = 0;
    if (symbolic)
        ::memcpy(&flags, buffer.constData() + sizeof data, sizeof flags);
    const qsizetype names = qsizetype(sizeof data) + (symbolic ? qsizetype(sizeof flags) : 0);
    if (names + data.substituteOffset + data.substituteLength > qsizetype(got)) {
        ::SetLastError(ERROR_INVALID_REPARSE_DATA);
        return false;
    }
    QString name(data.substituteLength / 2, Qt::Uninitialized);
    ::memcpy(name.data(), buffer.constData() + names + data.substituteOffset, data.substituteLength);
    if (symbolic && flags & SYMLINK_FLAG_RELATIVE) {
        *target = name;
        return true;
    }
    // The object manager's form: "\??\C:\folder", "\??\UNC\server\share", "\??\Volume{...}\".
    if (name.startsWith(u"\\??\\"))
        name.remove(0, 4);
    if (name.startsWith(u"UNC\\", Qt::CaseInsensitive))
        name.replace(0, 3, QStringLiteral("\\"));
    else if (RootOf(name).isEmpty())
        name.prepend(QStringLiteral("\\\\?\\"));
    *target = name;
    return true;
}

// Opens a part of the way to look at it: held open against renaming when the
// rights allow it, looked at anyway when they do not.
Handle OpenOnTheWay(const QString &path, bool *held)
{
    Handle next =
            Open(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE);
    *held = next.ok();
    for (const DWORD access : {DWORD(FILE_READ_ATTRIBUTES | READ_CONTROL), DWORD(FILE_READ_ATTRIBUTES)}) {
        const DWORD code = ::GetLastError();
        if (next.ok() || (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION))
            break;
        next = Open(path, access);
    }
    return next;
}

// The way from the root of the path to the file, one part at a time.
struct Walk
{
    explicit Walk(const QString &pathRoot)
        : root(pathRoot)
        , folderPath(pathRoot)
    {
    }

    Way<QString> way;
    QString root;       // of the drive or share the walk is on
    QString folderPath; // the folder reached so far

    void Up()
    {
        const qsizetype cut = folderPath.lastIndexOf(u'\\', -2);
        folderPath = cut < root.size() ? root : folderPath.left(cut);
    }

    // Puts the link's target in the way, when its owner's links may be followed.
    bool Follow(const Handle &link, DWORD tag, const QString &linkPath, SafeFile::Error *error)
    {
        constexpr auto Reach = SafeFile::Step::Reach;
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR security = nullptr;
        const DWORD code = ::GetSecurityInfo(link.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                             nullptr, nullptr, &security);
        if (code != ERROR_SUCCESS)
            return Fail(error, Reach, code, linkPath);
        const QString me = WindowsAccounts::Text(WindowsAccounts::CurrentUser().data());
        const bool trusted = SafeFile::MayFollow(WindowsAccounts::Text(owner), me);
        const QString ownerName = WindowsAccounts::Name(owner);
        ::LocalFree(security);
        if (!trusted)
            return Fail(error, Reach, 0, linkPath, SafeFile::Cause::ForeignLink, ownerName);
        if (tag != IO_REPARSE_TAG_SYMLINK && tag != IO_REPARSE_TAG_MOUNT_POINT)
            return Fail(error, Reach, ERROR_NOT_SUPPORTED, linkPath);
        if (!way.TakeLink())
            return Fail(error, Reach, ERROR_CANT_RESOLVE_FILENAME, linkPath);
        QString target;
        if (!LinkTarget(link, tag, &target))
            return Fail(error, Reach, ::GetLastError(), linkPath);
        if (target.startsWith(u'\\') && !target.startsWith(u"\\\\")) // from the root of the link's drive
            target.prepend(root.left(root.size() - 1));
        if (const QString targetRoot = RootOf(target); !targetRoot.isEmpty()) {
            root = targetRoot;
            folderPath = root;
            target.remove(0, root.size());
        }
        way.Push(target, u'\\');
        return true;
    }
};

} // namespace

bool SafeFile::Reach(Error *error)
{
    const QString absolute = QDir::toNativeSeparators(QFileInfo(m_path).absoluteFilePath());
    Walk walk(RootOf(absolute));
    walk.way.Push(absolute.mid(walk.root.size()), u'\\');
    while (!walk.way.Done()) {
        const QString part = walk.way.Next();
        if (part == u"..") {
            walk.Up();
            continue;
        }
        const QString partPath = Join(walk.folderPath, part);
        bool held = false;
        Handle next = OpenOnTheWay(partPath, &held);
        FILE_ATTRIBUTE_TAG_INFO info{};
        if (!Attributes(next, &info)) {
            const DWORD code = ::GetLastError();
            if (!NotThere(code) || !walk.way.Done())
                return Fail(error, Step::Reach, code, partPath);
            info.FileAttributes = FILE_ATTRIBUTE_NORMAL; // not there yet: a save will create it
        }
        if (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT && IsReparseTagNameSurrogate(info.ReparseTag)) {
            if (!walk.Follow(next, info.ReparseTag, partPath, error))
                return false;
        } else if (walk.way.Done()) {
            m_held->name = part;
            m_folderPath = walk.folderPath;
            return true;
        } else if (!(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return Fail(error, Step::Reach, ERROR_DIRECTORY, partPath);
        } else {
            if (held)
                m_held->folders.push_back(std::move(next));
            walk.folderPath = partPath;
        }
    }
    return Fail(error, Step::Reach, ERROR_DIRECTORY_NOT_SUPPORTED, m_path);
}
