#include "SafeFileWindows.h"

#include "WindowsAccounts.h"

#include <QDir>

#include <aclapi.h>
#include <sddl.h>

using namespace SafeFilePlatform;
using namespace SafeFileWindows;

namespace SafeFileWindows {

Handle Open(const QString &path, DWORD access, DWORD share, DWORD flags)
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

QString Join(const QString &folder, const QString &name)
{
    return folder.endsWith(u'\\') ? folder + name : folder + u'\\' + name;
}

bool ReadSecurity(const Handle &handle, QString *owner, WindowsAcl::Dacl *dacl)
{
    PSECURITY_DESCRIPTOR security = nullptr;
    if (!handle.ok()
        || ::GetSecurityInfo(handle.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, nullptr, nullptr, &security)
                   != ERROR_SUCCESS)
        return false;
    const bool read = WindowsAcl::Read(security, owner, dacl);
    ::LocalFree(security);
    return read;
}

QString Me()
{
    return WindowsAccounts::Text(WindowsAccounts::CurrentUser().data());
}

bool Fail(SafeFile::Error *error, SafeFile::Step step, DWORD code, const QString &path, SafeFile::Cause cause,
          const QString &owner)
{
    *error = {.step = step,
              .cause = cause,
              .code = int(code),
              .path = QDir::toNativeSeparators(QDir::cleanPath(path)),
              .owner = owner};
    return false;
}

} // namespace SafeFileWindows

SafeFile::SafeFile(const QString &path)
    : m_path(path)
    , m_held(std::make_unique<Held>())
{
}

SafeFile::~SafeFile() = default;

bool SafeFile::Read(QByteArray *bytes, Error *error) const
{
    // The name in the folder that was checked; a link put there since is not followed.
    const Handle file = Open(Join(m_folderPath, m_held->name), GENERIC_READ);
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!Attributes(file, &info)) {
        const DWORD code = ::GetLastError();
        Fail(error, Step::Read, code, m_path);
        // The installer lets the group read the list.
        if (code == ERROR_ACCESS_DENIED && !WindowsAccounts::Group(QStringLiteral("vantrel-filter")).isEmpty())
            error->group = QStringLiteral("vantrel-filter");
        return false;
    }
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
    case Reading::Done:
        return true;
    case Reading::Failed:
        return Fail(error, Step::Read, ::GetLastError(), m_path);
    case Reading::TooLarge:
        break;
    }
    Fail(error, Step::Read, 0, m_path, Cause::TooLarge);
    error->number = qMax<qint64>(size.QuadPart, MaxSize + 1);
    return false;
}

// Made as the installer makes it, not with what C:\ passes on, which on a
// default Windows lets every signed-in user write there.
bool SafeFile::MakeFolder(const QString &path, Error *error)
{
    const QString native = QDir::toNativeSeparators(path);
    if (::GetFileAttributesW(Wide(native)) != INVALID_FILE_ATTRIBUTES || !NotThere(::GetLastError()))
        return true;
    const QString sddl = WindowsAcl::FilterFolderSddl(Me(), WindowsAccounts::Group(QStringLiteral("vantrel-filter")));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(Wide(sddl), SDDL_REVISION_1, &descriptor, nullptr))
        return Fail(error, Step::MakeFolder, ::GetLastError(), path);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const bool made = ::CreateDirectoryW(Wide(native), &attributes) || ::GetLastError() == ERROR_ALREADY_EXISTS;
    const DWORD code = ::GetLastError();
    ::LocalFree(descriptor);
    return made || Fail(error, Step::MakeFolder, code, path);
}

bool SafeFile::FolderOpenToOthers(Error *warning) const
{
    const Handle folder = Open(m_folderPath, READ_CONTROL);
    QString owner;
    WindowsAcl::Dacl dacl;
    if (!ReadSecurity(folder, &owner, &dacl))
        return false;
    const std::optional<WindowsAcl::Refusal> writer =
            WindowsAcl::OtherWriter(owner, dacl, Me(), WindowsAccounts::Group(QStringLiteral("vantrel-filter")));
    if (!writer)
        return false;
    using Refused = WindowsAcl::Refusal::Cause;
    const QString who = writer->cause == Refused::Owner
                              ? QStringLiteral("它的所有者 %1 随时让别人").arg(WindowsAccounts::NameOf(writer->sid))
                      : writer->cause == Refused::NotUnderstood
                              ? QStringLiteral("一个本程序无法判断的 ACL 项（类型 %1）所指的账户").arg(writer->type)
                              : WindowsAccounts::NameOf(writer->sid);
    Fail(warning, Step::Inspect, 0, m_folderPath, Cause::FolderOpen, who);
    warning->detail = QStringLiteral(
            "请管理员重新运行本程序的安装程序，它会把这个文件夹限制为 Administrators、SYSTEM 和 vantrel-filter 组");
    return true;
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
    case ERROR_PATH_NOT_FOUND:
        return Failure::NotThere;
    case ERROR_DIRECTORY:
        return Failure::NotAFolder;
    case ERROR_DIRECTORY_NOT_SUPPORTED:
        return Failure::AFolder;
    case ERROR_ACCESS_DENIED:
        return Failure::Denied;
    case ERROR_WRITE_PROTECT:
        return Failure::ReadOnly;
    case ERROR_SHARING_VIOLATION:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
        return Failure::HeldOpen;
    default:
        return Failure::Other;
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
            QStringLiteral("copy \"%1\" \"%2\""),
    };
    return words;
}

} // namespace SafeFilePlatform
