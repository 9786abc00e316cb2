#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

// One copy of the keyword file, reached and replaced in folders that other
// people can write to without ever being led to a file the user running the
// program could not reach otherwise.
//
// A link on the way (a symbolic link, or on Windows a junction too) is
// followed only when MayFollow says so; anything found is opened through what
// was checked, so a link swapped in afterwards is not followed either. A
// replacement is a new file in the same folder that takes the old name in one
// rename: readers and a crash see the whole old file or the whole new one, and
// a link planted at the name is replaced rather than followed.
//
// SafeFile.cpp holds what both systems share; SafeFilePosix.cpp and
// SafeFileWindows.cpp hold the system calls.
class SafeFile
{
public:
    enum class Step {
        Reach, // a folder or link on the way
        Read,
        Inspect, // the file to be replaced
        Create,  // the new file in the folder
        Write,
        Rename,
        Confirm, // the folder's sync: the copy was replaced, but is not known to be on disk
        MakeFolder,
        Lock, // the lock that orders saves
    };
    enum class Cause {
        System,         // the system's error code in code: errno, or GetLastError() on Windows
        ForeignLink,    // a link of another user, not followed
        NotAFile,       // a device, a pipe or a socket
        NarrowsReaders, // the replacement would shut out someone who reads it now
        Changed,        // the file is no longer what the caller expected; nothing was replaced
        TooLarge,       // larger than MaxSize; its size in number
        Busy,           // another save holds the lock; its process in number where the system tells
        GaveUp,         // the caller stopped waiting for the lock
        // The lock file is not one that only those who may save can open;
        // the command that mends it in detail:
        OpenToOthers, // others may open it, owner says who
        LockLinks,    // it has more than one name; how many in number
        LockOwner,    // someone else owns it, who could open it to anyone
        LockGroup,    // another group than the folder's may open it
        FolderOpen,   // others may write in the folder, owner says who; what to do in detail
    };
    struct Error
    {
        Step step = Step::Reach;
        Cause cause = Cause::System;
        int code = 0;
        QString path;  // what failed: a link, a folder or the file
        QString owner; // of the link, the folder or the file at fault, by name
        QString group; // its group, where the system has one
        int mode = 0;  // its permission bits, where the system has them
        qint64 number = 0;
        QString detail; // what an administrator runs to mend it
    };

    // A keyword file larger than this is refused rather than read. A
    // million keywords take some 14 MB, which the window holds in some 110
    // MB; a file this size of the shortest keywords, some 400 MB.
    static constexpr qint64 MaxSize = qint64(16) << 20;

    explicit SafeFile(const QString &path);
    ~SafeFile();
    SafeFile(const SafeFile &) = delete;
    SafeFile &operator=(const SafeFile &) = delete;

    // Follows the path to the folder that holds the file. Must come first.
    bool Reach(Error *error);
    bool Read(QByteArray *bytes, Error *error) const;
    // Notes owner, group, mode and ACL of the file to be replaced, and refuses
    // a replacement that would lock out someone who can read it now.
    bool Inspect(Error *error);
    // The new file takes over what Inspect noted, where the process may set
    // it, but for write access for others and set-id bits; root's new file
    // stays root's unless its old owner could not read it so. A new file is
    // 0644 and takes the folder's group. On Windows
    // the system carries the old file's ACL, owner and attributes over, or
    // refuses, and a new file takes the folder's inherited ACL. Earlier
    // saves' leftovers whose process is gone are removed first. When given,
    // unchanged is asked once the new file is whole, just before the rename:
    // on false nothing is replaced and the error's cause is Changed. Saves
    // hold the Lock around it, so that they take turns. On Windows a reader
    // that does not share deleting keeps the file from being replaced: the
    // rename is tried again for at most wait, and then the error names who
    // holds it (owner) where the system tells.
    bool Replace(const QByteArray &bytes, Error *error, const std::function<bool()> &unchanged = {},
                 std::chrono::milliseconds wait = {});
    // Whether the file Inspect noted let others write it, which its
    // replacement does not.
    bool Tightened() const;

    // Takes the lock that orders saves of this file, waiting at most wait for
    // a save that holds it. The lock is a file beside this one, ".NAME.lock",
    // that only those who may write the folder can open, so nobody else can
    // hold up a save: one found there that others could open, or whose owner
    // could open it to them, is refused (the user's own is first closed),
    // and one that is a second name of another file is never changed. Held until Unlock, or until this goes. While it
    // waits, waiting is told who holds it (a Busy error) every 50 ms; on false the wait ends, as GaveUp.
    bool Lock(std::chrono::milliseconds wait, Error *error, const std::function<bool(const Error &busy)> &waiting = {});
    void Unlock();

    QString FolderPath() const { return m_folderPath; }
    // Whether anyone but those who may save (root, or Administrators and
    // SYSTEM; the user; the folder's group) may write in the folder that
    // holds the file, or its owner is someone else; warning then says who.
    bool FolderOpenToOthers(Error *warning) const;

    // Creates the folder when nothing of that name exists; anything already
    // there, even a plain file, is left alone.
    static bool MakeFolder(const QString &path, Error *error);

    // Whether a link that this account owns is followed for the user running
    // the program: only when it is the system's (root; on Windows
    // Administrators or SYSTEM) or the user's own, the rule the kernel keeps
    // in shared sticky folders. Accounts as the system numbers them: a uid,
    // or on Windows a SID in its string form.
    static bool MayFollow(const QString &linkOwner, const QString &user);

    // Why a step failed, in words the user can act on.
    static QString Explain(const Error &error);
    // Who holds the lock that a Busy error is about: "用户 alice（进程 1234）",
    // or "另一位操作员" where the system does not tell.
    static QString Holder(const Error &busy);
    // Whether it failed because what it looked for is not there.
    static bool Missing(const Error &error);
    // The command that copies one file over another, as the user would type it.
    static QString CopyCommand(const QString &from, const QString &to);

private:
    struct Held; // what the platform keeps between the steps
    void RemoveLeftovers() const;

    QString m_path;
    QString m_folderPath;
    std::unique_ptr<Held> m_held;
};
