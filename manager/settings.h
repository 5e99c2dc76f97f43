// The program's one setting of its own: whether the junction manager's scan also
// searches subfolders. Kept in the current user's registry, with no cache: every
// call opens the key, does one value access and closes it again.
#pragma once

#include <windows.h>

// Software\Dirshift below HKEY_CURRENT_USER; the remembered message-box answers
// live below the same key.
constexpr wchar_t kSettingsKeyPath[] = L"Software\\Dirshift";
constexpr wchar_t kRecurseValueName[] = L"Recurse";

// Sets `value` to 0, then reads "Recurse" into it. Any value of at most 4 bytes is
// accepted whatever its registry type; a longer one fails and leaves 0. Creates the
// key when it does not exist yet. True only if the value was read; each failure
// writes the debug line "Tressel.Error: Registry".
[[nodiscard]] bool ReadRecurseSetting(DWORD& value);

// Stores `value` as the 4-byte REG_BINARY "Recurse". True only if it was stored;
// each failure writes the debug line "Tressel.Error: Registry".
[[nodiscard]] bool WriteRecurseSetting(DWORD value);
