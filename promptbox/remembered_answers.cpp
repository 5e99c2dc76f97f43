#include "promptbox/remembered_answers.h"

#include <cwchar>

#include "base/unique_resource.h"

namespace {

constexpr wchar_t kEncodingAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnopqrstuvwxyz98";
static_assert(sizeof(kEncodingAlphabet) / sizeof(wchar_t) == 65, "64 letters and the terminator");

// The running executable's full path; long paths are read in full so the file
// name at its end is never cut off.
std::wstring ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD copied = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (copied == 0) return {};
        if (copied < path.size()) {
            path.resize(copied);
            return path;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

std::wstring KeyPathForThisProgram(const wchar_t* companyName) {
    const std::wstring exePath = ExecutablePath();
    if (exePath.empty()) return {};
    return RememberedAnswerKeyPath(companyName, exePath.c_str());
}

}  // namespace

INT32 ComputeMessageKey(const wchar_t* text) {
    if (text == nullptr) return 0;
    const size_t length = std::wcslen(text);
    // Unsigned arithmetic wraps by definition; the bits are then read as signed.
    UINT32 sum = 0;
    for (size_t i = 0; i < length; ++i) {
        sum += static_cast<UINT32>(text[i] & 0xFF) * static_cast<UINT32>(i + length);
    }
    return static_cast<INT32>(sum);
}

std::wstring EncodeModuleName(const wchar_t* moduleName) {
    std::wstring encoded;
    if (moduleName == nullptr) return encoded;
    const size_t length = wcsnlen(moduleName, kEncodedModuleNameMax);
    encoded.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const size_t unit = static_cast<UINT16>(moduleName[i]);
        encoded.push_back(kEncodingAlphabet[(unit + 5 * i) % 64]);
    }
    return encoded;
}

std::wstring RememberedAnswerValueName(const wchar_t* moduleName, INT32 messageKey) {
    if (moduleName == nullptr || moduleName[0] == L'\0') return {};
    return EncodeModuleName(moduleName) + std::to_wstring(messageKey);
}

std::wstring RememberedAnswerKeyPath(const wchar_t* companyName, const wchar_t* exePath) {
    std::wstring path = L"Software\\";
    if (companyName != nullptr && companyName[0] != L'\0') {
        path += companyName;
        path += L'\\';
    }
    const wchar_t* fileName = exePath != nullptr ? exePath : L"";
    if (const wchar_t* slash = std::wcsrchr(fileName, L'\\')) fileName = slash + 1;
    path += fileName;
    path += L"\\PromptBox";
    return path;
}

UINT32 ReadRememberedAnswer(const wchar_t* companyName, const wchar_t* valueName) {
    if (valueName == nullptr || valueName[0] == L'\0') return 0;
    const std::wstring keyPath = KeyPathForThisProgram(companyName);
    if (keyPath.empty()) return 0;
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 0;
    UINT32 value = 0;
    DWORD size = sizeof(value);
    // The type is not checked, but only a value of exactly four bytes is an answer.
    if (::RegQueryValueExW(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        size != sizeof(value)) {
        return 0;
    }
    return value;
}

void WriteRememberedAnswer(const wchar_t* companyName, const wchar_t* valueName, UINT32 answer) {
    if (valueName == nullptr || valueName[0] == L'\0') return;
    const std::wstring keyPath = KeyPathForThisProgram(companyName);
    if (keyPath.empty()) return;
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                          key.put(), nullptr) != ERROR_SUCCESS) {
        return;
    }
    ::RegSetValueExW(key.get(), valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&answer), sizeof(answer));
}

UINT32 LookUpRememberedAnswer(PromptBoxParams& params, const wchar_t* text) {
    params.messageKey = ComputeMessageKey(text);
    if (params.moduleName == nullptr) return 0;
    const std::wstring valueName = RememberedAnswerValueName(params.moduleName, params.messageKey);
    return ReadRememberedAnswer(params.companyName, valueName.c_str());
}
