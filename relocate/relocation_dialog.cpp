#include "relocate/relocation_dialog.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include "ui/app_globals.h"
#include "base/debug_log.h"
#include "base/text.h"
#include "ui/dialog_support.h"
#include "relocate/relocate_folder.h"
#include "ui/live_scan.h"
#include "resources/resource.h"
#include "ui/live_copy.h"
#include "ui/relocation_reporter.h"
#include "ui/settings.h"

namespace {

constexpr wchar_t kRelocationCaption[] = L"Move folder to different drive and place hard link (junction) ...";
constexpr wchar_t kBrowseTargetTitle[] = L"Select the NEW FOLDER that will actually contain these files ...";
constexpr wchar_t kBrowseSourceTitle[] = L"Select the ORIGINAL SOURCE that will be turned into a link ...";
constexpr UINT kBrowseTargetFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS | BIF_NEWDIALOGSTYLE;
constexpr UINT kBrowseSourceFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON;

BOOL OnInitDialog(HWND dialog, const wchar_t* startupPath) {
    SetDialogIcons(dialog);
    // The folder browser needs a single-threaded apartment on this thread; it stays
    // initialised for the life of the process.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    CreateSimpleStatusBar(dialog);

    ::SetDlgItemTextW(dialog, IDC_SOURCE_PATH, startupPath != nullptr ? startupPath : L"");
    ::SetWindowTextW(dialog, kRelocationCaption);

    ::SetDlgItemTextW(dialog, IDC_VERSION_TEXT, LoadResourceString(AppInstance, IDS_VERSION_NOTICE).c_str());
    ::CheckDlgButton(dialog, IDC_COMPARE_CONTENTS, ReadCompareContentsSetting() ? BST_CHECKED : BST_UNCHECKED);
    return TRUE;  // the source field, the first tab stop, takes the focus
}

void OnBrowseTarget(HWND dialog) {
    wchar_t path[MAX_PATH];
    if (BrowseForFolder(kBrowseTargetTitle, kBrowseTargetFlags, path)) {
        ::SetDlgItemTextW(dialog, IDC_TARGET_PATH, path);
    }
}

void OnBrowseSource(HWND dialog) {
    wchar_t path[MAX_PATH];
    if (BrowseForFolder(kBrowseSourceTitle, kBrowseSourceFlags, path)) {
        DebugLine(L"Tressel.Switching to:");
        DebugLine(path);
        ::SetDlgItemTextW(dialog, IDC_SOURCE_PATH, path);
    }
}

BOOL OnCommand(HWND dialog, WORD id) {
    if (DialogScanRunning()) {
        // The dialog answers while the access scan runs: Cancel (Esc, the close
        // box) stops the scan and the dialog stays; nothing else starts.
        if (id == IDCANCEL) CancelDialogScan();
        return TRUE;
    }
    // Likewise while files are copied between drives: Cancel stops the copy.
    if (DialogCopyRunning()) {
        if (id == IDCANCEL) CancelDialogCopy();
        return TRUE;
    }
    // The relocation's message boxes and the shell's progress window let the
    // dialog's messages through: no second command may start meanwhile, nor may
    // the dialog end under a relocation that is still running.
    if (RelocationRunning()) return TRUE;
    switch (id) {
    case IDOK:
    case IDC_RELOCATE:
        RelocateFolder(dialog);
        return TRUE;
    case IDCANCEL:
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
    case IDC_BROWSE_SOURCE:
        OnBrowseSource(dialog);
        return TRUE;
    case IDC_BROWSE_TARGET:
        OnBrowseTarget(dialog);
        return TRUE;
    case IDC_COMPARE_CONTENTS:
        // Remembered as soon as it changes, like a setting, not only once used.
        (void)WriteCompareContentsSetting(::IsDlgButtonChecked(dialog, IDC_COMPARE_CONTENTS) == BST_CHECKED);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK RelocationDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(dialog, reinterpret_cast<const wchar_t*>(lParam));
        case WM_QUERYENDSESSION:
            // Ending the session while files move would leave them split between
            // the two folders.
            ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, FilesMoving() ? FALSE : TRUE);
            return TRUE;
        case WM_CLOSE:
        case WM_ENDSESSION:
            // Closing always takes the Cancel path, so there is one way out.
            ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            return TRUE;
        case WM_COMMAND:
            return OnCommand(dialog, LOWORD(wParam));
        case WM_DPICHANGED:
            OnDialogDpiChanged(dialog, LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return FALSE;  // the dialog manager re-lays out the controls
        case WM_SIZE:
            FitStatusBar(dialog);
            return FALSE;
        case WM_DESTROY:
            ReleaseDialogResources(dialog);
            return FALSE;
        default:
            return FALSE;
        }
    } catch (...) {
        // Nothing may unwind into the dialog manager; the dialog stays as it was.
        DebugLine(L"Tressel.Error: unexpected failure in the relocation dialog.");
        return FALSE;
    }
}
