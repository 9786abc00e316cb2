#include "SafeFile.h"

#include "SafeFilePlatform.h"
#include "WindowsAccounts.h"

#include <QDir>
#include <QFileInfo>

#include <chrono>
#include <vector>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

// Not in every SDK's headers.
#ifndef ERROR_DIRECTORY_NOT_SUPPORTED
#define ERROR_DIRECTORY_NOT_SUPPORTED 336L
#endif

using namespace SafeFilePlatform;

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What is opened to be looked at: the link itself, not what it points to,
// and folders as well as files.
constexpr DWORD AsItIs = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

struct HandleTraits
{
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { ::CloseHandle(handle); }
};
using Handle = UniqueHandle<HandleTraits>;

const wchar_t *Wide(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

Handle Open(const QString &path, DWORD access, DWORD share = ShareAll, DWORD flags = AsItIs)
{
    return Handle(::CreateFileW(Wide(path), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
}

bool NotThere(DWORD code)
{
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

bool Attributes(const Handle &handle, FILE_ATTRIBUTE_TAG_INFO *info)
{
    return handle.ok() && ::GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, info, sizeof *info);
}

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

QString Join(const QString &folder, const QString &name)
{
    return folder.endsWith(u'\\') ? folder + name : folder + u'\\' + name;
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
    if (!::DeviceIoControl(link.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(), DWORD(buffer.size()),
                           &got, nullptr))
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

bool Fail(SafeFile::Error *error, SafeFile::Step step, DWORD code, const QString &path,
          SafeFile::Cause cause = SafeFile::Cause::System, const QString &owner = {})
{
    *error = {step, cause, int(code), QDir::toNativeSeparators(QDir::cleanPath(path)), owner, {}, 0};
    return false;
}

// Whether a save with this process id may still be running. A process that
// cannot be opened for want of rights is someone else's, and lives.
bool Alive(DWORD processId)
{
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return ::GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD status = 0;
    const bool running = ::GetExitCodeProcess(process, &status) && status == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
}

// The first account, by name, that the file's DACL lets open it besides
// Administrators, SYSTEM, its owner and the saving group; "Everyone" for a
// file with no DACL at all. Empty when there is none.
QString OtherThanSavers(const Handle &file, const QString &group)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR security = nullptr;
    if (::GetSecurityInfo(file.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                          nullptr, &dacl, nullptr, &security)
        != ERROR_SUCCESS)
        return QStringLiteral("?");
    const QStringList savers{WindowsAccounts::WellKnown(WinBuiltinAdministratorsSid),
                             WindowsAccounts::WellKnown(WinLocalSystemSid), WindowsAccounts::Text(owner),
                             WindowsAccounts::WellKnown(WinCreatorOwnerRightsSid), group};
    QString other = dacl ? QString() : QStringLiteral("Everyone");
    for (DWORD i = 0; dacl && other.isEmpty() && i < dacl->AceCount; ++i) {
        ACE_HEADER *ace = nullptr;
        if (!::GetAce(dacl, i, reinterpret_cast<void **>(&ace)) || ace->AceType != ACCESS_ALLOWED_ACE_TYPE
            || ace->AceFlags & INHERIT_ONLY_ACE)
            continue;
        const PSID sid = &reinterpret_cast<ACCESS_ALLOWED_ACE *>(ace)->SidStart;
        if (!savers.contains(WindowsAccounts::Text(sid)))
            other = WindowsAccounts::Name(sid);
    }
    ::LocalFree(security);
    return other;
}

// The lock file. The first save makes it for those who may save alone; one
// made by someone else is checked by OtherThanSavers.
Handle OpenLockFile(const QString &path, const QString &group)
{
    const QString me = WindowsAccounts::Text(WindowsAccounts::CurrentUser().data());
    const QString sddl = QStringLiteral("D:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;FA;;;%1)").arg(me)
                         + (group.isEmpty() ? QString() : QStringLiteral("(A;;FA;;;%1)").arg(group));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(Wide(sddl), SDDL_REVISION_1, &descriptor, nullptr))
        return Handle();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    constexpr DWORD Access = GENERIC_READ | GENERIC_WRITE, Share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    Handle file(::CreateFileW(Wide(path), Access, Share, &attributes, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
    const DWORD code = ::GetLastError();
    ::LocalFree(descriptor);
    if (!file.ok() && code == ERROR_FILE_EXISTS)
        return Open(path, Access, Share);
    ::SetLastError(code);
    return file;
}

bool WriteWhole(const Handle &file, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        DWORD wrote = 0;
        const DWORD chunk = DWORD(qMin<qsizetype>(bytes.size() - done, qsizetype(1) << 30));
        if (!::WriteFile(file.get(), bytes.constData() + done, chunk, &wrote, nullptr))
            return false;
        done += wrote;
    }
    return true;
}

// Gives the new file the target's name. ReplaceFileW gives it the old one's
// ACL, owner and attributes, so whoever reads the copy now (the web server's
// user) still can, and refuses rather than replace it with one it could not
// give them to. With a backup name it fails leaving both files as they were,
// and a reader that shares deleting may keep the old file open meanwhile.
DWORD TakeName(const QString &file, const QString &target, const QString &backup, bool targetExists)
{
    constexpr DWORD Move = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (!targetExists)
        return ::MoveFileExW(Wide(file), Wide(target), Move) ? ERROR_SUCCESS : ::GetLastError();
    if (::ReplaceFileW(Wide(target), Wide(file), Wide(backup), 0, nullptr, nullptr)) {
        ::DeleteFileW(Wide(backup));
        return ERROR_SUCCESS;
    }
    const DWORD code = ::GetLastError();
    // The old file has gone meanwhile, or was moved to the backup name before
    // the new one could take its name: the new one still has to, or the old
    // one goes back.
    if ((code == ERROR_FILE_NOT_FOUND || code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        && ::MoveFileExW(Wide(file), Wide(target), Move)) {
        ::DeleteFileW(Wide(backup));
        return ERROR_SUCCESS;
    }
    if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        ::MoveFileExW(Wide(backup), Wide(target), MOVEFILE_WRITE_THROUGH);
    return code;
}

// Opens a part of the way to look at it: held open against renaming when the
// rights allow it, looked at anyway when they do not.
Handle OpenOnTheWay(const QString &path, bool *held)
{
    Handle next = Open(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE);
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
    explicit Walk(const QString &pathRoot) : root(pathRoot), folderPath(pathRoot) {}

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

struct SafeFile::Held
{
    // Every folder on the way that could be held: open without sharing the
    // right to delete, none of them can be renamed or swapped for a junction
    // until the save is done.
    std::vector<Handle> folders;
    QString name;
    bool exists = false;
    Handle lock;
};

SafeFile::SafeFile(const QString &path)
    : m_path(path), m_held(std::make_unique<Held>())
{
}

SafeFile::~SafeFile() = default;

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

bool SafeFile::Read(QByteArray *bytes, Error *error) const
{
    // The name in the folder that was checked; a link put there since is not followed.
    const Handle file = Open(Join(m_folderPath, m_held->name), GENERIC_READ);
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!Attributes(file, &info))
        return Fail(error, Step::Read, ::GetLastError(), m_path);
    if (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return Fail(error, Step::Read, ERROR_DIRECTORY_NOT_SUPPORTED, m_path);
    if (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return Fail(error, Step::Read, ERROR_CANT_RESOLVE_FILENAME, m_path);
    if (::GetFileType(file.get()) != FILE_TYPE_DISK)
        return Fail(error, Step::Read, 0, m_path, Cause::NotAFile);

    LARGE_INTEGER size{};
    ::GetFileSizeEx(file.get(), &size);
    const auto readSome = [&](char *buffer, qint64 room) {
        DWORD got = 0;
        const DWORD wanted = DWORD(qMin<qint64>(room, qint64(1) << 30));
        return ::ReadFile(file.get(), buffer, wanted, &got, nullptr) ? qint64(got) : qint64(-1);
    };
    switch (ReadWhole(size.QuadPart, readSome, bytes)) {
    case Reading::Done: return true;
    case Reading::Failed: return Fail(error, Step::Read, ::GetLastError(), m_path);
    case Reading::TooLarge: break;
    }
    Fail(error, Step::Read, 0, m_path, Cause::TooLarge);
    error->number = qMax<qint64>(size.QuadPart, MaxSize + 1);
    return false;
}

bool SafeFile::Inspect(Error *error)
{
    m_held->exists = false;
    const Handle old = Open(Join(m_folderPath, m_held->name), FILE_READ_ATTRIBUTES);
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!Attributes(old, &info)) {
        const DWORD code = ::GetLastError();
        return NotThere(code) || Fail(error, Step::Inspect, code, m_path);
    }
    // A link that appeared since the path was reached is replaced, not followed.
    if (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return true;
    if (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return Fail(error, Step::Inspect, ERROR_DIRECTORY_NOT_SUPPORTED, m_path);
    m_held->exists = true;
    return true;
}

bool SafeFile::Replace(const QByteArray &bytes, Error *error, const std::function<bool()> &unchanged)
{
    RemoveLeftovers();
    const QString target = Join(m_folderPath, m_held->name);
    const QString temporary = Join(m_folderPath, LeftoverName(m_held->name, ::GetCurrentProcessId(), false));
    const QString backup = Join(m_folderPath, LeftoverName(m_held->name, ::GetCurrentProcessId(), true));
    Handle file(::CreateFileW(Wide(temporary), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok())
        return Fail(error, Step::Create, ::GetLastError(), m_folderPath);
    auto abandon = [&](Step step, DWORD code) {
        file.reset();
        ::DeleteFileW(Wide(temporary));
        return Fail(error, step, code, m_path);
    };

    if (!WriteWhole(file, bytes) || !::FlushFileBuffers(file.get()))
        return abandon(Step::Write, ::GetLastError());
    file.reset();
    if (unchanged && !unchanged()) {
        ::DeleteFileW(Wide(temporary));
        return Fail(error, Step::Rename, 0, m_path, Cause::Changed);
    }
    const DWORD code = TakeName(temporary, target, backup, m_held->exists);
    return code == ERROR_SUCCESS || abandon(Step::Rename, code);
}

// A save killed midway leaves its new file behind under a name that holds its
// process id; once that process is gone, nobody will finish it.
void SafeFile::RemoveLeftovers() const
{
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW(Wide(Join(m_folderPath, u'.' + m_held->name + QStringLiteral(".*.tmp"))), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        // The pattern also matches short names and ignores case.
        const QString name = QString::fromWCharArray(found.cFileName);
        const DWORD processId = DWORD(LeftoverProcess(name, m_held->name));
        if (processId != 0 && (processId == ::GetCurrentProcessId() || !Alive(processId)))
            ::DeleteFileW(Wide(Join(m_folderPath, name)));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

bool SafeFile::Lock(std::chrono::milliseconds wait, Error *error)
{
    const QString lockPath = Join(m_folderPath, LockName(m_held->name));
    const QString group = WindowsAccounts::Group(QStringLiteral("vantrel-filter"));
    Handle file = OpenLockFile(lockPath, group);
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!Attributes(file, &info)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_ACCESS_DENIED)
            return Fail(error, Step::Create, code, m_folderPath);
        return Fail(error, Step::Lock, code, lockPath);
    }
    if (info.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        return Fail(error, Step::Lock, 0, lockPath, Cause::NotAFile);
    if (const QString other = OtherThanSavers(file, group); !other.isEmpty())
        return Fail(error, Step::Lock, 0, lockPath, Cause::OpenToOthers, other);
    OVERLAPPED whole{};
    switch (TakeWithin(wait, [&] {
        if (::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole))
            return Attempt::Taken;
        return ::GetLastError() == ERROR_LOCK_VIOLATION ? Attempt::Busy : Attempt::Failed;
    })) {
    case Attempt::Taken: m_held->lock = std::move(file); return true;
    case Attempt::Unguarded: return true;
    case Attempt::Failed: return Fail(error, Step::Lock, ::GetLastError(), lockPath);
    case Attempt::Busy: break;
    }
    // Windows does not tell who holds a lock.
    return Fail(error, Step::Lock, 0, lockPath, Cause::Busy);
}

void SafeFile::Unlock()
{
    m_held->lock.reset();
}

bool SafeFile::MakeFolder(const QString &path, Error *error)
{
    const QString native = QDir::toNativeSeparators(path);
    if (::GetFileAttributesW(Wide(native)) != INVALID_FILE_ATTRIBUTES || !NotThere(::GetLastError())
        || ::CreateDirectoryW(Wide(native), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS)
        return true;
    return Fail(error, Step::MakeFolder, ::GetLastError(), path);
}

bool SafeFile::MayFollow(const QString &linkOwner, const QString &user)
{
    static const QString administrators = WindowsAccounts::WellKnown(WinBuiltinAdministratorsSid);
    static const QString system = WindowsAccounts::WellKnown(WinLocalSystemSid);
    return !linkOwner.isEmpty() && (linkOwner == administrators || linkOwner == system || linkOwner == user);
}

namespace SafeFilePlatform {

Failure Classify(int code)
{
    switch (DWORD(code)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return Failure::NotThere;
    case ERROR_DIRECTORY: return Failure::NotAFolder;
    case ERROR_ACCESS_DENIED: return Failure::Denied;
    case ERROR_WRITE_PROTECT: return Failure::ReadOnly;
    default: return Failure::Other;
    }
}

QString CurrentUserName()
{
    QByteArray user = WindowsAccounts::CurrentUser();
    return user.isEmpty() ? QStringLiteral("?") : WindowsAccounts::Name(user.data());
}

const Words &PlatformWords()
{
    static const Words words{
        QStringLiteral("符号链接或目录联接"),
        QStringLiteral("Administrators、SYSTEM"),
        QStringLiteral("net localgroup %1 %2 /add"),
        QStringLiteral("。请由管理员启动一次本程序，或重新运行本程序的安装程序，它们会创建这个文件夹"),
    };
    return words;
}

} // namespace SafeFilePlatform
