// The junction manager's row logic, free of windows: what a found junction looks
// like in the list, where a new row goes to keep the list in order, and which rows
// may be removed.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "junction/link_health.h"

// The NT form in which a junction stores its target ("\??\D:\Data").
constexpr wchar_t kNtPathPrefix[] = L"\\??\\";

// `path` without a leading "\??\"; any other text unchanged.
const wchar_t* StripNtPrefix(const wchar_t* path);

// Rows are ordered as the list view's own ascending sort orders them: by the
// junction path, ignoring case. Negative, zero or positive like lstrcmpiW.
int CompareRowPaths(const wchar_t* left, const wchar_t* right);

// Index at which a row with key `path` goes among `count` sorted rows: after every
// row that sorts before or equal to it, so rows of equal paths keep their order of
// arrival. `rowPath(i)` gives the key of row i. Binary search: the control's own
// sorted insertion looks at every row, which makes a long scan quadratic.
template <typename RowPath>
int SortedInsertIndex(int count, const wchar_t* path, RowPath rowPath) {
    int low = 0;
    int high = count;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (CompareRowPaths(rowPath(middle), path) <= 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

// A target of three characters or fewer (empty, as for a symbolic link or a
// reparse point of another kind, or a bare drive root) is never removed.
bool IsRemovableTarget(const std::wstring& target);

// "Error removing junction point:\n\n<path>\n ->\n<target>", whole, however long
// the paths are.
std::wstring FormatRemoveError(const std::wstring& junctionPath, const std::wstring& target);

// "Scanning folder: " (as loaded) followed directly by the junction path.
std::wstring FormatScanningStatus(const wchar_t* prefix, const wchar_t* junctionPath);

// Width of each of the two path columns: 248 pixels at 96 DPI, sized for `dpi`.
int ColumnWidthForDpi(UINT dpi);
// Width of the state column: 150 pixels at 96 DPI, sized for `dpi`.
int StateColumnWidthForDpi(UINT dpi);

// The list's columns, in their order.
enum RowColumn { kPathColumn = 0, kTargetColumn = 1, kStateColumn = 2, kColumnCount = 3 };

// One row of the list as the dialog keeps it.
struct JunctionRow {
    std::wstring path;
    std::wstring target;
    LinkHealth health = LinkHealth::Ok;
};

// Orders two rows by `column` (texts ignoring case, as the list shows them),
// then by path; negative, zero or positive.
int CompareRows(const JunctionRow& left, const JunctionRow& right, int column);

// The rows as the clipboard gets them: a header line, then one line a row, the
// columns separated by tabs, lines ended by CR LF.
std::wstring RowsAsText(const std::vector<JunctionRow>& rows);

// `target` with its drive letter replaced by `letter` ("D:\Games" and 'E' give
// "E:\Games"); empty when `target` does not start with a drive letter.
std::wstring WithDriveLetter(const std::wstring& target, wchar_t letter);

// The one question asked before several rows are acted on: `lead` followed by
// every path, one a line. No path is cut; beyond `shownAtMost` paths the rest
// are counted ("... and 12 more").
std::wstring FormatSeveralQuestion(const std::wstring& lead, const std::vector<std::wstring>& paths,
                                   std::size_t shownAtMost = 20);

// What a drive-letter change did: the junctions pointed elsewhere (path and new
// target), then those left as they were (path and why).
using PathAndText = std::pair<std::wstring, std::wstring>;
std::wstring FormatDriveChangeSummary(const std::vector<PathAndText>& changed,
                                      const std::vector<PathAndText>& unchanged);

