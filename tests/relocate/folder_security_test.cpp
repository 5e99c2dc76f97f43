// Who may change a folder, read from its security descriptor, and the journal's
// store refusing a folder that others may change.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "base/unique_resource.h"
#include "engine/folder_security.h"
#include "engine/relocation_journal.h"
#include "tests/relocate/file_tree.h"

namespace {

using namespace relocation_testing;

SecurityBytes FromSddl(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr)) return {};
    UniqueLocalMemory owned(sd);
    const auto* bytes = static_cast<const BYTE*>(sd);
    return SecurityBytes(bytes, bytes + ::GetSecurityDescriptorLength(sd));
}

std::wstring ToSddl(const SecurityBytes& sd) {
    LPWSTR text = nullptr;
    if (sd.empty() || !::ConvertSecurityDescriptorToStringSecurityDescriptorW(
                          const_cast<BYTE*>(sd.data()), SDDL_REVISION_1,
                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return L"";
    }
    UniqueLocalMemory owned(text);
    return text;
}

constexpr wchar_t kUser[] = L"S-1-5-21-1-2-3-1001";
constexpr wchar_t kUsers[] = L"S-1-5-32-545";

TEST(FolderSecurity, WritersAreTheOwnerAndEveryoneAllowedToChangeTheFolderItself) {
    struct Case {
        const wchar_t* what;
        const wchar_t* sddl;
        std::vector<std::wstring> writers;
    };
    const Case cases[] = {
        {L"administrators only", L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", {kSystemSid, kAdministratorsSid}},
        {L"users may read and run", L"O:BAD:(A;;FA;;;SY)(A;;0x1200a9;;;BU)", {kSystemSid, kAdministratorsSid}},
        {L"inherit-only entries are for children", L"O:BAD:(A;;FA;;;SY)(A;OICIIO;FA;;;BU)",
         {kSystemSid, kAdministratorsSid}},
        {L"writing attributes is changing", L"O:BAD:(A;;0x100;;;BU)", {kAdministratorsSid, kUsers}},
        {L"adding a file is changing", L"O:BAD:(A;;0x2;;;BU)", {kAdministratorsSid, kUsers}},
        {L"generic write", L"O:BAD:(A;;GW;;;BU)", {kAdministratorsSid, kUsers}},
        {L"the owner may always rewrite the list", L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)", {kSystemSid, kUser}},
        {L"a deny entry is not subtracted", L"O:BAD:(D;;FA;;;BU)(A;;FA;;;BU)", {kAdministratorsSid, kUsers}},
        {L"no access list lets everyone in", L"O:BA", {kEveryoneSid, kAdministratorsSid}},
    };
    for (const Case& c : cases) {
        std::vector<std::wstring> expected = c.writers;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(WritersOf(FromSddl(c.sddl)), expected) << c.what;
    }
    EXPECT_TRUE(WritersOf(SecurityBytes{1, 2, 3}).empty()) << "no descriptor";
}

TEST(FolderSecurity, AdministratorsOnlyLetsNobodyElseInAndACopyKeepsItsEntriesAsItsOwn) {
    const SecurityBytes admins = AdministratorsOnlySecurity();
    EXPECT_TRUE(WritersBeyond(WritersOf(admins), {kSystemSid, kAdministratorsSid}).empty());
    EXPECT_EQ(WritersBeyond(WritersOf(FromSddl(L"O:BAD:(A;;FA;;;BU)")), {kSystemSid, kAdministratorsSid}),
              std::vector<std::wstring>{kUsers});

    // Entries inherited from the old parent become explicit, and the list is
    // protected, so that the new parent's never replace them.
    EXPECT_EQ(ToSddl(ProtectedCopy(FromSddl(L"O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)"))),
              L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)");
    EXPECT_TRUE(ProtectedCopy(FromSddl(L"O:BA")).empty()) << "no list to copy";
}

// What Wine keeps of a folder's permissions: it has no owners of its own and keeps
// an access list as the Unix mode, so only "who besides the user may write" reads
// back. That much must survive the copy.
TEST(FolderSecurity, AFolderGivenAnotherFoldersPermissionsReadsThemBack) {
    ScratchFolder scratch(TempRoot());
    const std::wstring model = scratch / L"model";
    const std::wstring open = scratch / L"open";
    ASSERT_TRUE(::CreateDirectoryW(model.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(open.c_str(), nullptr));
    const std::wstring user = CurrentUserSid();
    ASSERT_FALSE(user.empty());
    const std::wstring everyoneWrites = L"D:(A;;FA;;;SY)(A;;FA;;;" + user + L")(A;;FA;;;WD)";
    const SecurityBytes openSd = FromSddl(everyoneWrites.c_str());
    ASSERT_TRUE(::SetFileSecurityW(open.c_str(), DACL_SECURITY_INFORMATION, const_cast<BYTE*>(openSd.data())));

    SecurityBytes read;
    bool link = true;
    ASSERT_TRUE(ReadPathSecurity(open, read, link));
    EXPECT_FALSE(link);
    const std::vector<std::wstring> openWriters = WritersOf(read);
    EXPECT_NE(std::find(openWriters.begin(), openWriters.end(), kEveryoneSid), openWriters.end())
        << "Wine reads back that everyone may write";

    ASSERT_TRUE(ReadPathSecurity(model, read, link));
    const std::vector<std::wstring> modelWriters = WritersOf(read);
    EXPECT_TRUE(WritersBeyond(modelWriters, AdministratorPrincipals()).empty());
    const std::wstring copy = scratch / L"copy";
    ASSERT_TRUE(::CreateDirectoryW(copy.c_str(), nullptr));
    const SecurityBytes modelCopy = ProtectedCopy(read);
    UniqueFileHandle folder(::CreateFileW(copy.c_str(), READ_CONTROL | WRITE_DAC, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(folder);
    // An open folder given the model's permissions is closed again.
    ASSERT_TRUE(::SetFileSecurityW(copy.c_str(), DACL_SECURITY_INFORMATION, const_cast<BYTE*>(openSd.data())));
    ASSERT_TRUE(ApplySecurity(folder.get(), modelCopy));
    folder.reset();
    ASSERT_TRUE(ReadPathSecurity(copy, read, link));
    EXPECT_EQ(WritersOf(read), modelWriters);
}

// The journal steers what an administrator moves where: a store whose folder
// others may change is never read, written or emptied, whatever it holds.
TEST(JournalStoreTrust, AFolderThatOthersMayChangeIsNeitherReadNorWritten) {
    ScratchFolder scratch(TempRoot());
    const JournalStore store(scratch / L"store");
    RelocationJournal journal;
    journal.source = L"N:\\Games";
    journal.target = L"M:\\Games";
    journal.entries = {L"a.txt"};
    ASSERT_TRUE(store.Write(journal)) << "made by the store, the folder keeps others out";
    EXPECT_TRUE(store.Trusted());

    const std::wstring user = CurrentUserSid();
    const std::wstring everyoneWrites = L"D:(A;;FA;;;SY)(A;;FA;;;" + user + L")(A;;FA;;;WD)";
    const SecurityBytes openSd = FromSddl(everyoneWrites.c_str());
    ASSERT_TRUE(::SetFileSecurityW(store.folder().c_str(), DACL_SECURITY_INFORMATION,
                                   const_cast<BYTE*>(openSd.data())));
    RelocationJournal read;
    EXPECT_EQ(store.Read(read), JournalStore::ReadResult::Untrusted);
    EXPECT_FALSE(store.Trusted());
    EXPECT_FALSE(store.Write(journal));
    EXPECT_FALSE(store.Remove());
    EXPECT_TRUE(PathExists(store.path())) << "nothing deleted through a folder that could lead elsewhere";

    // A journal file that others may change, in a folder that keeps them out.
    const SecurityBytes closed = AdministratorsOnlySecurity();
    ASSERT_TRUE(::SetFileSecurityW(store.folder().c_str(), DACL_SECURITY_INFORMATION,
                                   const_cast<BYTE*>(closed.data())));
    ASSERT_EQ(store.Read(read), JournalStore::ReadResult::Found);
    ASSERT_TRUE(::SetFileSecurityW(store.path().c_str(), DACL_SECURITY_INFORMATION, const_cast<BYTE*>(openSd.data())));
    EXPECT_EQ(store.Read(read), JournalStore::ReadResult::Untrusted);
}

TEST(JournalStoreTrust, TheUsersStoreLivesInProgramDataAndAnEarlierJournalIsOnlyDeletedWhereItIs) {
    const JournalStore store = JournalStore::ForCurrentUser();
    const std::wstring user = CurrentUserSid();
    ASSERT_FALSE(user.empty());
    EXPECT_NE(store.folder().find(L"\\Dirshift\\journal\\" + user), std::wstring::npos) << store.folder();
    const std::wstring earlier = JournalStore::EarlierJournalPath();
    const std::wstring tail = L"\\Dirshift\\relocation.journal";
    ASSERT_GT(earlier.size(), tail.size());
    EXPECT_EQ(earlier.substr(earlier.size() - tail.size()), tail);

    ScratchFolder scratch(TempRoot());
    const std::wstring file = scratch / L"relocation.journal";
    WriteTextFile(file, "old");
    const std::wstring folder = scratch / L"a folder";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_FALSE(JournalStore::DeleteEarlierJournal(folder));
    EXPECT_TRUE(IsFolder(folder)) << "a folder is no journal";
    EXPECT_FALSE(JournalStore::DeleteEarlierJournal(scratch / L"missing"));
    EXPECT_TRUE(JournalStore::DeleteEarlierJournal(file));
    EXPECT_FALSE(PathExists(file));
}

}  // namespace
