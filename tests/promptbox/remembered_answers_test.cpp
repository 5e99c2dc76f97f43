// Remembered answers: the message key, the encoded module name, the value and key
// names, and the registry store with its silent failures.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "promptbox/remembered_answers.h"
#include "tests/promptbox/promptbox_test_support.h"

namespace {

using promptbox_test::kTestCompany;
using promptbox_test::RegistryScope;

TEST(MessageKey, SumsLowBytesWeightedByIndexPlusLength) {
    struct Case {
        std::wstring text;
        INT32 key;
    };
    // 3000 units of 0xFF sum to 255 * (3000 * 3000 + 2999 * 3000 / 2) = 3,442,117,500,
    // which wraps to a negative 32-bit key.
    const Case cases[] = {
        {L"", 0},
        {L"a", 97},
        {L"abc", 1178},
        {L"abd", 1183},
        {std::wstring(3000, wchar_t(0xFF)), -852849796},
    };
    for (const Case& c : cases) EXPECT_EQ(ComputeMessageKey(c.text.c_str()), c.key) << c.text.size() << " units";
    EXPECT_EQ(ComputeMessageKey(nullptr), 0);
}

TEST(MessageKey, TextsDifferingOnlyInHighBytesShareTheKey) {
    EXPECT_EQ(ComputeMessageKey(L"x\x0161y"), ComputeMessageKey(L"x\x0061y"));
    EXPECT_NE(ComputeMessageKey(L"x\x0162y"), ComputeMessageKey(L"x\x0061y"));
    // Order matters: the same letters elsewhere give another key.
    EXPECT_NE(ComputeMessageKey(L"ab"), ComputeMessageKey(L"ba"));
}

TEST(ModuleNameEncoding, MapsEachUnitIntoTheAlphabet) {
    EXPECT_EQ(EncodeModuleName(L"abc"), L"7dj");
    EXPECT_EQ(EncodeModuleName(L""), L"");
    EXPECT_EQ(EncodeModuleName(nullptr), L"");
    // Position shifts by five letters: "aaaa" is not four equal letters.
    EXPECT_EQ(EncodeModuleName(L"aaaa"), L"7chm");
    // The last two letters of the alphabet are "9" and "8": 62 and 63.
    EXPECT_EQ(EncodeModuleName(L"\x003E\x003F"), L"9E");
    // Units above 0xFF take part with their whole value.
    EXPECT_EQ(EncodeModuleName(L"\x4E2D"), std::wstring(1, L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnopqrstuvwxyz98"[0x4E2D % 64]));
}

TEST(ModuleNameEncoding, UsesAtMostTheFirst490Units) {
    const std::wstring longName(600, L'q');
    const std::wstring encoded = EncodeModuleName(longName.c_str());
    EXPECT_EQ(encoded.size(), 490u);
    EXPECT_EQ(encoded, EncodeModuleName(longName.substr(0, 490).c_str()));
    EXPECT_EQ(EncodeModuleName(std::wstring(12, L'q').c_str()).size(), 12u);
}

TEST(RememberedAnswerNames, ValueNameIsEncodedModuleAndSignedKey) {
    EXPECT_EQ(RememberedAnswerValueName(L"abc", ComputeMessageKey(L"abc")), L"7dj1178");
    EXPECT_EQ(RememberedAnswerValueName(L"abc", -852849796), L"7dj-852849796");
    EXPECT_EQ(RememberedAnswerValueName(L"abc", 0), L"7dj0");
    EXPECT_EQ(RememberedAnswerValueName(nullptr, 1178), L"");
    EXPECT_EQ(RememberedAnswerValueName(L"", 1178), L"");
}

TEST(RememberedAnswerNames, KeyHoldsCompanyExecutableFileNameAndPromptBox) {
    struct Case {
        const wchar_t* company;
        const wchar_t* exePath;
        const wchar_t* key;
    };
    const Case cases[] = {
        {L"Dirshift", L"C:\\Program Files\\Dirshift\\dirshift.exe", L"Software\\Dirshift\\dirshift.exe\\PromptBox"},
        {L"", L"C:\\Tools\\renamed.exe", L"Software\\renamed.exe\\PromptBox"},
        {nullptr, L"C:\\Tools\\renamed.exe", L"Software\\renamed.exe\\PromptBox"},
        {L"Dirshift", L"dirshift.exe", L"Software\\Dirshift\\dirshift.exe\\PromptBox"},
        {L"Dirshift", L"\\\\server\\share\\my tools\\d.s.exe", L"Software\\Dirshift\\d.s.exe\\PromptBox"},
    };
    for (const Case& c : cases) EXPECT_EQ(RememberedAnswerKeyPath(c.company, c.exePath), c.key) << c.exePath;
}

class RememberedAnswerStore : public ::testing::Test {
protected:
    RegistryScope registry_;
};

TEST_F(RememberedAnswerStore, WrittenAnswerReadsBackUnderTheProgramsKey) {
    EXPECT_EQ(ReadRememberedAnswer(kTestCompany, L"7dj1178"), 0u) << "nothing stored yet";
    WriteRememberedAnswer(kTestCompany, L"7dj1178", 0x01000006);
    EXPECT_EQ(ReadRememberedAnswer(kTestCompany, L"7dj1178"), 0x01000006u);
    EXPECT_EQ(ReadRememberedAnswer(kTestCompany, L"7dj1183"), 0u) << "another text's name";
    EXPECT_EQ(ReadRememberedAnswer(L"SomeOtherCompany", L"7dj1178"), 0u) << "another company";

    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, promptbox_test::AnswerKeyPath().c_str(), L"7dj1178", RRF_RT_ANY,
                             &type, &value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, 0x01000006u);

    WriteRememberedAnswer(kTestCompany, L"7dj1178", 0x80000007u);
    EXPECT_EQ(ReadRememberedAnswer(kTestCompany, L"7dj1178"), 0x80000007u) << "overwritten, all 32 bits kept";
}

TEST_F(RememberedAnswerStore, ValuesOfAnotherSizeCountAsNothingRemembered) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, promptbox_test::AnswerKeyPath().c_str(), 0, nullptr, 0,
                                KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const ULONGLONG wide = 0x0100000601000006ull;
    const WORD narrow = 6;
    const BYTE four[4] = {6, 0, 0, 1};
    ::RegSetValueExW(key, L"wide", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&wide), sizeof(wide));
    ::RegSetValueExW(key, L"narrow", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&narrow), sizeof(narrow));
    ::RegSetValueExW(key, L"binary4", 0, REG_BINARY, four, sizeof(four));
    ::RegCloseKey(key);

    EXPECT_EQ(ReadRememberedAnswer(kTestCompany, L"wide"), 0u);
    EXPECT_EQ(ReadRememberedAnswer(kTestCompany, L"narrow"), 0u);
    EXPECT_EQ(ReadRememberedAnswer(kTestCompany, L"binary4"), 0x01000006u) << "four bytes of any type are an answer";
}

TEST_F(RememberedAnswerStore, EmptyValueNameNeitherReadsNorWrites) {
    WriteRememberedAnswer(kTestCompany, L"", 0x01000006);
    WriteRememberedAnswer(kTestCompany, nullptr, 0x01000006);
    HKEY key = nullptr;
    EXPECT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, promptbox_test::AnswerKeyPath().c_str(), 0, KEY_READ, &key),
              ERROR_SUCCESS)
        << "no key was created";
    if (key != nullptr) ::RegCloseKey(key);
    EXPECT_EQ(ReadRememberedAnswer(kTestCompany, L""), 0u);
    EXPECT_EQ(ReadRememberedAnswer(kTestCompany, nullptr), 0u);
}

TEST_F(RememberedAnswerStore, LookUpSetsTheKeyAndReadsOnlyWithAModuleName) {
    WriteRememberedAnswer(kTestCompany, L"7dj1178", 0x01000007);

    PromptBoxParams params;
    wcscpy_s(params.companyName, kTestCompany);
    params.moduleName = L"abc";
    EXPECT_EQ(LookUpRememberedAnswer(params, L"abc"), 0x01000007u);
    EXPECT_EQ(params.messageKey, 1178);
    EXPECT_EQ(LookUpRememberedAnswer(params, L"abd"), 0u) << "another text";
    EXPECT_EQ(params.messageKey, 1183);
    EXPECT_EQ(LookUpRememberedAnswer(params, L"\x0161\x0062\x0063"), 0x01000007u) << "same key, same answer";

    params.moduleName = nullptr;
    params.messageKey = 0;
    EXPECT_EQ(LookUpRememberedAnswer(params, L"abc"), 0u);
    EXPECT_EQ(params.messageKey, 1178) << "the key is computed all the same";
}

TEST(RememberedAnswerFinality, OnlyAnswersWithACheckBoxBitEndTheCall) {
    EXPECT_FALSE(IsFinalRememberedAnswer(0));
    EXPECT_FALSE(IsFinalRememberedAnswer(IDYES));
    EXPECT_FALSE(IsFinalRememberedAnswer(0x80000001u));
    EXPECT_TRUE(IsFinalRememberedAnswer(0x01000006u));
    EXPECT_TRUE(IsFinalRememberedAnswer(0x02000001u));
    EXPECT_TRUE(IsFinalRememberedAnswer(0x84000007u));
}

}  // namespace
