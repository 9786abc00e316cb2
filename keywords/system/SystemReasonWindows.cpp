#include "SystemReason.h"

#include <windows.h>

// Not in every SDK's headers.
#ifndef ERROR_DIRECTORY_NOT_SUPPORTED
#define ERROR_DIRECTORY_NOT_SUPPORTED 336L
#endif
#ifndef ERROR_DISK_QUOTA_EXCEEDED
#define ERROR_DISK_QUOTA_EXCEEDED 1295L
#endif

namespace {

QString SystemText(DWORD code, DWORD language)
{
    wchar_t *text = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER
                                                  | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, code, language, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = QString::fromWCharArray(text, int(length)).trimmed();
    ::LocalFree(text);
    // The system's sentences end with a full stop; the caller's sentence goes on.
    return message.endsWith(u'。') || message.endsWith(u'.') ? message.chopped(1) : message;
}

} // namespace

QString SystemReason(int code)
{
    switch (DWORD(code)) {
    case ERROR_ACCESS_DENIED:
        return QStringLiteral("权限不够");
    case ERROR_SHARING_VIOLATION:
        return QStringLiteral("文件正被另一个程序使用");
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return QStringLiteral("文件正被另一个程序使用（已被锁定或映射）");
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
        return QStringLiteral("旧文件正被另一个程序使用，不能被替换");
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return QStringLiteral("磁盘空间不足");
    case ERROR_DISK_QUOTA_EXCEEDED:
        return QStringLiteral("超出了磁盘配额");
    case ERROR_WRITE_PROTECT:
        return QStringLiteral("磁盘有写保护");
    case ERROR_FILE_NOT_FOUND:
        return QStringLiteral("文件或文件夹不存在");
    case ERROR_PATH_NOT_FOUND:
        return QStringLiteral("路径中的文件夹不存在");
    case ERROR_INVALID_NAME:
        return QStringLiteral("文件名或文件夹名的写法不对");
    case ERROR_DIRECTORY:
        return QStringLiteral("路径中的一项不是文件夹");
    case ERROR_DIRECTORY_NOT_SUPPORTED:
        return QStringLiteral("这是一个文件夹，不是文件");
    case ERROR_CANT_RESOLVE_FILENAME:
        return QStringLiteral("链接的层数过多");
    case ERROR_FILE_TOO_LARGE:
        return QStringLiteral("文件过大");
    case ERROR_NOT_READY:
        return QStringLiteral("设备未就绪");
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
        return QStringLiteral("输入/输出错误");
    default:
        break;
    }
    QString text = SystemText(DWORD(code), MAKELANGID(LANG_CHINESE_SIMPLIFIED, SUBLANG_CHINESE_SIMPLIFIED));
    if (text.isEmpty())
        text = SystemText(DWORD(code), 0);
    return text.isEmpty() ? QStringLiteral("系统错误 %1").arg(code) : text;
}
