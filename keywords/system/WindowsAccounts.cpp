#include "WindowsAccounts.h"

#include <sddl.h>

QByteArray WindowsAccounts::CurrentUser()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    QByteArray user(size, Qt::Uninitialized);
    const bool read = size && ::GetTokenInformation(token, TokenUser, user.data(), size, &size);
    ::CloseHandle(token);
    if (!read)
        return {};
    const PSID sid = reinterpret_cast<const TOKEN_USER *>(user.constData())->User.Sid;
    return QByteArray(static_cast<const char *>(sid), qsizetype(::GetLengthSid(sid)));
}

QString WindowsAccounts::Text(PSID sid)
{
    wchar_t *text = nullptr;
    if (!sid || !::IsValidSid(sid) || !::ConvertSidToStringSidW(sid, &text))
        return {};
    const QString shown = QString::fromWCharArray(text);
    ::LocalFree(text);
    return shown;
}

QString WindowsAccounts::WellKnown(WELL_KNOWN_SID_TYPE type)
{
    BYTE known[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof known;
    return ::CreateWellKnownSid(type, nullptr, known, &size) ? Text(known) : QString();
}

QString WindowsAccounts::Name(PSID sid)
{
    wchar_t name[256], domain[256];
    DWORD nameSize = 256, domainSize = 256;
    SID_NAME_USE use;
    if (::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
        const QString account = QString::fromWCharArray(name, int(nameSize));
        return domainSize ? QString::fromWCharArray(domain, int(domainSize)) + u'\\' + account : account;
    }
    const QString shown = Text(sid);
    return shown.isEmpty() ? QStringLiteral("?") : shown;
}

QString WindowsAccounts::NameOf(const QString &sid)
{
    PSID binary = nullptr;
    if (!::ConvertStringSidToSidW(reinterpret_cast<const wchar_t *>(sid.utf16()), &binary))
        return sid.isEmpty() ? QStringLiteral("?") : sid;
    const QString name = Name(binary);
    ::LocalFree(binary);
    return name;
}

QString WindowsAccounts::Group(const QString &name)
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    wchar_t domain[256];
    DWORD domainSize = 256;
    SID_NAME_USE use;
    return ::LookupAccountNameW(nullptr, reinterpret_cast<const wchar_t *>(name.utf16()), sid, &size, domain,
                                &domainSize, &use)
                 ? Text(sid)
                 : QString();
}
