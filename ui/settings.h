// The program's settings of its own: whether the junction manager's scan also
// searches subfolders, and whether a relocation between drives compares every
// copied byte. Kept in the current user's registry, with no cache: every call
// opens the key, does one value access and closes it again.
#pragma once

#include <windows.h>

// Software\Dirshift below HKEY_CURRENT_USER; the remembered message-box answers
// live below the same key.
constexpr wchar_t kSettingsKeyPath[] = L"Software\\Dirshift";
constexpr wchar_t kRecurseValueName[] = L"Recurse";
constexpr wchar_t kCompareContentsValueName[] = L"CompareContents";

// Sets `value` to 0, then reads "Recurse" into it. Any value of at most 4 bytes is
// accepted whatever its registry type; a longer one fails and leaves 0. Creates the
// key when it does not exist yet. True only if the value was read; each failure
// writes the debug line "Tressel.Error: Registry".
[[nodiscard]] bool ReadRecurseSetting(DWORD& value);

// Stores `value` as the 4-byte REG_BINARY "Recurse". True only if it was stored;
// each failure writes the debug line "Tressel.Error: Registry".
[[nodiscard]] bool WriteRecurseSetting(DWORD value);

// Whether the relocation dialog's "compare the contents" box was ticked when last
// used; false when it never was or cannot be read. Stored as a REG_DWORD.
[[nodiscard]] bool ReadCompareContentsSetting();
[[nodiscard]] bool WriteCompareContentsSetting(bool compare);
