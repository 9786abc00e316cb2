#include "TestRow.h"
#include "system/WindowsAcl.h"

#include <windows.h>
#include <sddl.h>

using Entry = WindowsAcl::Entry;
using Dacl = WindowsAcl::Dacl;
Q_DECLARE_METATYPE(Dacl)

namespace {

const QString Me = "S-1-5-21-1004336348-1177238915-682003330-1001";
const QString Other = "S-1-5-21-1004336348-1177238915-682003330-1002";
const QString Group = "S-1-5-21-1004336348-1177238915-682003330-1010";
const QString AuthenticatedUsers = "S-1-5-11";
const QString &Admins = WindowsAcl::Administrators, &System = WindowsAcl::System, &Users = WindowsAcl::Users,
              &Everyone = WindowsAcl::Everyone;
constexpr int Allow = ACCESS_ALLOWED_ACE_TYPE, Deny = ACCESS_DENIED_ACE_TYPE,
              Callback = ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
constexpr int Full = FILE_ALL_ACCESS, Modify = 0x1301bf, Read = 0x1200a9;
constexpr int PassedOn = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
              ToFilesOnly = OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE;

// "none", or the refusal as "owner SID", "others SID", "not understood TYPE".
QString Said(const std::optional<WindowsAcl::Refusal> &refusal)
{
    using Cause = WindowsAcl::Refusal::Cause;
    return !refusal ? QString("none")
         : refusal->cause == Cause::NotUnderstood
                 ? QString("not understood %1").arg(refusal->type)
                 : (refusal->cause == Cause::Owner ? "owner " : "others ") + refusal->sid;
}

// A descriptor written in SDDL, read back as the store reads a file's.
QString WritersOf(const QString &sddl, const QString &group)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(reinterpret_cast<const wchar_t *>(sddl.utf16()),
                                                                SDDL_REVISION_1, &descriptor, nullptr))
        return "not SDDL: " + sddl;
    QString owner;
    Dacl dacl;
    const bool read = WindowsAcl::Read(descriptor, &owner, &dacl);
    ::LocalFree(descriptor);
    return read ? Said(WindowsAcl::OtherWriter(owner, dacl, Me, group)) : "unreadable: " + sddl;
}

} // namespace

// The Windows decisions on owners and ACLs, which Wine cannot show on real
// files: who may open the save's lock file, and who may write in the
// filter's folder.
class TestWindowsAcl : public QObject
{
    Q_OBJECT

private slots:
    void openToSaversAlone_data()
    {
        QTest::addColumn<bool>("folder"); // else the lock file
        QTest::addColumn<QString>("owner");
        QTest::addColumn<Dacl>("dacl");
        QTest::addColumn<QString>("refusal"); // the lock file's, or the folder's other writer
        const QList<Entry> made{
                {Allow, 0, Admins, Full}, {Allow, 0, System, Full}, {Allow, 0, Me, Full}, {Allow, 0, Group, Full}};
        Row("lock file: made by the saver's first save", false, Me, Dacl(made), "none");
        Row("lock file: Administrators', the group may change it", false, Admins, Dacl({{Allow, 0, Group, Modify}}),
            "none");
        Row("lock file: another member's, who could open it to anyone", false, Other, Dacl(made), "owner " + Other);
        Row("lock file: an owner the system could not tell", false, QString(), Dacl(made), "owner ");
        Row("lock file: no DACL, everyone may", false, Me, Dacl(), "others S-1-1-0");
        Row("lock file: Users may read", false, Me, Dacl(made + QList<Entry>{{Allow, 0, Users, Read}}),
            "others " + Users);
        Row("lock file: another user, passed on to files only: not the file's", false, Me,
            Dacl({{Allow, ToFilesOnly, Other, Full}}), "none");
        Row("lock file: Everyone denied", false, Me, Dacl({{Deny, 0, Everyone, Full}, {Allow, 0, Me, Full}}), "none");
        Row("lock file: a conditional entry, not understood", false, Me,
            Dacl(made + QList<Entry>{{Callback, 0, {}, Full}}), "not understood 9");
        Row("lock file: an object entry, not understood", false, Me,
            Dacl({{ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, {}, Full}}), "not understood 5");
        const QList<Entry> installed{{Allow, PassedOn, System, Full},
                                     {Allow, PassedOn, Admins, Full},
                                     {Allow, 0, Group, 0x1200ab},
                                     {Allow, ToFilesOnly, Group, Modify},
                                     {Allow, PassedOn, Users, Read}};
        Row("folder: as the installer leaves it", true, Admins, Dacl(installed), "none");
        Row("folder: owned by the saver", true, Me, Dacl(installed), "none");
        Row("folder: owned by another user, the installer's rule", true, Other, Dacl(installed), "owner " + Other);
        Row("folder: Everyone may add a file", true, System, Dacl({{Allow, 0, Everyone, FILE_ADD_FILE}}),
            "others S-1-1-0");
        Row("folder: another user may change the files made there", true, System,
            Dacl({{Allow, ToFilesOnly, Other, Modify}}), "others " + Other);
        Row("folder: another user, passed on to folders only", true, System,
            Dacl({{Allow, CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE, Other, Full}}), "none");
        Row("folder: CREATOR OWNER, passed on", true, System,
            Dacl({{Allow, PassedOn | INHERIT_ONLY_ACE, "S-1-3-0", Full}}), "none");
        Row("folder: no DACL", true, System, Dacl(), "others S-1-1-0");
        Row("folder: a callback entry", true, System, Dacl({{Callback, 0, {}, Read}}), "not understood 9");
    }

    void openToSaversAlone()
    {
        QFETCH(bool, folder);
        QFETCH(QString, owner);
        QFETCH(Dacl, dacl);
        QTEST(Said(folder ? WindowsAcl::OtherWriter(owner, dacl, Me, Group)
                          : WindowsAcl::LockFileRefusal(owner, dacl, Me, Group)),
              "refusal");
    }

    // The folder the program makes where the installer did not passes the
    // check before each publish, with and without the group; the DACL that
    // the root of C: passes on does not.
    void folderMadeWithoutTheInstaller()
    {
        QCOMPARE(WritersOf("O:" + Me + WindowsAcl::FilterFolderSddl(Me, Group), Group), QString("none"));
        QCOMPARE(WritersOf("O:" + Me + WindowsAcl::FilterFolderSddl(Me, {}), {}), QString("none"));
        QCOMPARE(WritersOf(
                         "O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;OICIID;0x1301bf;;;AU)",
                         Group),
                 "others " + AuthenticatedUsers);
    }
};

QTEST_GUILESS_MAIN(TestWindowsAcl)
#include "tst_windowsacl.moc"
