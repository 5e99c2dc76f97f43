#include "manager/link_repair.h"

#include <shlobj.h>

#include <set>

#include "base/debug_log.h"
#include "base/unique_resource.h"
#include "junction/junction.h"
#include "junction/link_health.h"
#include "promptbox/prompt_box.h"
#include "resources/resource.h"
#include "ui/app_globals.h"
#include "ui/dialog_support.h"

namespace {

constexpr wchar_t kCaption[] = L"Dirshift";
// What a junction can store: a full path of at most 259 characters.
constexpr std::size_t kMaxTargetLength = 259;
constexpr wchar_t kBrowseTitle[] = L"Select the folder the junction is to point to";
constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;

void Refuse(HWND owner, const std::wstring& text) { PromptBox(owner, text.c_str(), kCaption, MB_OK | MB_ICONHAND); }

bool HasDrivePrefix(const std::wstring& path) {
    return path.size() >= 3 && TargetDriveLetter(path) != 0 && path[2] == L'\\';
}

// The typed text as a full path: only a path that names its drive and starts at
// its root is taken ("D:\Games"); "Games", "\Games", "D:Games", "/" and ".." mean
// whatever the current folder is, which a dialog cannot show.
bool FullPathOf(const std::wstring& typed, std::wstring& full) {
    std::wstring text = typed;
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.pop_back();
    while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.erase(0, 1);
    if (!HasDrivePrefix(text)) return false;
    wchar_t buffer[MAX_PATH + 1] = L"";
    const DWORD length = ::GetFullPathNameW(text.c_str(), MAX_PATH + 1, buffer, nullptr);
    if (length == 0 || length > MAX_PATH) {
        full = text;  // too long: told as such below
        return true;
    }
    full.assign(buffer, length);
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    return true;
}

// ---- the re-point dialog -----------------------------------------------------------

struct RepointContext {
    const JunctionRow* row;
    bool changed = false;
};

RepointContext* RepointContextOf(HWND dialog) {
    return reinterpret_cast<RepointContext*>(::GetWindowLongPtrW(dialog, DWLP_USER));
}

bool ConfirmEmptyTarget(HWND dialog, const JunctionRow& row, const std::wstring& full) {
    if (row.health != LinkHealth::TargetMissing || !FolderLooksEmpty(full)) return true;
    const std::wstring question = L"The folder " + full + L" is empty, and the folder that the junction pointed to (" +
                                  row.target + L") is missing.\n\nPrograms that use " + row.path +
                                  L" will find no files there. Point the junction there anyway?";
    return (PromptBox(dialog, question.c_str(), kCaption, MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) & 0xFFFF) ==
           IDYES;
}

// OK: the typed folder is checked, and the junction re-pointed. The dialog stays
// open after a refusal, so the user can correct the path.
void OnRepointOk(HWND dialog, RepointContext& context) {
    const JunctionRow& row = *context.row;
    const std::wstring typed = ReadWholeControlText(dialog, IDC_REPOINT_NEW);
    std::wstring full;
    const std::wstring problem = NewTargetProblem(row.path, typed, full);
    if (!problem.empty()) {
        Refuse(dialog, problem);
        ::SetFocus(::GetDlgItem(dialog, IDC_REPOINT_NEW));
        return;
    }
    if (!ConfirmEmptyTarget(dialog, row, full)) return;
    if (!RepointJunctionAt(row.path.c_str(), row.target.c_str(), full.c_str())) {
        Refuse(dialog, L"The junction could not be pointed to " + full + L". It was left as it was:\n\n" + row.path +
                           L"\n ->\n" + row.target);
        ::EndDialog(dialog, IDCANCEL);
        return;
    }
    context.changed = true;
    ::EndDialog(dialog, IDOK);
}

void OnRepointBrowse(HWND dialog) {
    wchar_t path[MAX_PATH] = L"";
    if (BrowseForFolder(kBrowseTitle, kBrowseFlags, path)) ::SetDlgItemTextW(dialog, IDC_REPOINT_NEW, path);
}

INT_PTR HandleRepointMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        const RepointContext& context = *reinterpret_cast<RepointContext*>(lParam);
        ::SetDlgItemTextW(dialog, IDC_REPOINT_LINK, context.row->path.c_str());
        ::SetDlgItemTextW(dialog, IDC_REPOINT_OLD, context.row->target.c_str());
        ::SetDlgItemTextW(dialog, IDC_REPOINT_NEW, context.row->target.c_str());
        ::SetFocus(::GetDlgItem(dialog, IDC_REPOINT_NEW));
        ::SendDlgItemMessageW(dialog, IDC_REPOINT_NEW, EM_SETSEL, 0, -1);
        return FALSE;  // the focus is set
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (RepointContext* context = RepointContextOf(dialog)) OnRepointOk(dialog, *context);
            return TRUE;
        case IDCANCEL:
            ::EndDialog(dialog, IDCANCEL);
            return TRUE;
        case IDC_REPOINT_BROWSE:
            OnRepointBrowse(dialog);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_DPICHANGED:
        OnDialogDpiChanged(dialog, LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK RepointDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return HandleRepointMessage(dialog, message, wParam, lParam);
    } catch (...) {
        DebugLine(L"Tresselry.Error: unexpected failure in the re-point dialog.");
        return FALSE;
    }
}

// ---- the drive-letter dialog -------------------------------------------------------

struct DriveChoice {
    std::set<wchar_t> fromLetters;  // the drives that the selected targets are on
    wchar_t from = 0;
    wchar_t to = 0;
};

void AddLetter(HWND combo, wchar_t letter) {
    const wchar_t text[] = {letter, L':', 0};
    const LRESULT index = ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    if (index >= 0) ::SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(index), letter);
}

wchar_t ChosenLetter(HWND combo) {
    const LRESULT index = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
    return index < 0 ? 0 : static_cast<wchar_t>(::SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

INT_PTR HandleDriveMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        const DriveChoice& choice = *reinterpret_cast<DriveChoice*>(lParam);
        HWND from = ::GetDlgItem(dialog, IDC_DRIVE_FROM);
        HWND to = ::GetDlgItem(dialog, IDC_DRIVE_TO);
        for (wchar_t letter : choice.fromLetters) AddLetter(from, letter);
        for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) AddLetter(to, letter);
        ::SendMessageW(from, CB_SETCURSEL, 0, 0);
        ::SendMessageW(to, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        ::SetDlgItemTextW(dialog, IDC_DRIVE_COUNT,
                          L"Point the selected junctions to the same folders on another drive.");
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            auto& choice = *reinterpret_cast<DriveChoice*>(::GetWindowLongPtrW(dialog, DWLP_USER));
            choice.from = ChosenLetter(::GetDlgItem(dialog, IDC_DRIVE_FROM));
            choice.to = ChosenLetter(::GetDlgItem(dialog, IDC_DRIVE_TO));
            if (choice.to == 0 || choice.to == choice.from) {
                Refuse(dialog, L"Choose the drive that the folders are on now, and another drive to point to.");
                return TRUE;
            }
            ::EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            ::EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_DPICHANGED:
        OnDialogDpiChanged(dialog, LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK DriveDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return HandleDriveMessage(dialog, message, wParam, lParam);
    } catch (...) {
        DebugLine(L"Tresselry.Error: unexpected failure in the drive-letter dialog.");
        return FALSE;
    }
}

}  // namespace

std::wstring NewTargetProblem(const std::wstring& junction, const std::wstring& typed, std::wstring& full) {
    full.clear();
    if (IsNetworkTarget(typed)) {
        return typed + L" is on another computer. A junction can only point to a folder on this computer.";
    }
    if (!FullPathOf(typed, full)) {
        full.clear();
        return L"Type the full path of the new target folder, with its drive, such as D:\\Games.";
    }
    if (full.size() > kMaxTargetLength) {
        return L"The path of the new target folder is too long for a junction (at most 259 characters).";
    }
    const wchar_t root[] = {full[0], L':', L'\\', 0};
    switch (::GetDriveTypeW(root)) {
    case DRIVE_REMOTE:
        return full + L" is on another computer. A junction can only point to a folder on this computer.";
    case DRIVE_NO_ROOT_DIR:
    case DRIVE_UNKNOWN:
        return full + L" is on a drive that is not there.";
    default:
        break;
    }
    if (IsSameOrInside(junction, full)) {
        return full + L" is the junction itself or a folder that holds it: the junction would point into itself.";
    }
    if (IsSameOrInside(full, junction)) {
        return full + L" lies inside the junction: the junction would point into itself.";
    }
    const DWORD attributes = ::GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return full + L" does not exist.";
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return full + L" is a file, not a folder.";
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return full + L" is itself a link. Choose the folder that it leads to.";
    }
    return L"";
}

bool FolderLooksEmpty(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle listing(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!listing) return true;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") return false;
    } while (::FindNextFileW(listing.get(), &entry));
    return true;
}

bool RunRepointDialog(HWND owner, const JunctionRow& row) {
    RepointContext context{&row};
    ::DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_REPOINT), owner, RepointDlgProc,
                      reinterpret_cast<LPARAM>(&context));
    return context.changed;
}

bool RunChangeDriveDialog(HWND owner, const std::vector<JunctionRow>& rows) {
    DriveChoice choice;
    for (const JunctionRow& row : rows) {
        if (const wchar_t letter = TargetDriveLetter(row.target)) choice.fromLetters.insert(letter);
    }
    if (choice.fromLetters.empty()) {
        Refuse(owner, L"None of the selected junctions points to a folder on a drive letter.");
        return false;
    }
    if (::DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_CHANGE_DRIVE), owner, DriveDlgProc,
                          reinterpret_cast<LPARAM>(&choice)) != IDOK) {
        return false;
    }

    std::vector<PathAndText> changed;
    std::vector<PathAndText> unchanged;
    for (const JunctionRow& row : rows) {
        if (TargetDriveLetter(row.target) != choice.from) continue;
        const std::wstring moved = WithDriveLetter(row.target, choice.to);
        std::wstring full;
        const std::wstring problem = NewTargetProblem(row.path, moved, full);
        if (!problem.empty()) {
            unchanged.emplace_back(row.path, problem);
        } else if (!RepointJunctionAt(row.path.c_str(), row.target.c_str(), full.c_str())) {
            unchanged.emplace_back(row.path, L"It could not be changed and still points to " + row.target + L".");
        } else {
            changed.emplace_back(row.path, full);
        }
    }
    const UINT icon = unchanged.empty() ? MB_ICONASTERISK : MB_ICONEXCLAMATION;
    PromptBox(owner, FormatDriveChangeSummary(changed, unchanged).c_str(), kCaption, MB_OK | icon);
    return !changed.empty();
}
