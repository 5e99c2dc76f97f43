#include "manager/junction_rows.h"

#include <windows.h>

#include "base/dpi.h"

namespace {

constexpr int kColumnWidthAt96Dpi = 248;
constexpr int kStateColumnWidthAt96Dpi = 150;

int CompareTexts(const std::wstring& left, const std::wstring& right) { return ::lstrcmpiW(left.c_str(), right.c_str()); }

}  // namespace

int ColumnWidthForDpi(UINT dpi) { return ScaleForDpi(kColumnWidthAt96Dpi, dpi); }

int StateColumnWidthForDpi(UINT dpi) { return ScaleForDpi(kStateColumnWidthAt96Dpi, dpi); }

int CompareRows(const JunctionRow& left, const JunctionRow& right, int column) {
    int order = 0;
    if (column == kTargetColumn) order = CompareTexts(left.target, right.target);
    if (column == kStateColumn) order = CompareTexts(LinkHealthText(left.health), LinkHealthText(right.health));
    return order != 0 ? order : CompareTexts(left.path, right.path);
}

std::wstring RowsAsText(const std::vector<JunctionRow>& rows) {
    std::wstring text = L"Virtual folder\tBacking (real) folder\tState\r\n";
    for (const JunctionRow& row : rows) {
        text += row.path + L"\t" + row.target + L"\t" + LinkHealthText(row.health) + L"\r\n";
    }
    return text;
}

std::wstring WithDriveLetter(const std::wstring& target, wchar_t letter) {
    if (TargetDriveLetter(target) == 0) return L"";
    std::wstring moved = target;
    moved[0] = letter;
    return moved;
}

std::wstring FormatSeveralQuestion(const std::wstring& lead, const std::vector<std::wstring>& paths,
                                   std::size_t shownAtMost) {
    std::wstring text = lead + L"\n";
    for (std::size_t i = 0; i < paths.size() && i < shownAtMost; ++i) text += L"\n" + paths[i];
    if (paths.size() > shownAtMost) text += L"\n... and " + std::to_wstring(paths.size() - shownAtMost) + L" more";
    return text;
}

std::wstring FormatDriveChangeSummary(const std::vector<PathAndText>& changed,
                                      const std::vector<PathAndText>& unchanged) {
    std::wstring text = std::to_wstring(changed.size()) +
                        (changed.size() == 1 ? L" junction now points" : L" junctions now point") +
                        L" to the new drive, " + std::to_wstring(unchanged.size()) +
                        (unchanged.size() == 1 ? L" was" : L" were") + L" left as before.";
    if (!changed.empty()) {
        text += L"\n\nChanged:";
        for (const PathAndText& entry : changed) text += L"\n" + entry.first + L"\n  -> " + entry.second;
    }
    if (!unchanged.empty()) {
        text += L"\n\nNot changed:";
        for (const PathAndText& entry : unchanged) text += L"\n" + entry.first + L"\n  " + entry.second;
    }
    return text;
}

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

