#include "manager/junction_manager_dialog.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/app_globals.h"
#include "base/debug_log.h"
#include "base/dpi.h"
#include "base/text.h"
#include "ui/dialog_support.h"
#include "manager/settings.h"
#include "base/unique_resource.h"
#include "junction/junction.h"
#include "manager/junction_rows.h"
#include "engine/move_back.h"
#include "ui/live_scan.h"
#include "ui/relocation_reporter.h"
#include "promptbox/prompt_box.h"
#include "resources/resource.h"

std::atomic<HANDLE> ScanAbortEvent{nullptr};

namespace {

constexpr ULONGLONG kStopPollMs = 10;

// Sent by the scan worker to the dialog, synchronously, so the worker's strings
// stay valid while the dialog copies them.
constexpr UINT WM_JUNCTIONFOUND = WM_APP + 1;  // lParam: const FoundJunction*
// Posted by the worker as the last thing it does, so that the dialog can wait for
// the thread's end before it shows the scan's end: no thread outlives its scan.
constexpr UINT WM_SCANFINISHED = WM_APP + 2;   // wParam: TRUE when the walk was stopped

// While a scan fills the list, the list is redrawn and the status text updated at
// most this often: repainting after every row makes a long scan crawl.
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshIntervalMs = 100;
// How long a close waits for a stopped scan to report its end before the dialog
// goes anyway; the walk checks for a stop at every folder, so it is normally at once.
constexpr UINT_PTR kCloseTimeoutTimer = 2;
constexpr UINT kCloseTimeoutMs = 10000;

constexpr wchar_t kManagerCaption[] = L"Manage and find junctions (hard links)";
constexpr wchar_t kBrowseTitle[] = L"Select the folder that will actually contain these files ...";
constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS | BIF_NEWDIALOGSTYLE;
constexpr wchar_t kMessageCaption[] = L"Dirshift";
constexpr wchar_t kRemovedMessage[] = L"Successfully removed junction point(s)";
constexpr wchar_t kFolderTooLong[] = L"The folder path is too long to scan.";
constexpr UINT kRemoveErrorStyle = MB_OK | MB_ICONHAND | PB_DONTSHOWAGAIN;
constexpr UINT kRemovedStyle = MB_OK | PB_DONTTELLAGAIN;

constexpr DWORD kListExtendedStyle = LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE |
                                     LVS_EX_INFOTIP | LVS_EX_UNDERLINEHOT;
const wchar_t* const kColumnTitles[] = {L"Virtual folder", L"Backing (real) folder", nullptr};
// Controls that only make sense for a valid folder.
constexpr int kFolderControls[] = {IDC_REMOVE_SELECTED, IDC_JUNCTION_LIST, -1};

// What the dialog hands its worker; the worker owns and frees it.
struct ScanRequest {
    HWND dialog;
    std::wstring folder;
    bool recurse;
};

struct FoundJunction {
    const wchar_t* path;
    const wchar_t* target;
};

struct ListedJunction {
    std::wstring path;
    std::wstring target;
    bool readable = false;  // false when a column could not be read whole
};

// Per dialog, touched on the dialog's thread only.
struct ManagerState {
    UniqueHandle scanThread;  // the running worker; valid exactly while a scan runs
    UniqueHandle abortEvent;  // its abort event, published as ScanAbortEvent
    wchar_t scanButtonText[64] = L"";
    bool rescanPending = false;  // a start arrived while a scan ran; its end starts the next
    int pendingClose = 0;        // IDOK or IDCANCEL once closing waits for the worker
    bool redrawSuspended = false;
    std::wstring latestFound;  // newest junction path not yet shown in the status bar
};

ManagerState* StateOf(HWND dialog) {
    return reinterpret_cast<ManagerState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
}

std::wstring LoadText(UINT id) { return LoadResourceString(AppInstance, id); }

HWND ListOf(HWND dialog) { return ::GetDlgItem(dialog, IDC_JUNCTION_LIST); }

void UpdateMoveBackButton(HWND dialog, const ManagerState& state);

void SetStatus(HWND dialog, const wchar_t* text) { SetStatusText(::GetDlgItem(dialog, IDC_STATUS_BAR), text); }

bool ScanRunning(const ManagerState& state) { return state.scanThread.valid(); }

// ---- the list -----------------------------------------------------------------

void PrepareList(HWND list, UINT dpi) {
    // The dialog keeps the rows in order itself (SortedInsertIndex): the control's
    // own sorted insertion compares the new row with every row before it.
    const LONG_PTR style = ::GetWindowLongPtrW(list, GWL_STYLE);
    ::SetWindowLongPtrW(list, GWL_STYLE, style & ~static_cast<LONG_PTR>(LVS_SORTASCENDING));
    ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kListExtendedStyle);

    for (int column = 0; kColumnTitles[column] != nullptr; ++column) {
        LVCOLUMNW info = {};
        info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM | LVCF_ORDER;
        info.fmt = LVCFMT_LEFT;
        info.cx = ColumnWidthForDpi(dpi);
        info.pszText = const_cast<wchar_t*>(kColumnTitles[column]);
        info.iSubItem = column;
        info.iOrder = column;
        ::SendMessageW(list, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&info));
    }
}

// Keeps each column's share of the list, also one the user has widened, at the new scale.
void RescaleColumns(HWND list, UINT fromDpi, UINT toDpi) {
    for (int column = 0; kColumnTitles[column] != nullptr; ++column) {
        const int width = static_cast<int>(::SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
        ::SendMessageW(list, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(RescaleForDpi(width, fromDpi, toDpi), 0));
    }
}

int RowCount(HWND list) { return static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

// Reads one cell whole into `text`; false when it does not fit the walk's path
// capacity, so a path is never acted on cut short.
bool ReadCell(HWND list, int row, int column, std::wstring& text) {
    wchar_t buffer[kJunctionPathCapacity + 1] = L"";
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = kJunctionPathCapacity + 1;
    const LRESULT length = ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    if (length < 0 || length >= kJunctionPathCapacity) {
        text.clear();
        return false;
    }
    text.assign(item.pszText, static_cast<size_t>(length));
    return true;
}

void AddSortedRow(HWND list, const wchar_t* path, const wchar_t* target) {
    wchar_t rowPath[kJunctionPathCapacity] = L"";
    const int index = SortedInsertIndex(RowCount(list), path, [&](int row) -> const wchar_t* {
        rowPath[0] = L'\0';
        LVITEMW item = {};
        item.iSubItem = 0;
        item.pszText = rowPath;
        item.cchTextMax = kJunctionPathCapacity;
        ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        return item.pszText;
    });

    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = const_cast<wchar_t*>(path);
    // The target goes to the row the insertion actually made, wherever that is.
    const int row = static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0) return;
    item.iItem = row;
    item.iSubItem = 1;
    item.pszText = const_cast<wchar_t*>(target);
    ::SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

void SelectRow(HWND list, int row) {
    LVITEMW item = {};
    item.mask = LVIF_STATE;
    item.iItem = row;
    item.state = LVIS_SELECTED;
    item.stateMask = LVIS_SELECTED;
    ::SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

// The selected rows, read before anything is removed: a running scan may insert
// rows (and so move indexes) while a message box is open.
std::vector<ListedJunction> SelectedRows(HWND list) {
    std::vector<ListedJunction> rows;
    int row = -1;
    while ((row = static_cast<int>(::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(row),
                                                  MAKELPARAM(LVNI_SELECTED, 0)))) != -1) {
        ListedJunction listed;
        listed.readable = ReadCell(list, row, 0, listed.path);
        if (!ReadCell(list, row, 1, listed.target)) listed.target.clear();
        rows.push_back(std::move(listed));
    }
    return rows;
}

// Shows the rows that arrived since the last refresh and the newest junction path.
void RefreshDuringScan(HWND dialog, ManagerState& state) {
    if (state.redrawSuspended) {
        HWND list = ListOf(dialog);
        ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        ::RedrawWindow(list, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
        state.redrawSuspended = false;
    }
    if (!state.latestFound.empty()) {
        SetStatus(dialog, FormatScanningStatus(LoadText(IDS_SCANNING_FOLDER).c_str(), state.latestFound.c_str()).c_str());
        state.latestFound.clear();
    }
}

// ---- scanning -------------------------------------------------------------------

void EnableFolderControls(HWND dialog, bool enable) {
    for (int i = 0; kFolderControls[i] != -1; ++i) ::EnableWindow(::GetDlgItem(dialog, kFolderControls[i]), enable);
}

void RequestScanStop(HWND dialog, ManagerState& state) {
    DebugLine(L"Tressel.Info: Aborting scan...");
    ::SetEvent(state.abortEvent.get());
    ::EnableWindow(::GetDlgItem(dialog, IDC_SCAN), FALSE);
}

void BeginScan(HWND dialog, ManagerState& state, const std::wstring& folder) {
    UniqueHandle abortEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!abortEvent) {
        DebugErrorLine(L"Tresselry.Error: Creating the scan's abort event");
        return;
    }
    auto request = std::make_unique<ScanRequest>();
    request->dialog = dialog;
    request->folder = folder;
    request->recurse = ::IsDlgButtonChecked(dialog, IDC_RECURSE) == BST_CHECKED;

    ScanAbortEvent.store(abortEvent.get());
    HANDLE thread = ::CreateThread(nullptr, 0, JunctionScanThread, request.get(), 0, nullptr);
    if (thread == nullptr) {
        ScanAbortEvent.store(nullptr);
        DebugErrorLine(L"Tresselry.Error: Starting the scan");
        return;
    }
    request.release();  // the worker owns it now
    state.scanThread.reset(thread);
    state.abortEvent = std::move(abortEvent);

    ::GetDlgItemTextW(dialog, IDC_SCAN, state.scanButtonText, 64);
    ::SetDlgItemTextW(dialog, IDC_SCAN, LoadText(IDS_PB_ABORT).c_str());
    SetStatus(dialog, LoadText(IDS_SCANNING).c_str());
    ::SetTimer(dialog, kRefreshTimer, kRefreshIntervalMs, nullptr);
    UpdateMoveBackButton(dialog, state);
}

void OnStartScan(HWND dialog, ManagerState& state) {
    if (state.pendingClose != 0) return;
    if (ScanRunning(state)) {
        // Never two scans at once: stop the running one; its end starts this one.
        state.rescanPending = true;
        RequestScanStop(dialog, state);
        return;
    }

    ::SendMessageW(ListOf(dialog), LVM_DELETEALLITEMS, 0, 0);
    UpdateMoveBackButton(dialog, state);

    wchar_t folder[kJunctionPathCapacity] = L"";
    if (!ReadControlText(dialog, IDC_SCAN_FOLDER, folder, kJunctionPathCapacity)) {
        // Longer than any path the walk takes: left as typed, and not scanned.
        EnableFolderControls(dialog, false);
        SetStatus(dialog, kFolderTooLong);
        return;
    }

    const std::wstring noFolder = LoadText(IDS_NO_FOLDER_SELECTED);
    std::wstring shown;
    bool valid = false;
    if (folder[0] == L'\0' || noFolder == folder) {
        shown = noFolder;
    } else if (VolumeSupportsReparsePoints(folder)) {
        shown = folder;
        valid = true;
    } else {
        shown = LoadText(IDS_NO_REPARSE_SUPPORT);
    }
    // The folder box doubles as the place for these two messages. Rewriting the
    // same text would only move the caret.
    if (shown != folder) ::SetDlgItemTextW(dialog, IDC_SCAN_FOLDER, shown.c_str());
    EnableFolderControls(dialog, valid);
    if (valid) BeginScan(dialog, state, folder);
}

void OnJunctionFoundMessage(HWND dialog, ManagerState& state, const FoundJunction& found) {
    if (!ScanRunning(state) || state.pendingClose != 0) return;
    HWND list = ListOf(dialog);
    if (!state.redrawSuspended) {
        ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        state.redrawSuspended = true;
    }
    AddSortedRow(list, found.path, found.target);
    state.latestFound = found.path;
}

// How long the dialog waits for a worker that has reported its end to return; it
// has nothing left to do but that.
constexpr DWORD kWorkerExitWaitMs = 5000;

void OnScanFinished(HWND dialog, ManagerState& state, bool stopped) {
    if (!ScanRunning(state)) return;
    // Sent rather than posted (the queue was full): the worker waits for this
    // handler, so its end cannot be awaited here.
    if (!::InSendMessage() && ::WaitForSingleObject(state.scanThread.get(), kWorkerExitWaitMs) != WAIT_OBJECT_0) {
        DebugLine(L"Tresselry.Error: The scan's worker did not end");
    }
    ::KillTimer(dialog, kRefreshTimer);
    state.latestFound.clear();
    RefreshDuringScan(dialog, state);
    SetStatus(dialog, LoadText(stopped ? IDS_SCAN_ABORTED : IDS_SCAN_COMPLETE).c_str());

    // The worker makes no call into the dialog after this message.
    ScanAbortEvent.store(nullptr);
    state.abortEvent.reset();
    state.scanThread.reset();
    ::SetDlgItemTextW(dialog, IDC_SCAN, state.scanButtonText);
    ::EnableWindow(::GetDlgItem(dialog, IDC_SCAN), TRUE);
    UpdateMoveBackButton(dialog, state);

    if (state.pendingClose != 0) {
        ::KillTimer(dialog, kCloseTimeoutTimer);
        ::EndDialog(dialog, state.pendingClose);
    } else if (state.rescanPending) {
        state.rescanPending = false;
        OnStartScan(dialog, state);
    }
}

// The dialog goes while a worker may still run (stuck in the file system): the
// worker is told to stop and left to end on its own. Its event stays open and
// signalled, since the worker may still test it; its later messages go to a window
// that no longer exists and are dropped.
void AbandonScan(ManagerState& state) {
    if (!ScanRunning(state)) return;
    ::SetEvent(state.abortEvent.get());
    state.abortEvent.release();
    state.scanThread.reset();
}

// ---- commands -------------------------------------------------------------------

void OnScanButton(HWND dialog, ManagerState& state) {
    if (ScanRunning(state)) {
        RequestScanStop(dialog, state);
    } else {
        ::PostMessageW(dialog, WM_STARTSCAN, 0, 0);
    }
}

void OnBrowse(HWND dialog) {
    wchar_t path[MAX_PATH];
    if (BrowseForFolder(kBrowseTitle, kBrowseFlags, path)) {
        DebugLine(L"Tressel.Switching to:");
        DebugLine(path);
        ::SetDlgItemTextW(dialog, IDC_SCAN_FOLDER, path);
    }
    ::PostMessageW(dialog, WM_STARTSCAN, 0, 0);
}

// True when `listed.path` is still the junction that the row shows. The list may
// be stale: the folder may have been removed, replaced by an ordinary folder, or
// pointed elsewhere since the scan.
bool IsStillListedJunction(const ListedJunction& listed) {
    wchar_t target[kJunctionPathCapacity] = L"";
    DWORD tag = 0;
    if (!ReadReparsePoint(listed.path.c_str(), target, tag) || tag != IO_REPARSE_TAG_MOUNT_POINT) return false;
    return ::CompareStringOrdinal(StripNtPrefix(target), -1, listed.target.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool RemoveListedJunction(const ListedJunction& listed) {
    if (!listed.readable || !IsRemovableTarget(listed.target)) return false;
    if (!IsStillListedJunction(listed)) {
        DebugLineF(L"Tresselry.Error: No longer the listed junction: %s", listed.path.c_str());
        return false;
    }
    return RemoveJunction(listed.path.c_str());
}

// ---- moving a junction's files back ----------------------------------------------

// The one selected row whose junction can have its files moved back, if any.
bool MoveBackCandidate(HWND dialog, ListedJunction& candidate, int& selectedCount) {
    const std::vector<ListedJunction> rows = SelectedRows(ListOf(dialog));
    selectedCount = static_cast<int>(rows.size());
    if (rows.size() != 1 || !rows.front().readable) return false;
    candidate = rows.front();
    MoveBackPlan plan;
    return CanMoveBack(candidate.path, plan) &&
           ::CompareStringOrdinal(plan.target.c_str(), -1, candidate.target.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The button's text, access key and enabled state follow the selection.
void UpdateMoveBackButton(HWND dialog, const ManagerState& state) {
    ListedJunction candidate;
    int selectedCount = 0;
    const bool usable = !ScanRunning(state) && !DialogScanRunning() && state.pendingClose == 0 &&
                        MoveBackCandidate(dialog, candidate, selectedCount);
    HWND button = ::GetDlgItem(dialog, IDC_MOVE_BACK);
    wchar_t shown[64] = L"";
    const wchar_t* text = MoveBackButtonText(selectedCount);
    ::GetWindowTextW(button, shown, 64);
    if (::lstrcmpW(shown, text) != 0) ::SetWindowTextW(button, text);
    ::EnableWindow(button, usable);
}

void OnMoveBack(HWND dialog, ManagerState& state) {
    ListedJunction candidate;
    int selectedCount = 0;
    if (ScanRunning(state) || !MoveBackCandidate(dialog, candidate, selectedCount)) return;
    ::EnableWindow(::GetDlgItem(dialog, IDC_MOVE_BACK), FALSE);
    MoveBackRequest request;
    request.junction = candidate.path;
    request.owner = dialog;
    // The question comes after the scan: the status bar must not say the files
    // are moving while the user is still asked.
    DialogRelocationReporter reporter(dialog, kScanPassedAskingText);
    const MoveBackResult result = RunMoveBack(request, reporter);
    DebugLineF(L"Tressel.Info: move back of %s ended with %d", candidate.path.c_str(), static_cast<int>(result));
    // Declined (No, or the scan cancelled) changed nothing: the list stands, and so
    // does the status bar's word that nothing was changed.
    if (result == MoveBackResult::Declined) {
        UpdateMoveBackButton(dialog, state);
        return;
    }
    ::PostMessageW(dialog, WM_STARTSCAN, 0, 0);
}

void OnRemoveSelected(HWND dialog) {
    HWND list = ListOf(dialog);
    // A lone row needs no selecting.
    if (RowCount(list) == 1) SelectRow(list, 0);

    const std::vector<ListedJunction> rows = SelectedRows(list);
    bool failed = false;
    for (const ListedJunction& listed : rows) {
        if (RemoveListedJunction(listed)) continue;
        failed = true;
        PromptBox(dialog, FormatRemoveError(listed.path, listed.target).c_str(), kMessageCaption, kRemoveErrorStyle);
    }
    if (!failed && !rows.empty()) PromptBox(dialog, kRemovedMessage, kMessageCaption, kRemovedStyle);
    ::PostMessageW(dialog, WM_STARTSCAN, 0, 0);
}

// Someone who types a folder and presses Enter wants it scanned, not the dialog
// closed: Enter in the folder box starts a scan. Everywhere else Enter still
// presses the default button, OK.
constexpr UINT_PTR kFolderBoxSubclass = 1;

LRESULT CALLBACK FolderBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/,
                               DWORD_PTR dialog) {
    switch (message) {
    case WM_GETDLGCODE: {
        // Asked by the dialog manager before it turns Enter into the default button.
        const MSG* key = reinterpret_cast<const MSG*>(lParam);
        if (key != nullptr && key->message == WM_KEYDOWN && key->wParam == VK_RETURN) {
            return ::DefSubclassProc(box, message, wParam, lParam) | DLGC_WANTALLKEYS;
        }
        break;
    }
    case WM_KEYDOWN:
        if (wParam == VK_RETURN) {
            ::PostMessageW(reinterpret_cast<HWND>(dialog), WM_STARTSCAN, 0, 0);
            return 0;
        }
        break;
    case WM_CHAR:
        if (wParam == L'\r') return 0;  // handled as a key: no beep
        break;
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(box, FolderBoxProc, kFolderBoxSubclass);
        break;
    default:
        break;
    }
    return ::DefSubclassProc(box, message, wParam, lParam);
}

void StoreRecurseChoice(HWND dialog) {
    const DWORD recurse = ::IsDlgButtonChecked(dialog, IDC_RECURSE) == BST_CHECKED ? 1 : 0;
    if (!WriteRecurseSetting(recurse)) DebugLine(L"Tresselry.Error: Setting reg value");
}

void OnClose(HWND dialog, ManagerState& state, int id) {
    if (state.pendingClose != 0) return;
    StoreRecurseChoice(dialog);
    if (!ScanRunning(state)) {
        ::EndDialog(dialog, id);
        return;
    }
    // The worker talks to the dialog's controls: stop it and end once it has
    // reported its end (OnScanFinished), so nothing calls into destroyed windows.
    state.pendingClose = id;
    state.rescanPending = false;
    RequestScanStop(dialog, state);
    ::SetTimer(dialog, kCloseTimeoutTimer, kCloseTimeoutMs, nullptr);
}

void OnCloseTimedOut(HWND dialog, ManagerState& state) {
    ::KillTimer(dialog, kCloseTimeoutTimer);
    DebugLine(L"Tresselry.Error: The scan did not stop in time");
    AbandonScan(state);
    ::EndDialog(dialog, state.pendingClose);
}

void OnEndSession(HWND dialog, ManagerState& state, bool ending) {
    // The process may be ended as soon as this returns, before the posted Cancel
    // is handled: keep the choice now.
    if (ending) {
        StoreRecurseChoice(dialog);
        if (ScanRunning(state)) ::SetEvent(state.abortEvent.get());
    }
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

BOOL OnCommand(HWND dialog, ManagerState& state, WORD id) {
    if (DialogScanRunning()) {
        // A move back's access scan runs: Cancel stops it; nothing else starts.
        if (id == IDCANCEL) CancelDialogScan();
        return TRUE;
    }
    switch (id) {
    case IDOK:
    case IDCANCEL:
        OnClose(dialog, state, id);
        return TRUE;
    case IDC_REMOVE_SELECTED:
        if (state.pendingClose == 0) OnRemoveSelected(dialog);
        return TRUE;
    case IDC_SCAN:
        if (state.pendingClose == 0) OnScanButton(dialog, state);
        return TRUE;
    case IDC_BROWSE_SCAN_FOLDER:
        if (state.pendingClose == 0) OnBrowse(dialog);
        return TRUE;
    case IDC_MOVE_BACK:
        if (state.pendingClose == 0) OnMoveBack(dialog, state);
        return TRUE;
    default:
        return FALSE;
    }
}

void OnTimer(HWND dialog, ManagerState& state, UINT_PTR id) {
    if (id == kRefreshTimer) {
        RefreshDuringScan(dialog, state);
    } else if (id == kCloseTimeoutTimer && state.pendingClose != 0) {
        OnCloseTimedOut(dialog, state);
    }
}

BOOL OnInitDialog(HWND dialog, const wchar_t* startupPath) {
    auto state = std::make_unique<ManagerState>();
    ::SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state.release()));

    // The folder browser needs a single-threaded apartment on this thread; it stays
    // initialised for the life of the process.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    SetDialogIcons(dialog);
    CreateSimpleStatusBar(dialog);

    DWORD recurse = 0;
    if (!ReadRecurseSetting(recurse)) recurse = 0;  // subfolders not searched
    ::CheckDlgButton(dialog, IDC_RECURSE, recurse != 0 ? BST_CHECKED : BST_UNCHECKED);

    ::SetWindowTextW(dialog, kManagerCaption);
    PrepareList(ListOf(dialog), DialogDpi(dialog));
    ::SetWindowSubclass(::GetDlgItem(dialog, IDC_SCAN_FOLDER), FolderBoxProc, kFolderBoxSubclass,
                        reinterpret_cast<DWORD_PTR>(dialog));

    // A folder named on the command line ("find junctions here" in Explorer) is
    // scanned at once; without one the first start shows "No folder selected".
    if (startupPath != nullptr && startupPath[0] != L'\0') ::SetDlgItemTextW(dialog, IDC_SCAN_FOLDER, startupPath);
    ::PostMessageW(dialog, WM_STARTSCAN, 0, 0);
    return TRUE;
}

void OnDpiChanged(HWND dialog, UINT newDpi, const RECT& suggested) {
    const UINT oldDpi = OnDialogDpiChanged(dialog, newDpi, suggested);
    RescaleColumns(ListOf(dialog), oldDpi, DialogDpi(dialog));
}

void OnDestroy(HWND dialog) {
    std::unique_ptr<ManagerState> state(StateOf(dialog));
    ::SetWindowLongPtrW(dialog, DWLP_USER, 0);
    if (state) AbandonScan(*state);
    ReleaseDialogResources(dialog);
}

INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog(dialog, reinterpret_cast<const wchar_t*>(lParam));
    if (message == WM_CLOSE) {
        // Closing always takes the Cancel path, so there is one way out.
        ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    }
    ManagerState* state = StateOf(dialog);
    if (state == nullptr) return FALSE;
    switch (message) {
    case WM_ENDSESSION:
        OnEndSession(dialog, *state, wParam != FALSE);
        return TRUE;
    case WM_COMMAND:
        return OnCommand(dialog, *state, LOWORD(wParam));
    case WM_STARTSCAN:
        // A move back's access scan lets messages through; the move back scans the
        // list again when it ends.
        if (!DialogScanRunning()) OnStartScan(dialog, *state);
        return TRUE;
    case WM_JUNCTIONFOUND:
        OnJunctionFoundMessage(dialog, *state, *reinterpret_cast<const FoundJunction*>(lParam));
        return TRUE;
    case WM_SCANFINISHED:
        OnScanFinished(dialog, *state, wParam != FALSE);
        return TRUE;
    case WM_TIMER:
        OnTimer(dialog, *state, wParam);
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == IDC_JUNCTION_LIST &&
            header->code == LVN_ITEMCHANGED) {
            UpdateMoveBackButton(dialog, *state);
        }
        return FALSE;
    }
    case WM_DPICHANGED:
        OnDpiChanged(dialog, LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return FALSE;  // the dialog manager re-lays out the controls
    case WM_SIZE:
        FitStatusBar(dialog);
        return FALSE;
    case WM_DESTROY:
        OnDestroy(dialog);
        return FALSE;
    default:
        return FALSE;
    }
}

// True once the running scan is to stop. No published event means no scan is
// meant to run at all; a failed wait counts as not signalled. Testing the event
// is a call into the kernel (under Wine, a round trip to its server) that would
// otherwise be made for every folder the walk enters and cost several per cent
// of the walk: each thread tests it at most every kStopPollMs, so a stop is still
// seen within a few tens of milliseconds.
bool ScanStopRequested() {
    HANDLE abortEvent = ScanAbortEvent.load();
    if (abortEvent == nullptr) return true;
    thread_local HANDLE testedEvent = nullptr;
    thread_local ULONGLONG testedAt = 0;
    const ULONGLONG now = ::GetTickCount64();
    if (abortEvent == testedEvent && now - testedAt < kStopPollMs) return false;
    testedEvent = abortEvent;
    testedAt = now;
    return ::WaitForSingleObject(abortEvent, 0) == WAIT_OBJECT_0;
}

}  // namespace

bool OnJunctionFound(std::uintptr_t context, const wchar_t* path, const wchar_t* target, DWORD /*tag*/) {
    // Null paths are the walk's poll before it enters an ordinary folder.
    if (path != nullptr && target != nullptr) {
        const FoundJunction found{StripNtPrefix(path), StripNtPrefix(target)};
        ::SendMessageW(reinterpret_cast<HWND>(context), WM_JUNCTIONFOUND, 0, reinterpret_cast<LPARAM>(&found));
    }
    return !ScanStopRequested();
}

DWORD WINAPI JunctionScanThread(void* parameter) {
    std::unique_ptr<ScanRequest> request(static_cast<ScanRequest*>(parameter));
    bool stopped = false;
    try {
        // Several threads list folders at once; each found junction reaches the
        // dialog by a synchronous message, so the visitor is safe on any of them.
        // Every one of them has ended when the walk returns.
        stopped = FindJunctionsPooled(request->folder.c_str(), OnJunctionFound,
                                      reinterpret_cast<std::uintptr_t>(request->dialog), request->recurse) == -1;
    } catch (...) {
        DebugLine(L"Tresselry.Error: unexpected failure in the scan.");
    }
    // Every row was sent synchronously before this. A post that fails would leave
    // the dialog waiting for an end it never learns of: it is then sent.
    const WPARAM stoppedFlag = stopped ? TRUE : FALSE;
    if (!::PostMessageW(request->dialog, WM_SCANFINISHED, stoppedFlag, 0)) {
        ::SendMessageW(request->dialog, WM_SCANFINISHED, stoppedFlag, 0);
    }
    return 0;
}

INT_PTR CALLBACK JunctionManagerDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return HandleMessage(dialog, message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind into the dialog manager; the dialog stays as it was.
        DebugLine(L"Tresselry.Error: unexpected failure in the junction manager.");
        return FALSE;
    }
}
