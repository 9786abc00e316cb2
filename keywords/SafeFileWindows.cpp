#include "SafeFile.h"

#include "SystemReason.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <optional>
#include <vector>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

// Not in every SDK's headers.
#ifndef ERROR_DIRECTORY_NOT_SUPPORTED
#define ERROR_DIRECTORY_NOT_SUPPORTED 336L
#endif

namespace {

// As many as the Linux build follows, which stops where its kernel would.
constexpr int MaxLinks = 40;
constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What is opened to be looked at: the link itself, not what it points to,
// and folders as well as files.
constexpr DWORD AsItIs = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

class Handle
{
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    ~Handle() { reset(); }
    Handle(Handle &&other) noexcept : m_handle(std::exchange(other.m_handle, INVALID_HANDLE_VALUE)) {}
    Handle &operator=(Handle &&other) noexcept
    {
        reset(std::exchange(other.m_handle, INVALID_HANDLE_VALUE));
        return *this;
    }
    HANDLE get() const { return m_handle; }
    bool ok() const { return m_handle != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = INVALID_HANDLE_VALUE)
    {
        if (ok())
            ::CloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HANDLE m_handle;
};

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

QString AccountName(PSID sid)
{
    wchar_t name[256], domain[256];
    DWORD nameSize = 256, domainSize = 256;
    SID_NAME_USE use;
    if (::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
        const QString account = QString::fromWCharArray(name, int(nameSize));
        return domainSize ? QString::fromWCharArray(domain, int(domainSize)) + u'\\' + account : account;
    }
    wchar_t *text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text))
        return QStringLiteral("?");
    const QString shown = QString::fromWCharArray(text);
    ::LocalFree(text);
    return shown;
}

// The user running the program, as the process's token holds it.
class CurrentUser
{
public:
    CurrentUser()
    {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
            return;
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        m_token.resize(size);
        if (!::GetTokenInformation(token, TokenUser, m_token.data(), size, &size))
            m_token.clear();
        ::CloseHandle(token);
    }
    PSID sid() const
    {
        return m_token.isEmpty() ? nullptr : reinterpret_cast<const TOKEN_USER *>(m_token.constData())->User.Sid;
    }

private:
    QByteArray m_token;
};

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE known[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof known;
    return ::CreateWellKnownSid(type, nullptr, known, &size) && ::EqualSid(sid, known);
}

// The Windows form of root's links in sticky folders: those that the system's
// administrators or the user running the program made.
bool Trusted(PSID owner)
{
    const PSID me = CurrentUser().sid();
    return IsWellKnown(owner, WinBuiltinAdministratorsSid) || IsWellKnown(owner, WinLocalSystemSid)
           || (me && ::EqualSid(owner, me));
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

// Held while a save checks the copy and renames over it, so that two saves
// into one folder take turns. Windows locks no folders: a mutex named after
// the folder stands in, open to every account, since operators share a list.
class FolderLock
{
public:
    explicit FolderLock(const QString &folder)
    {
        SECURITY_DESCRIPTOR open;
        ::InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
        ::SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
        SECURITY_ATTRIBUTES attributes{sizeof attributes, &open, FALSE};
        const QByteArray key = QCryptographicHash::hash(folder.toLower().toUtf8(), QCryptographicHash::Sha1).toHex();
        for (const QString &scope : {QStringLiteral("Global\\"), QStringLiteral("Local\\")}) {
            const QString name = scope + QStringLiteral("vantrel-filter-save-") + QLatin1String(key);
            if ((m_mutex = ::CreateMutexW(&attributes, FALSE, Wide(name))))
                break;
        }
        // Without a lock the save goes on, as on a file system without locks.
        if (m_mutex && ::WaitForSingleObject(m_mutex, INFINITE) == WAIT_FAILED) {
            ::CloseHandle(m_mutex);
            m_mutex = nullptr;
        }
    }
    ~FolderLock()
    {
        if (m_mutex) {
            ::ReleaseMutex(m_mutex);
            ::CloseHandle(m_mutex);
        }
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

private:
    HANDLE m_mutex = nullptr;
};

// A save's new file, and the old one while the new one takes its name; what
// a killed save leaves behind goes by the process id in the name.
QString LeftoverName(const QString &name, DWORD processId, bool old)
{
    return u'.' + name + u'.' + QString::number(processId) + (old ? QStringLiteral(".old.tmp") : QStringLiteral(".tmp"));
}

} // namespace

struct SafeFile::Held
{
    // Every folder on the way that could be held: open without sharing the
    // right to delete, none of them can be renamed or swapped for a junction
    // until the save is done.
    std::vector<Handle> folders;
    QString name;
    bool exists = false;
};

SafeFile::SafeFile(const QString &path)
    : m_path(path), m_held(std::make_unique<Held>())
{
}

SafeFile::~SafeFile() = default;

bool SafeFile::Reach(Error *error)
{
    QStringList pending; // the parts still to walk, the next one last
    auto push = [&pending](const QString &path) {
        const QStringList parts = path.split(u'\\');
        for (auto part = parts.crbegin(); part != parts.crend(); ++part)
            if (!part->isEmpty() && *part != u".")
                pending.append(*part);
    };
    const QString absolute = QDir::toNativeSeparators(QFileInfo(m_path).absoluteFilePath());
    QString root = RootOf(absolute);
    QString folderPath = root;
    push(absolute.mid(root.size()));

    int links = 0;
    while (!pending.isEmpty()) {
        const QString part = pending.takeLast();
        if (part == u"..") {
            const qsizetype cut = folderPath.lastIndexOf(u'\\', -2);
            folderPath = cut < root.size() ? root : folderPath.left(cut);
            continue;
        }
        const QString partPath = Join(folderPath, part);
        // Held when the rights allow it, looked at anyway when they do not.
        Handle next = Open(partPath, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                           FILE_SHARE_READ | FILE_SHARE_WRITE);
        bool held = next.ok();
        for (const DWORD access : {DWORD(FILE_READ_ATTRIBUTES | READ_CONTROL), DWORD(FILE_READ_ATTRIBUTES)}) {
            const DWORD code = ::GetLastError();
            if (next.ok() || (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION))
                break;
            next = Open(partPath, access);
        }
        FILE_ATTRIBUTE_TAG_INFO info{};
        if (!Attributes(next, &info)) {
            const DWORD code = ::GetLastError();
            if (!NotThere(code) || !pending.isEmpty())
                return Fail(error, Step::Reach, code, partPath);
            info.FileAttributes = FILE_ATTRIBUTE_NORMAL; // not there yet: a save will create it
        }
        if (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT && IsReparseTagNameSurrogate(info.ReparseTag)) {
            PSID owner = nullptr;
            PSECURITY_DESCRIPTOR security = nullptr;
            const DWORD code = ::GetSecurityInfo(next.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                                 nullptr, nullptr, nullptr, &security);
            if (code != ERROR_SUCCESS)
                return Fail(error, Step::Reach, code, partPath);
            const bool trusted = Trusted(owner);
            const QString ownerName = AccountName(owner);
            ::LocalFree(security);
            if (!trusted)
                return Fail(error, Step::Reach, 0, partPath, Cause::ForeignLink, ownerName);
            if (info.ReparseTag != IO_REPARSE_TAG_SYMLINK && info.ReparseTag != IO_REPARSE_TAG_MOUNT_POINT)
                return Fail(error, Step::Reach, ERROR_NOT_SUPPORTED, partPath);
            if (++links > MaxLinks)
                return Fail(error, Step::Reach, ERROR_CANT_RESOLVE_FILENAME, partPath);
            QString target;
            if (!LinkTarget(next, info.ReparseTag, &target))
                return Fail(error, Step::Reach, ::GetLastError(), partPath);
            if (target.startsWith(u'\\') && !target.startsWith(u"\\\\")) // from the root of the link's drive
                target.prepend(root.left(root.size() - 1));
            if (const QString targetRoot = RootOf(target); !targetRoot.isEmpty()) {
                root = targetRoot;
                folderPath = root;
                target.remove(0, root.size());
            }
            push(target);
        } else if (pending.isEmpty()) {
            m_held->name = part;
            m_folderPath = folderPath;
            return true;
        } else if (!(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return Fail(error, Step::Reach, ERROR_DIRECTORY, partPath);
        } else {
            if (held)
                m_held->folders.push_back(std::move(next));
            folderPath = partPath;
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
    QByteArray data(qMax<qsizetype>(qsizetype(size.QuadPart) + 1, 4096), Qt::Uninitialized);
    qsizetype used = 0;
    for (;;) {
        if (used == data.size())
            data.resize(data.size() * 2);
        DWORD got = 0;
        const DWORD wanted = DWORD(qMin<qsizetype>(data.size() - used, qsizetype(1) << 30));
        if (!::ReadFile(file.get(), data.data() + used, wanted, &got, nullptr))
            return Fail(error, Step::Read, ::GetLastError(), m_path);
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

    for (qsizetype done = 0; done < bytes.size();) {
        DWORD wrote = 0;
        const DWORD chunk = DWORD(qMin<qsizetype>(bytes.size() - done, qsizetype(1) << 30));
        if (!::WriteFile(file.get(), bytes.constData() + done, chunk, &wrote, nullptr))
            return abandon(Step::Write, ::GetLastError());
        done += wrote;
    }
    if (!::FlushFileBuffers(file.get()))
        return abandon(Step::Write, ::GetLastError());
    file.reset();
    std::optional<FolderLock> lock;
    if (unchanged) {
        lock.emplace(m_folderPath);
        if (!unchanged()) {
            ::DeleteFileW(Wide(temporary));
            return Fail(error, Step::Rename, 0, m_path, Cause::Changed);
        }
    }

    // ReplaceFileW gives the new file the old one's ACL, owner and attributes,
    // so whoever reads the copy now (the web server's user) still can, and
    // refuses rather than replace it with one it could not give them to. With
    // a backup name it fails leaving both files as they were, and a reader
    // that shares deleting may keep the old file open meanwhile.
    constexpr DWORD Move = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (!m_held->exists)
        return ::MoveFileExW(Wide(temporary), Wide(target), Move) || abandon(Step::Rename, ::GetLastError());
    if (::ReplaceFileW(Wide(target), Wide(temporary), Wide(backup), 0, nullptr, nullptr)) {
        ::DeleteFileW(Wide(backup));
        return true;
    }
    const DWORD code = ::GetLastError();
    // The old file has gone meanwhile, or was moved to the backup name before
    // the new one could take its name: the new one still has to, or the old
    // one goes back.
    if ((code == ERROR_FILE_NOT_FOUND || code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        && ::MoveFileExW(Wide(temporary), Wide(target), Move)) {
        ::DeleteFileW(Wide(backup));
        return true;
    }
    if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        ::MoveFileExW(Wide(backup), Wide(target), MOVEFILE_WRITE_THROUGH);
    return abandon(Step::Rename, code);
}

// A save killed midway leaves its new file behind under a name that holds its
// process id; once that process is gone, nobody will finish it.
void SafeFile::RemoveLeftovers() const
{
    const QString prefix = u'.' + m_held->name + u'.';
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW(Wide(Join(m_folderPath, prefix + QStringLiteral("*.tmp"))), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        // The pattern also matches short names and ignores case.
        const QString name = QString::fromWCharArray(found.cFileName);
        QStringView digits = QStringView(name);
        if (!digits.startsWith(prefix) || !digits.endsWith(u".tmp"))
            continue;
        digits = digits.sliced(prefix.size()).chopped(4);
        if (digits.endsWith(u".old"))
            digits.chop(4);
        if (digits.isEmpty() || digits.size() > 9
            || !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
            continue;
        const DWORD processId = DWORD(digits.toULong());
        if (processId == ::GetCurrentProcessId() || !Alive(processId))
            ::DeleteFileW(Wide(Join(m_folderPath, name)));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

bool SafeFile::MakeFolder(const QString &path, Error *error)
{
    const QString native = QDir::toNativeSeparators(path);
    if (::GetFileAttributesW(Wide(native)) != INVALID_FILE_ATTRIBUTES || !NotThere(::GetLastError())
        || ::CreateDirectoryW(Wide(native), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS)
        return true;
    return Fail(error, Step::MakeFolder, ::GetLastError(), path);
}

bool SafeFile::Missing(const Error &e)
{
    return e.cause == Cause::System && NotThere(DWORD(e.code));
}

QString SafeFile::Explain(const Error &e)
{
    const CurrentUser user;
    const QString me = user.sid() ? AccountName(user.sid()) : QStringLiteral("?");
    switch (e.cause) {
    case Cause::ForeignLink:
        return QStringLiteral("%1 是用户 %2 的符号链接或目录联接。为安全起见，本程序只跟随属于 Administrators、"
                              "SYSTEM 或你自己（%3）的链接，所以没有读取或写入任何文件。请管理员检查这个链接")
            .arg(e.path, e.owner, me);
    case Cause::NotAFile:
        return QStringLiteral("%1 不是普通文件").arg(e.path);
    case Cause::NarrowsReaders: // not met here: the replacement keeps the old file's ACL
    case Cause::System:
    case Cause::Changed:
        break;
    }
    const DWORD code = DWORD(e.code);
    if (e.step == Step::Reach && code == ERROR_DIRECTORY)
        return QStringLiteral("%1 不是文件夹。这里需要一个文件夹：请把它移走或改名").arg(e.path);
    if (e.step == Step::Reach && NotThere(code))
        return QStringLiteral("文件夹 %1 不存在").arg(e.path);
    if (e.step == Step::Create && code == ERROR_ACCESS_DENIED)
        return QStringLiteral("你（用户 %1）不能在文件夹 %2 中写入。请管理员给你这个文件夹的写入权限").arg(me, e.path);
    if (e.step == Step::Create)
        return QStringLiteral("无法在文件夹 %1 中创建新文件：%2").arg(e.path, SystemReason(e.code));
    if (e.step == Step::MakeFolder && (code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT))
        return SystemReason(e.code)
               + QStringLiteral("。请由管理员启动一次本程序，或重新运行本程序的安装程序，它们会创建这个文件夹");
    return SystemReason(e.code);
}
