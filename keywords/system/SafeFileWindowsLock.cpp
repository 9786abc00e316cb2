#include "SafeFileWindows.h"

#include "WindowsAccounts.h"

#include <aclapi.h>
#include <sddl.h>

using namespace SafeFilePlatform;
using namespace SafeFileWindows;

namespace {

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

} // namespace

bool SafeFile::Lock(std::chrono::milliseconds wait, Error *error, const std::function<bool(const Error &busy)> &waiting)
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
    }, [&] {
        // Windows does not tell who holds a lock.
        Error busy;
        Fail(&busy, Step::Lock, 0, lockPath, Cause::Busy);
        return !waiting || waiting(busy);
    })) {
    case Attempt::Taken: m_held->lock = std::move(file); return true;
    case Attempt::Unguarded: return true;
    case Attempt::Failed: return Fail(error, Step::Lock, ::GetLastError(), lockPath);
    case Attempt::GaveUp: return Fail(error, Step::Lock, 0, lockPath, Cause::GaveUp);
    case Attempt::Busy: break;
    }
    return Fail(error, Step::Lock, 0, lockPath, Cause::Busy);
}

void SafeFile::Unlock()
{
    m_held->lock.reset();
}
