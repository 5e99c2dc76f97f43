#include "ui/settings.h"

#include "base/debug_log.h"
#include "base/unique_resource.h"

namespace {

constexpr wchar_t kRegistryError[] = L"Tressel.Error: Registry";

// Opens Software\Dirshift, creating it when missing, so a first start of a new
// user finds the key in place for the message box's remembered answers too.
bool OpenSettingsKey(REGSAM access, UniqueRegKey& key) {
    const LSTATUS status = ::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr,
                                             REG_OPTION_NON_VOLATILE, access, nullptr, key.put(), nullptr);
    return status == ERROR_SUCCESS;
}

}  // namespace

bool ReadRecurseSetting(DWORD& value) {
    value = 0;
    UniqueRegKey key;
    if (!OpenSettingsKey(KEY_READ, key)) {
        DebugLine(kRegistryError);
        return false;
    }
    // Read into a separate buffer: a failed query must leave the output at 0, and
    // a shorter value fills only its first bytes, the rest staying 0.
    DWORD stored = 0;
    DWORD size = sizeof(stored);
    if (::RegQueryValueExW(key.get(), kRecurseValueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&stored),
                           &size) != ERROR_SUCCESS) {
        DebugLine(kRegistryError);
        return false;
    }
    value = stored;
    return true;
}

bool WriteRecurseSetting(DWORD value) {
    UniqueRegKey key;
    if (!OpenSettingsKey(KEY_WRITE, key)) {
        DebugLine(kRegistryError);
        return false;
    }
    if (::RegSetValueExW(key.get(), kRecurseValueName, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&value),
                         sizeof(value)) != ERROR_SUCCESS) {
        DebugLine(kRegistryError);
        return false;
    }
    return true;
}

bool ReadCompareContentsSetting() {
    UniqueRegKey key;
    if (!OpenSettingsKey(KEY_READ, key)) return false;
    DWORD stored = 0;
    DWORD size = sizeof(stored);
    DWORD type = 0;
    if (::RegQueryValueExW(key.get(), kCompareContentsValueName, nullptr, &type, reinterpret_cast<BYTE*>(&stored),
                           &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(stored)) {
        return false;
    }
    return stored != 0;
}

bool WriteCompareContentsSetting(bool compare) {
    UniqueRegKey key;
    if (!OpenSettingsKey(KEY_WRITE, key)) {
        DebugLine(kRegistryError);
        return false;
    }
    const DWORD value = compare ? 1 : 0;
    if (::RegSetValueExW(key.get(), kCompareContentsValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                         sizeof(value)) != ERROR_SUCCESS) {
        DebugLine(kRegistryError);
        return false;
    }
    return true;
}
