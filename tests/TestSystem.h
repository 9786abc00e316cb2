#pragma once

// What the store tests need of the system beyond plain files: root, other
// users, links and a log of their own.

#include "SaveRecord.h"
#include "TestFiles.h"
#include "system/SystemReason.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

// Root, other users, POSIX ACLs, private mounts and the interposers are
// POSIX; Wine makes no symbolic links or junctions (CreateSymbolicLinkW does
// nothing there), so links, another user's above all, are left to POSIX too.
#ifdef Q_OS_WIN
#define POSIX_ONLY(what) QSKIP("POSIX only: " what)
#define ROOT_ONLY(posix, root) QSKIP("POSIX only: " posix)
#else
#define POSIX_ONLY(what) static_cast<void>(what)
#define ROOT_ONLY(posix, root) \
    do { \
        if (!PrivateRoot()) \
            QSKIP("needs root, " root); \
    } while (false)
#endif

const QByteArray Old = "old\r\n"; // what each file holds before a test changes it

// Users and groups, which rows name on every platform and only POSIX runs.
constexpr int Member = 4001, OtherMember = 4002, Outsider = 4003, Group = 4000;

// Whether a step of a test's set-up was done; if not, failed tells what and why.
inline bool Done(bool done, const QString &what, QString *failed)
{
#ifdef Q_OS_WIN
    const QString reason = SystemReason(int(::GetLastError()));
#else
    const QString reason = SystemReason(errno);
#endif
    if (!done)
        *failed = QStringLiteral("cannot %1: %2").arg(what, reason);
    return done;
}

#ifndef Q_OS_WIN

// Root, in a mount namespace of its own: read-only and full file systems
// without touching the machine's mounts.
inline bool PrivateRoot()
{
    static const bool root = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
                          && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return root;
}

// Gives path the owner, group, mode and ACL entries written as Ownership
// shows them: "uid:gid mode entry...".
[[nodiscard]] inline bool Own(const QString &path, const QString &given, QString *failed)
{
    const QStringList parts = given.split(' '), ids = parts.value(0).split(':'), acl = parts.mid(2);
    const QByteArray name = QFile::encodeName(path);
    return Done(::chown(name, ids.value(0).toUInt(), ids.value(1).toUInt()) == 0
                        && ::chmod(name, parts.value(1).toUInt(nullptr, 8)) == 0,
                QStringLiteral("give %1 to %2").arg(path, given), failed)
        && (acl.isEmpty()
            || Done(QProcess::execute("setfacl", {"-m", acl.join(','), path}) == 0, "set the ACL of " + path, failed));
}

// Owner, group and mode as "uid:gid mode", then the entries of an ACL but
// the owner's and others', which the mode shows.
inline QString Ownership(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path), &st) != 0)
        return "no " + path;
    QProcess getfacl;
    getfacl.start("getfacl", {"-cnpEs", path});
    QStringList shown{QString("%1:%2 %3").arg(st.st_uid).arg(st.st_gid).arg(st.st_mode & 07777, 0, 8)};
    shown += getfacl.waitForFinished() ? QString(getfacl.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)
                                       : QStringList{"no getfacl"};
    shown.removeIf([](const QString &entry) { return entry.startsWith("user::") || entry.startsWith("other::"); });
    return shown.join(' ');
}

// Does what as user, and is root again after: a member of the group also
// holds it, anyone else only their own. False when it could not become user.
template<typename What>
bool AsUser(uid_t user, What what)
{
    const gid_t groups[] = {gid_t(user), gid_t(Group)};
    const int count = user == Member || user == OtherMember ? 2 : 1;
    const bool became = ::setgroups(count, groups) == 0 && ::setegid(user) == 0 && ::seteuid(user) == 0;
    if (became)
        what();
    if (::seteuid(0) != 0 || ::setegid(0) != 0 || ::setgroups(0, nullptr) != 0)
        qFatal("cannot become root again");
    return became;
}

// A log of the test's own, which the saves write to instead of the system's.
inline int OpenLog(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct sockaddr_un address
    { };
    address.sun_family = AF_UNIX;
    std::copy(name.cbegin(), name.cend(), address.sun_path);
    const int log = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    SaveRecord::SetDestination(path);
    return ::bind(log, reinterpret_cast<struct sockaddr *>(&address), sizeof address) == 0 ? log : -1;
}

// The records sent to the log since last asked, each after what the log has
// before it (authpriv.notice, the time, the program, who saved), when that is right.
inline QStringList Received(int log)
{
    const QString who =
            QStringLiteral(" vantrel-filter[%1]: user=%2 uid=%3 ")
                    .arg(QString::number(::getpid()), ::getpwuid(::geteuid())->pw_name, QString::number(::geteuid()));
    QStringList records;
    char datagram[65536];
    for (ssize_t size; (size = ::recv(log, datagram, sizeof datagram, MSG_DONTWAIT)) >= 0;) {
        const QString line = QString::fromUtf8(datagram, size);
        const qsizetype at = line.indexOf(who);
        records << (line.startsWith("<85>") && at > 0 ? line.mid(at + who.size()) : line);
    }
    return records;
}

#endif
