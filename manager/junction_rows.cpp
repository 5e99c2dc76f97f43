#include "manager/junction_rows.h"

#include <windows.h>

#include "base/dpi.h"

namespace {

constexpr int kColumnWidthAt96Dpi = 248;

}  // namespace

int ColumnWidthForDpi(UINT dpi) { return ScaleForDpi(kColumnWidthAt96Dpi, dpi); }

const wchar_t* StripNtPrefix(const wchar_t* path) {
    constexpr size_t kPrefixLength = (sizeof(kNtPathPrefix) / sizeof(wchar_t)) - 1;
    if (path == nullptr) return nullptr;
    for (size_t i = 0; i < kPrefixLength; ++i) {
        if (path[i] != kNtPathPrefix[i]) return path;  // also stops at a short path's terminator
    }
    return path + kPrefixLength;
}

int CompareRowPaths(const wchar_t* left, const wchar_t* right) { return ::lstrcmpiW(left, right); }

bool IsRemovableTarget(const std::wstring& target) { return target.size() > 3; }

std::wstring FormatRemoveError(const std::wstring& junctionPath, const std::wstring& target) {
    return L"Error removing junction point:\n\n" + junctionPath + L"\n ->\n" + target;
}

std::wstring FormatScanningStatus(const wchar_t* prefix, const wchar_t* junctionPath) {
    return std::wstring(prefix != nullptr ? prefix : L"") + (junctionPath != nullptr ? junctionPath : L"");
}
