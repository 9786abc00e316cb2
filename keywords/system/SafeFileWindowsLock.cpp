#include "SafeFileWindows.h"

#include "WindowsAccounts.h"

#include <aclapi.h>
#include <sddl.h>

using namespace SafeFilePlatform;
using namespace SafeFileWindows;

namespace {

// Why the lock file is not one that only those who may save can open, as
// WindowsAcl judges it; false when it is.
bool Untrusted(const Handle &file, const QString &group, const QString &path, SafeFile::Error *error)
{
    QString owner;
    WindowsAcl::Dacl dacl;
    if (!ReadSecurity(file, &owner, &dacl))
        return !Fail(error, SafeFile::Step::Lock, ::GetLastError(), path);
    const std::optional<WindowsAcl::Refusal> refusal = WindowsAcl::LockFileRefusal(owner, dacl, Me(), group);
    if (!refusal)
        return false;
    const QString quoted = u'"' + path + u'"';
    using Cause = WindowsAcl::Refusal::Cause;
    switch (refusal->cause) {
    case Cause::Owner:
        Fail(error, SafeFile::Step::Lock, 0, path, SafeFile::Cause::LockOwner, WindowsAccounts::NameOf(refusal->sid));
        error->detail = QStringLiteral("icacls %1 /setowner *%2").arg(quoted, WindowsAcl::Administrators);
        return true;
    case Cause::OpenToOthers:
        Fail(error, SafeFile::Step::Lock, 0, path, SafeFile::Cause::OpenToOthers,
             WindowsAccounts::NameOf(refusal->sid));
        break;
    case Cause::NotUnderstood:
        Fail(error, SafeFile::Step::Lock, 0, path, SafeFile::Cause::OpenToOthers,
             QStringLiteral("一个本程序无法判断的 ACL 项（类型 %1）所指的账户").arg(refusal->type));
        break;
    }
    // Made again by the next save, with an ACL of its own.
    error->detail = QStringLiteral("del /a:h %1").arg(quoted);
    return true;
}

// The lock file. The first save makes it for those who may save alone; one
// found there is checked by Untrusted.
Handle OpenLockFile(const QString &path, const QString &group)
{
    const QString sddl = QStringLiteral("D:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;FA;;;%1)").arg(Me())
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
    if (Untrusted(file, group, lockPath, error))
        return false;
    OVERLAPPED whole{};
    switch (TakeWithin(
            wait,
            [&] {
                if (::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                                 &whole))
                    return Attempt::Taken;
                return ::GetLastError() == ERROR_LOCK_VIOLATION ? Attempt::Busy : Attempt::Failed;
            },
            [&] {
                // Windows does not tell who holds a lock.
                Error busy;
                Fail(&busy, Step::Lock, 0, lockPath, Cause::Busy);
                return !waiting || waiting(busy);
            })) {
    case Attempt::Taken:
        m_held->lock = std::move(file);
        return true;
    case Attempt::Unguarded:
        return true;
    case Attempt::Failed:
        return Fail(error, Step::Lock, ::GetLastError(), lockPath);
    case Attempt::GaveUp:
        return Fail(error, Step::Lock, 0, lockPath, Cause::GaveUp);
    case Attempt::Busy:
        break;
    }
    return Fail(error, Step::Lock, 0, lockPath, Cause::Busy);
}

void SafeFile::Unlock()
{
    m_held->lock.reset();
}
