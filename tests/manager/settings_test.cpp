// The recurse setting in HKCU\Software\Dirshift: read, written and created as the
// manager relies on, whatever another program may have left in the value.
#include "ui/settings.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/driver/debug_capture.h"
#include "tests/manager/manager_test_support.h"

namespace {

using manager_test::RecurseValueBytes;
using manager_test::SettingsScope;
using testing_driver::DebugLineCapture;

constexpr wchar_t kRegistryError[] = L"Tressel.Error: Registry";

bool KeyExists() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

void StoreValue(DWORD type, const std::vector<BYTE>& bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(key, kRecurseValueName, 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
    ::RegCloseKey(key);
}

TEST(RecurseSetting, FirstReadCreatesTheKeyAndCountsAsZero) {
    SettingsScope scope;
    ASSERT_FALSE(KeyExists());
    DebugLineCapture capture;
    DWORD value = 7;
    EXPECT_FALSE(ReadRecurseSetting(value));
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(KeyExists());
    EXPECT_EQ(capture.LinesStartingWith(L"Tressel."), std::vector<std::wstring>{kRegistryError});
}

TEST(RecurseSetting, AnyValueUpToFourBytesIsReadWhateverItsType) {
    const struct {
        const char* name;
        DWORD type;
        std::vector<BYTE> bytes;
        bool read;
        DWORD value;
    } cases[] = {
        {"binary 1", REG_BINARY, {1, 0, 0, 0}, true, 1},
        {"dword 1", REG_DWORD, {1, 0, 0, 0}, true, 1},
        {"binary 0", REG_BINARY, {0, 0, 0, 0}, true, 0},
        {"large", REG_BINARY, {0x78, 0x56, 0x34, 0x12}, true, 0x12345678},
        {"two bytes fill the low bytes", REG_BINARY, {5, 1}, true, 0x105},
        {"empty", REG_BINARY, {}, true, 0},
        {"eight bytes fail", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, false, 0},
        {"five bytes fail", REG_BINARY, {1, 1, 1, 1, 1}, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsScope scope;
        StoreValue(c.type, c.bytes);
        DebugLineCapture capture;
        DWORD value = 0xDEADBEEF;
        EXPECT_EQ(ReadRecurseSetting(value), c.read);
        EXPECT_EQ(value, c.value);
        const std::vector<std::wstring> lines = capture.LinesStartingWith(L"Tressel.");
        EXPECT_EQ(lines, c.read ? std::vector<std::wstring>{} : std::vector<std::wstring>{kRegistryError});
    }
}

TEST(RecurseSetting, WriteStoresFourBinaryBytesThatReadBack) {
    SettingsScope scope;
    for (DWORD written : {1u, 0u, 0x01020304u}) {
        DebugLineCapture capture;
        ASSERT_TRUE(WriteRecurseSetting(written));
        DWORD type = 0;
        const std::vector<BYTE> expected = {static_cast<BYTE>(written), static_cast<BYTE>(written >> 8),
                                            static_cast<BYTE>(written >> 16), static_cast<BYTE>(written >> 24)};
        EXPECT_EQ(RecurseValueBytes(&type), expected);
        EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
        DWORD read = 0;
        EXPECT_TRUE(ReadRecurseSetting(read));
        EXPECT_EQ(read, written);
        EXPECT_TRUE(capture.LinesStartingWith(L"Tressel.").empty());
    }
}

TEST(RecurseSetting, WriteCreatesTheKeyWhenMissing) {
    SettingsScope scope;
    ASSERT_FALSE(KeyExists());
    EXPECT_TRUE(WriteRecurseSetting(1));
    EXPECT_EQ(RecurseValueBytes(), (std::vector<BYTE>{1, 0, 0, 0}));
}

}  // namespace
