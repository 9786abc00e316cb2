#include "SystemReason.h"

#include <cerrno>
#include <cstring>

QString SystemReason(int code)
{
    switch (code) {
    case EACCES:
        return QStringLiteral("权限不够");
    case EPERM:
        return QStringLiteral("不允许这样操作");
    case ENOSPC:
        return QStringLiteral("磁盘空间不足");
    case EDQUOT:
        return QStringLiteral("超出了磁盘配额");
    case EROFS:
        return QStringLiteral("文件系统是只读的");
    case ENOTDIR:
        return QStringLiteral("路径中的一项不是文件夹");
    case EISDIR:
        return QStringLiteral("这是一个文件夹，不是文件");
    case ENOENT:
        return QStringLiteral("文件或文件夹不存在");
    case EFBIG:
        return QStringLiteral("文件过大");
    case ELOOP:
        return QStringLiteral("符号链接的层数过多");
    case EIO:
        return QStringLiteral("输入/输出错误");
    case EBUSY:
        return QStringLiteral("设备或资源正忙");
    default:
        return QString::fromLocal8Bit(std::strerror(code));
    }
}
