#pragma once

#include <QList>
#include <QString>

#include <optional>

// The decisions the Windows half of SafeFile makes on owners and DACLs, on
// accounts as SIDs in their string form, apart from the system calls that
// read them. SafeFileWindows*.cpp read the security descriptors and act.
class WindowsAcl
{
public:
    // One entry of a DACL, as its header and body give it.
    struct Entry
    {
        int type = 0;  // ACCESS_ALLOWED_ACE_TYPE, ACCESS_DENIED_ACE_TYPE, …
        int flags = 0; // OBJECT_INHERIT_ACE, INHERIT_ONLY_ACE, …
        QString sid;   // empty where the entry names none it understands
        quint32 rights = 0;
    };
    // A DACL; none at all lets everyone do anything.
    using Dacl = std::optional<QList<Entry>>;

    // Why a lock file or a folder is open to others than those who may save.
    struct Refusal
    {
        enum class Cause { Owner, OpenToOthers, NotUnderstood };
        Cause cause;
        QString sid;  // the owner, or the account the entry lets in ("S-1-1-0" for no DACL)
        int type = 0; // of the entry not understood
    };
    // A lock file that anyone else could open would let them hold a read
    // lock that keeps every save out. It must be owned by Administrators,
    // SYSTEM or the saver (an owner may change the DACL at any time); the
    // entries that apply to it allow no one but them and the group; any
    // other kind of entry than allow and deny (conditional, object,
    // callback) is not understood, and refused.
    static std::optional<Refusal> LockFileRefusal(const QString &owner, const Dacl &dacl, const QString &saver,
                                                  const QString &group);

    // Whether anyone besides Administrators, SYSTEM, the saver and the
    // group may write in a folder with this owner and DACL, or in the files
    // it passes its ACL on to: its owner when someone else (the installer's
    // rule), the first entry that lets someone else write, or one not
    // understood; nothing when nobody can.
    static std::optional<Refusal> OtherWriter(const QString &owner, const Dacl &dacl, const QString &saver,
                                              const QString &group);

    // The DACL, in SDDL, of a filter folder made without the installer, as
    // the installer makes it: protected, Administrators and SYSTEM full
    // control, Users read; besides, the creating user full control, and the
    // group, where it exists, what a save needs.
    static QString FilterFolderSddl(const QString &creator, const QString &group);

    // The owner and DACL of a security descriptor (a PSECURITY_DESCRIPTOR).
    static bool Read(void *descriptor, QString *owner, Dacl *dacl);

    static const QString Administrators, System, Users, Everyone;
};
