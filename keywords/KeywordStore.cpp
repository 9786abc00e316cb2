#include "KeywordStore.h"

#include "KeywordFile.h"
#include "KeywordList.h"
#include "Locations.h"
#include "SafeWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/stat.h>
#endif

namespace {

QString Native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// Shows a keyword in a one-line message, line breaks included.
QString Quoted(QString keyword)
{
    keyword.replace(u'\r', QStringLiteral("\\r")).replace(u'\n', QStringLiteral("\\n"));
    return QStringLiteral("“%1”").arg(keyword);
}

bool MakeDirectory(const QString &path, QString *reason)
{
#ifdef Q_OS_UNIX
    // 0755 whatever the umask: the web-server filter runs as another user.
    if (::mkdir(QFile::encodeName(path).constData(), 0755) != 0
        || ::chmod(QFile::encodeName(path).constData(), 0755) != 0) {
        *reason = qt_error_string(errno);
        return false;
    }
    return true;
#else
    if (QDir().mkdir(path))
        return true;
    *reason = QStringLiteral("无法创建目录");
    return false;
#endif
}

} // namespace

bool LoadWorkingCopy(const Locations &locations, KeywordList &list, QString *error)
{
    const QString &path = locations.workingCopy;
    QFile file(path);
    KeywordFile::Decoded decoded;
    if (!file.open(QIODevice::ReadOnly) || !KeywordFile::DecodeFrom(file, &decoded)
        || file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("无法读取关键字文件 %1：%2").arg(Native(path), file.errorString());
        return false;
    }
    file.close();

    if (decoded.utf8ByteOrderMark) {
        *error = QStringLiteral("关键字文件 %1 是 UTF-8 编码（以 UTF-8 字节顺序标记开头），"
                                "本程序需要 GBK 编码。请将它另存为 GBK 编码后再启动。")
                     .arg(Native(path));
        return false;
    }
    if (!decoded.ok) {
        *error = QStringLiteral("关键字文件 %1 第 %2 行不是有效的 GBK 编码文本，未作任何修改。"
                                "请将它改为 GBK 编码后再启动。")
                     .arg(Native(path))
                     .arg(decoded.badLine);
        return false;
    }
    list.AppendAll(std::move(decoded.keywords));
    return true;
}

bool EnsureFilterDirectory(const Locations &locations, QString *error)
{
    const QString &path = locations.filterDirectory;
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink())
        return true;
    QString reason;
    if (!MakeDirectory(path, &reason)) {
        *error = QStringLiteral("无法创建过滤目录 %1：%2").arg(Native(path), reason);
        return false;
    }
    return true;
}

bool RunStartUp(const Locations &locations, KeywordList &list, QString *error)
{
    return LoadWorkingCopy(locations, list, error) && EnsureFilterDirectory(locations, error);
}

bool SaveAndPublish(const Locations &locations, const KeywordList &list, QString *error)
{
    const KeywordFile::Encoded encoded = KeywordFile::Encode(list.Texts());
    if (encoded.fault != KeywordFile::Fault::None) {
        const QString keyword = list.Text(encoded.badPosition);
        const QString problem = encoded.fault == KeywordFile::Fault::LineBreak
                                    ? QStringLiteral("含有换行符")
                                    : QStringLiteral("含有 GBK 编码无法保存的字符");
        *error = QStringLiteral("第 %1 个关键字 %2 %3，无法保存。请修改或删除它；没有写入任何文件。")
                     .arg(encoded.badPosition)
                     .arg(Quoted(keyword), problem);
        return false;
    }

    QString reason;
    if (!WriteFileSafely(locations.workingCopy, encoded.bytes, &reason)) {
        *error = QStringLiteral("无法保存工作副本 %1：%2。工作副本和发布副本都没有改动。")
                     .arg(Native(locations.workingCopy), reason);
        return false;
    }
    if (!WriteFileSafely(locations.publishedCopy, encoded.bytes, &reason)) {
        *error = QStringLiteral("工作副本 %1 已保存，但无法发布到 %2：%3。发布副本没有被替换。")
                     .arg(Native(locations.workingCopy), Native(locations.publishedCopy), reason);
        return false;
    }
    return true;
}
