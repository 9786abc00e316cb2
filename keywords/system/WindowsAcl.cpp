#include "WindowsAcl.h"

#include "WindowsAccounts.h"

#include <windows.h>

const QString WindowsAcl::Administrators = QStringLiteral("S-1-5-32-544");
const QString WindowsAcl::System = QStringLiteral("S-1-5-18");
const QString WindowsAcl::Users = QStringLiteral("S-1-5-32-545");
const QString WindowsAcl::Everyone = QStringLiteral("S-1-1-0");

namespace {

// OWNER RIGHTS: what the owner may do, whoever owns it.
const QString OwnerRights = QStringLiteral("S-1-3-4");
// CREATOR OWNER, in an entry that folders pass on: whoever makes the file.
const QString CreatorOwner = QStringLiteral("S-1-3-0");

// What lets someone change what is in a folder or a file, or its ACL.
constexpr quint32 WriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC
                              | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

bool Trusted(const QString &sid, const QString &saver, const QString &group)
{
    return sid == WindowsAcl::Administrators || sid == WindowsAcl::System || sid == saver
        || (!group.isEmpty() && sid == group);
}

// An owner who may change the DACL at any time, or no DACL at all.
std::optional<WindowsAcl::Refusal> OwnerOrNone(const QString &owner, const WindowsAcl::Dacl &dacl, const QString &saver)
{
    using Refusal = WindowsAcl::Refusal;
    if (owner.isEmpty() || (owner != WindowsAcl::Administrators && owner != WindowsAcl::System && owner != saver))
        return Refusal{Refusal::Cause::Owner, owner};
    if (!dacl)
        return Refusal{Refusal::Cause::OpenToOthers, WindowsAcl::Everyone};
    return std::nullopt;
}

} // namespace

std::optional<WindowsAcl::Refusal> WindowsAcl::LockFileRefusal(const QString &owner, const Dacl &dacl,
                                                               const QString &saver, const QString &group)
{
    if (std::optional<Refusal> refusal = OwnerOrNone(owner, dacl, saver))
        return refusal;
    for (const Entry &entry : *dacl) {
        if (entry.type != ACCESS_ALLOWED_ACE_TYPE && entry.type != ACCESS_DENIED_ACE_TYPE)
            return Refusal{Refusal::Cause::NotUnderstood, entry.sid, entry.type};
        if (entry.type == ACCESS_ALLOWED_ACE_TYPE && !(entry.flags & INHERIT_ONLY_ACE) && entry.rights != 0
            && !Trusted(entry.sid, saver, group) && entry.sid != OwnerRights)
            return Refusal{Refusal::Cause::OpenToOthers, entry.sid};
    }
    return std::nullopt;
}

std::optional<WindowsAcl::Refusal> WindowsAcl::OtherWriter(const QString &owner, const Dacl &dacl, const QString &saver,
                                                           const QString &group)
{
    if (std::optional<Refusal> refusal = OwnerOrNone(owner, dacl, saver))
        return refusal;
    for (const Entry &entry : *dacl) {
        // An entry that applies neither to the folder nor to its files.
        const bool applies = !(entry.flags & INHERIT_ONLY_ACE) || entry.flags & OBJECT_INHERIT_ACE;
        if (entry.type == ACCESS_DENIED_ACE_TYPE || !applies)
            continue;
        if (entry.type != ACCESS_ALLOWED_ACE_TYPE)
            return Refusal{Refusal::Cause::NotUnderstood, entry.sid, entry.type};
        if (entry.rights & WriteRights && !Trusted(entry.sid, saver, group) && entry.sid != OwnerRights
            && entry.sid != CreatorOwner)
            return Refusal{Refusal::Cause::OpenToOthers, entry.sid};
    }
    return std::nullopt;
}

QString WindowsAcl::FilterFolderSddl(const QString &creator, const QString &group)
{
    // As the installer's icacls: Users (OI)(CI)R; the group (RD,WD,X,RA,REA,RC,S)
    // on the folder and (OI)(IO)M on its files.
    QString sddl = QStringLiteral("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
    if (!creator.isEmpty())
        sddl += QStringLiteral("(A;OICI;FA;;;%1)").arg(creator);
    if (!group.isEmpty())
        sddl += QStringLiteral("(A;;0x1200ab;;;%1)(A;OIIO;0x1301bf;;;%1)").arg(group);
    return sddl;
}

bool WindowsAcl::Read(void *descriptor, QString *owner, Dacl *dacl)
{
    PSID ownerSid = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    PACL acl = nullptr;
    if (!::GetSecurityDescriptorOwner(descriptor, &ownerSid, &defaulted)
        || !::GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted))
        return false;
    *owner = WindowsAccounts::Text(ownerSid);
    if (!present || !acl) {
        dacl->reset();
        return true;
    }
    QList<Entry> entries;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACE_HEADER *ace = nullptr;
        if (!::GetAce(acl, i, reinterpret_cast<void **>(&ace))) {
            entries << Entry{-1};
            continue;
        }
        Entry entry{ace->AceType, ace->AceFlags};
        // Allow and deny entries alike: the header, the rights, the SID.
        if (ace->AceType == ACCESS_ALLOWED_ACE_TYPE || ace->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto *known = reinterpret_cast<ACCESS_ALLOWED_ACE *>(ace);
            entry.rights = known->Mask;
            entry.sid = WindowsAccounts::Text(&known->SidStart);
        }
        entries << entry;
    }
    *dacl = entries;
    return true;
}
