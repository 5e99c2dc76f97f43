#include "engine/folder_security.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>

#include "base/unique_resource.h"
#include "junction/wine_host.h"

const wchar_t kSystemSid[] = L"S-1-5-18";
const wchar_t kAdministratorsSid[] = L"S-1-5-32-544";
const wchar_t kEveryoneSid[] = L"S-1-1-0";

namespace {

// Every right by which a principal can change a file or folder, what a folder
// holds, or who else may.
constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                        FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                        GENERIC_ALL | MAXIMUM_ALLOWED;

constexpr SECURITY_INFORMATION kOwnerAndAccess = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

std::wstring SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (sid == nullptr || !::IsValidSid(sid) || !::ConvertSidToStringSidW(sid, &text)) return std::wstring();
    UniqueLocalMemory owned(text);
    return text;
}

bool IsValid(const SecurityBytes& sd) {
    return sd.size() >= sizeof(SECURITY_DESCRIPTOR_RELATIVE) &&
           ::IsValidSecurityDescriptor(const_cast<BYTE*>(sd.data())) != FALSE;
}

// The SID an allowing entry names; null for any other kind of entry.
PSID AllowedSid(const ACE_HEADER* header, ACCESS_MASK& mask) {
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return nullptr;
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    mask = ace->Mask;
    return const_cast<DWORD*>(&ace->SidStart);
}

SecurityBytes SelfRelative(PSECURITY_DESCRIPTOR sd) {
    DWORD size = 0;
    ::MakeSelfRelativeSD(sd, nullptr, &size);
    if (size == 0) return {};
    SecurityBytes bytes(size);
    if (!::MakeSelfRelativeSD(sd, bytes.data(), &size)) return {};
    return bytes;
}

}  // namespace

std::vector<std::wstring> WritersOf(const SecurityBytes& sd) {
    std::vector<std::wstring> writers;
    if (!IsValid(sd)) return writers;
    auto* descriptor = const_cast<BYTE*>(sd.data());
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    if (::GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) && owner != nullptr) {
        writers.push_back(SidText(owner));
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || dacl == nullptr) {
        writers.push_back(kEveryoneSid);
    } else {
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* entry = nullptr;
            if (!::GetAce(dacl, i, &entry)) continue;
            const auto* header = static_cast<const ACE_HEADER*>(entry);
            if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
            ACCESS_MASK mask = 0;
            const PSID sid = AllowedSid(header, mask);
            if (sid != nullptr && (mask & kChangingRights) != 0) writers.push_back(SidText(sid));
        }
    }
    writers.erase(std::remove(writers.begin(), writers.end(), std::wstring()), writers.end());
    std::sort(writers.begin(), writers.end());
    writers.erase(std::unique(writers.begin(), writers.end()), writers.end());
    return writers;
}

std::vector<std::wstring> WritersBeyond(const std::vector<std::wstring>& writers,
                                        const std::vector<std::wstring>& allowed) {
    std::vector<std::wstring> beyond;
    for (const std::wstring& writer : writers) {
        if (std::find(allowed.begin(), allowed.end(), writer) == allowed.end()) beyond.push_back(writer);
    }
    return beyond;
}

std::vector<std::wstring> AdministratorPrincipals() {
    std::vector<std::wstring> principals{kSystemSid, kAdministratorsSid};
    if (wine_host::RunningUnderWine()) {
        const std::wstring user = CurrentUserSid();
        if (!user.empty()) principals.push_back(user);
    }
    return principals;
}

bool ReadSecurity(HANDLE object, SecurityBytes& sd) {
    sd.clear();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_FILE_OBJECT, kOwnerAndAccess, nullptr, nullptr, nullptr, nullptr, &descriptor) !=
        ERROR_SUCCESS) {
        return false;
    }
    UniqueLocalMemory owned(descriptor);
    const DWORD size = ::GetSecurityDescriptorLength(descriptor);
    const auto* bytes = static_cast<const BYTE*>(descriptor);
    sd.assign(bytes, bytes + size);
    return IsValid(sd);
}

bool ReadPathSecurity(const std::wstring& path, SecurityBytes& sd, bool& reparsePoint) {
    sd.clear();
    reparsePoint = false;
    UniqueFileHandle object(::CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!object || !::GetFileInformationByHandle(object.get(), &info)) return false;
    reparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return ReadSecurity(object.get(), sd);
}

SecurityBytes AdministratorsOnlySecurity() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                                                SDDL_REVISION_1, &descriptor, nullptr)) {
        return {};
    }
    UniqueLocalMemory owned(descriptor);
    const auto* bytes = static_cast<const BYTE*>(descriptor);
    return SecurityBytes(bytes, bytes + ::GetSecurityDescriptorLength(descriptor));
}

SecurityBytes ProtectedCopy(const SecurityBytes& sd) {
    if (!IsValid(sd)) return {};
    auto* descriptor = const_cast<BYTE*>(sd.data());
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || dacl == nullptr) return {};
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    (void)::GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted);

    // Entries the folder had from its parent become its own: the new parent's must
    // not take their place.
    ACL_SIZE_INFORMATION size = {};
    if (!::GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation)) return {};
    std::vector<BYTE> aclBytes(size.AclBytesInUse);
    std::copy_n(reinterpret_cast<const BYTE*>(dacl), size.AclBytesInUse, aclBytes.begin());
    auto* copy = reinterpret_cast<PACL>(aclBytes.data());
    copy->AclSize = static_cast<WORD>(aclBytes.size());
    for (DWORD i = 0; i < copy->AceCount; ++i) {
        void* entry = nullptr;
        if (::GetAce(copy, i, &entry)) static_cast<ACE_HEADER*>(entry)->AceFlags &= ~INHERITED_ACE;
    }

    SECURITY_DESCRIPTOR absolute;
    if (!::InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&absolute, TRUE, copy, FALSE) ||
        !::SetSecurityDescriptorControl(&absolute, SE_DACL_PROTECTED, SE_DACL_PROTECTED) ||
        (owner != nullptr && !::SetSecurityDescriptorOwner(&absolute, owner, FALSE))) {
        return {};
    }
    return SelfRelative(&absolute);
}

bool ApplySecurity(HANDLE object, const SecurityBytes& sd) {
    if (!IsValid(sd)) {
        ::SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return false;
    }
    auto* descriptor = const_cast<BYTE*>(sd.data());
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || dacl == nullptr ||
        !::GetSecurityDescriptorControl(descriptor, &control, &revision)) {
        ::SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return false;
    }
    (void)::GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted);
    const SECURITY_INFORMATION protection =
        (control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION;
    // An owner that this user may not give (another user's, without the restore
    // privilege) is left as it is; the access list is what keeps others out.
    if (owner != nullptr && ::SetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr,
                                              nullptr, nullptr) != ERROR_SUCCESS) {
        owner = nullptr;
    }
    const DWORD error = ::SetSecurityInfo(object, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | protection, nullptr,
                                          nullptr, dacl, nullptr);
    ::SetLastError(error);
    return error == ERROR_SUCCESS;
}

std::wstring CurrentUserSid() {
    HANDLE rawToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return std::wstring();
    UniqueHandle token(rawToken);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return std::wstring();
    std::vector<BYTE> buffer(size);
    if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return std::wstring();
    return SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}
