// Who may change a folder, and a folder's permissions carried to another. Dirshift
// runs as an administrator: a folder that other users may change (the journal's, a
// moved folder's new place) would let them steer what it does or swap the files
// that programs run from.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A security descriptor in self-relative form: the owner and the access list.
using SecurityBytes = std::vector<BYTE>;

// "S-1-5-18" (SYSTEM) and "S-1-5-32-544" (Administrators).
extern const wchar_t kSystemSid[];
extern const wchar_t kAdministratorsSid[];
// Everyone, which is who a missing access list lets in.
extern const wchar_t kEveryoneSid[];

// The principals (as "S-1-..." strings) that may change the object that `sd`
// guards or what it holds: its owner, who may always rewrite the access list, and
// each one that an allowing entry grants a right to write, add, delete, or change
// attributes, permissions or owner. Entries that only pass on to children are left
// out; deny entries are not subtracted, so the answer never names too few. A
// missing access list lets everyone in. Sorted, each once. Empty for data that is
// no valid descriptor.
std::vector<std::wstring> WritersOf(const SecurityBytes& sd);

// The principals of `writers` that are not in `allowed`.
std::vector<std::wstring> WritersBeyond(const std::vector<std::wstring>& writers,
                                        const std::vector<std::wstring>& allowed);

// SYSTEM and Administrators. Under Wine every program of the user runs with the
// same rights and every file reads back as owned by the user, so there the user
// counts as well: no program could be kept out by leaving it out.
std::vector<std::wstring> AdministratorPrincipals();

// The descriptor of an open handle (opened with READ_CONTROL): owner and access
// list. False when it cannot be read.
[[nodiscard]] bool ReadSecurity(HANDLE object, SecurityBytes& sd);

// Opens `path` itself (a link is not followed) and reads its descriptor; false
// when it cannot be opened or read. `reparsePoint` tells whether it is a link or
// other reparse point.
[[nodiscard]] bool ReadPathSecurity(const std::wstring& path, SecurityBytes& sd, bool& reparsePoint);

// A descriptor that lets SYSTEM and Administrators in, and nobody else, owned by
// Administrators, its entries inherited by what the folder holds.
SecurityBytes AdministratorsOnlySecurity();

// `sd`'s access list made the folder's own: protected from its new parent (so the
// files moved in inherit what they had) with every entry explicit. Empty when `sd`
// holds no access list.
SecurityBytes ProtectedCopy(const SecurityBytes& sd);

// Gives the object `object` (opened with WRITE_DAC, and WRITE_OWNER where
// allowed) the access list of `sd`, and its owner where the system allows it.
[[nodiscard]] bool ApplySecurity(HANDLE object, const SecurityBytes& sd);

// The user this program runs as ("S-1-5-21-..."); empty when it cannot be read.
std::wstring CurrentUserSid();
