#include "SafeFileWindows.h"

#include "WindowsAccounts.h"

#include <QDir>

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

bool Fail(SafeFile::Error *error, SafeFile::Step step, DWORD code, const QString &path,
          SafeFile::Cause cause, const QString &owner)
{
    *error = {.step = step, .cause = cause, .code = int(code), .path = QDir::toNativeSeparators(QDir::cleanPath(path)), .owner = owner};
    return false;
}

} // namespace SafeFileWindows

SafeFile::SafeFile(const QString &path)
    : m_path(path), m_held(std::make_unique<Held>())
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
    case Reading::Done: return true;
    case Reading::Failed: return Fail(error, Step::Read, ::GetLastError(), m_path);
    case Reading::TooLarge: break;
    }
    Fail(error, Step::Read, 0, m_path, Cause::TooLarge);
    error->number = qMax<qint64>(size.QuadPart, MaxSize + 1);
    return false;
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
    case ERROR_DIRECTORY_NOT_SUPPORTED: return Failure::AFolder;
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
        QStringLiteral("copy \"%1\" \"%2\""),
    };
    return words;
}

} // namespace SafeFilePlatform
