#include "manager/junction_manager_dialog.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ui/app_globals.h"
#include "base/debug_log.h"
#include "base/dpi.h"
#include "base/text.h"
#include "ui/dialog_support.h"
#include "ui/settings.h"
#include "base/unique_resource.h"
#include "junction/junction.h"
#include "manager/junction_rows.h"
#include "manager/link_repair.h"
#include "junction/link_health.h"
#include "engine/move_back.h"
#include "ui/live_copy.h"
#include "ui/live_scan.h"
#include "ui/relocation_reporter.h"
#include "promptbox/prompt_box.h"
#include "resources/resource.h"

std::atomic<HANDLE> ScanAbortEvent{nullptr};

namespace {

constexpr ULONGLONG kStopPollMs = 10;

// When the running scan's abort event was last tested, by any of its threads.
std::atomic<HANDLE> StopTestedEvent{nullptr};
std::atomic<ULONGLONG> StopTestedAt{0};
// Set by the test that found the event signalled, for the threads that do not
// test it themselves.
std::atomic<HANDLE> StopSeenEvent{nullptr};

// Posted by the dialog to itself when the selection changed: the buttons follow it
// once, however many rows changed at once (Ctrl+A on a long list).
constexpr UINT WM_SELECTIONCHANGED = WM_APP + 1;
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
const wchar_t* const kColumnTitles[] = {L"Virtual folder", L"Backing (real) folder", L"State", nullptr};
constexpr wchar_t kRemoveQuestionLead[] =
    L"Remove these junctions? The folders they point to, and their files, stay where they are.";
constexpr wchar_t kMoveBackQuestionLead[] =
    L"Move the files of these junctions back into their places? Each one is checked and moved in turn.";
// Controls that only make sense for a valid folder.
constexpr int kFolderControls[] = {IDC_REMOVE_SELECTED, IDC_JUNCTION_LIST, -1};

// A junction found by the scan, on its way from the scan's threads to the dialog.
struct alignas(MEMORY_ALLOCATION_ALIGNMENT) FoundNode {
    SLIST_ENTRY entry;  // first: the list links the nodes through it
    JunctionRow row;
};

// What a scan's threads and the dialog share: the rows found and not yet listed,
// on a lock-free list that the threads push to and the dialog takes whole a few
// times a second. Held by both through shared_ptr, so whichever lets go last
// frees it (a dialog that goes while a stuck worker runs).
class FoundRows {
public:
    FoundRows() { ::InitializeSListHead(&head_); }
    ~FoundRows() { Free(::InterlockedFlushSList(&head_)); }
    FoundRows(const FoundRows&) = delete;
    FoundRows& operator=(const FoundRows&) = delete;

    void Push(JunctionRow row) {
        auto* node = new FoundNode{};
        node->row = std::move(row);
        ::InterlockedPushEntrySList(&head_, &node->entry);
    }
    DriveTypes drives;  // asked once per scan, by whichever thread needs one first

    // Every row pushed so far, oldest first.
    std::vector<JunctionRow> TakeAll() {
        std::vector<JunctionRow> rows;
        PSLIST_ENTRY entry = ::InterlockedFlushSList(&head_);
        for (PSLIST_ENTRY at = entry; at != nullptr; at = at->Next) {
            rows.push_back(std::move(reinterpret_cast<FoundNode*>(at)->row));
        }
        Free(entry);
        std::reverse(rows.begin(), rows.end());
        return rows;
    }

private:
    static void Free(PSLIST_ENTRY entry) {
        while (entry != nullptr) {
            PSLIST_ENTRY next = entry->Next;
            delete reinterpret_cast<FoundNode*>(entry);
            entry = next;
        }
    }

    SLIST_HEADER head_;
};

// What the dialog hands its worker; the worker owns and frees it.
struct ScanRequest {
    HWND dialog;
    std::wstring folder;
    bool recurse;
    std::shared_ptr<FoundRows> found;
};

// Per dialog, touched on the dialog's thread only.
struct ManagerState {
    UniqueHandle scanThread;  // the running worker; valid exactly while a scan runs
    UniqueHandle abortEvent;  // its abort event, published as ScanAbortEvent
    wchar_t scanButtonText[64] = L"";
    bool rescanPending = false;  // a start arrived while a scan ran; its end starts the next
    int pendingClose = 0;        // IDOK or IDCANCEL once closing waits for the worker
    std::wstring latestFound;  // newest junction path not yet shown in the status bar
    std::shared_ptr<FoundRows> found;  // the running scan's rows on their way
    std::vector<JunctionRow> pending;  // taken from `found`, not listed yet
    std::size_t pendingListed = 0;     // how many of `pending` are listed
    bool redrawHeld = false;           // the list's drawing is held while rows go in
    double lastRedrawMs = 0;
    std::vector<JunctionRow> rows;     // every listed row; each list item's lParam is its index
    int sortColumn = kPathColumn;
    bool sortDescending = false;
    bool selectionUpdatePosted = false;
    HIMAGELIST stateIcons = nullptr;   // owned: the list is told not to destroy it
};

ManagerState* StateOf(HWND dialog) {
    return reinterpret_cast<ManagerState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
}

std::wstring LoadText(UINT id) { return LoadResourceString(AppInstance, id); }

HWND ListOf(HWND dialog) { return ::GetDlgItem(dialog, IDC_JUNCTION_LIST); }

void UpdateRowButtons(HWND dialog, const ManagerState& state);

void SetStatus(HWND dialog, const wchar_t* text) { SetStatusText(::GetDlgItem(dialog, IDC_STATUS_BAR), text); }

bool ScanRunning(const ManagerState& state) { return state.scanThread.valid(); }

// ---- the list -----------------------------------------------------------------

// Rows that are not OK carry the warning icon beside their path, so that they stand
// out by more than their state's text. Sized for the dialog's scale.
void SetStateIcons(HWND list, ManagerState& state, UINT dpi) {
    const int size = ScaleForDpi(16, dpi);
    HIMAGELIST icons = ::ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 1, 0);
    if (icons != nullptr) {
        // The system's warning icon at the list's size (32515: OIC_WARNING).
        HICON warning = static_cast<HICON>(::LoadImageW(nullptr, MAKEINTRESOURCEW(32515), IMAGE_ICON, size, size,
                                                        LR_SHARED));
        if (warning == nullptr) warning = ::LoadIconW(nullptr, IDI_WARNING);
        ::ImageList_ReplaceIcon(icons, -1, warning);
    }
    ::SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(icons));
    if (state.stateIcons != nullptr) ::ImageList_Destroy(state.stateIcons);
    state.stateIcons = icons;
}

void PrepareList(HWND list, ManagerState& state, UINT dpi) {
    // The dialog keeps the rows in order itself: the control's own sorted insertion
    // compares the new row with every row before it.
    const LONG_PTR style = ::GetWindowLongPtrW(list, GWL_STYLE);
    ::SetWindowLongPtrW(list, GWL_STYLE, (style & ~static_cast<LONG_PTR>(LVS_SORTASCENDING)) | LVS_SHAREIMAGELISTS);
    ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kListExtendedStyle);

    for (int column = 0; kColumnTitles[column] != nullptr; ++column) {
        LVCOLUMNW info = {};
        info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM | LVCF_ORDER;
        info.fmt = LVCFMT_LEFT;
        info.cx = column == kStateColumn ? StateColumnWidthForDpi(dpi) : ColumnWidthForDpi(dpi);
        info.pszText = const_cast<wchar_t*>(kColumnTitles[column]);
        info.iSubItem = column;
        info.iOrder = column;
        ::SendMessageW(list, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&info));
    }
    SetStateIcons(list, state, dpi);
}

// Keeps each column's share of the list, also one the user has widened, at the new scale.
void RescaleColumns(HWND list, UINT fromDpi, UINT toDpi) {
    for (int column = 0; kColumnTitles[column] != nullptr; ++column) {
        const int width = static_cast<int>(::SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
        ::SendMessageW(list, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(RescaleForDpi(width, fromDpi, toDpi), 0));
    }
}

int RowCount(HWND list) { return static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

// The index into ManagerState::rows of list item `item`, or -1.
int RowIndexOf(HWND list, int item) {
    LVITEMW info = {};
    info.mask = LVIF_PARAM;
    info.iItem = item;
    if (!::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&info))) return -1;
    return static_cast<int>(info.lParam);
}

// Negative, zero or positive as rows `left` and `right` stand in the list's order.
int CompareInListOrder(const ManagerState& state, const JunctionRow& left, const JunctionRow& right) {
    const int order = CompareRows(left, right, state.sortColumn);
    return state.sortDescending ? -order : order;
}

// Shows state.rows[index] in the list, where the list's order puts it: after every
// row that sorts before or equal to it, found by halving (the list may hold many
// thousands of rows).
void ListRow(HWND list, const ManagerState& state, int index) {
    const JunctionRow& row = state.rows[static_cast<std::size_t>(index)];
    int low = 0;
    int high = RowCount(list);
    while (low < high) {
        const int middle = low + (high - low) / 2;
        const int other = RowIndexOf(list, middle);
        if (other >= 0 && CompareInListOrder(state, state.rows[static_cast<std::size_t>(other)], row) <= 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }

    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
    item.iItem = low;
    item.pszText = const_cast<wchar_t*>(row.path.c_str());
    item.lParam = index;
    item.iImage = row.health == LinkHealth::Ok ? I_IMAGENONE : 0;
    // The other columns go to the row the insertion actually made, wherever that is.
    const int inserted = static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (inserted < 0) return;
    LVITEMW cell = {};
    cell.iSubItem = kTargetColumn;
    cell.pszText = const_cast<wchar_t*>(row.target.c_str());
    ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(inserted), reinterpret_cast<LPARAM>(&cell));
    cell.iSubItem = kStateColumn;
    cell.pszText = const_cast<wchar_t*>(LinkHealthText(row.health));
    ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(inserted), reinterpret_cast<LPARAM>(&cell));
}

void ReleaseListRedraw(HWND list, ManagerState& state);

void ClearRows(HWND list, ManagerState& state) {
    ReleaseListRedraw(list, state);
    ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    state.rows.clear();
    state.pending.clear();
    state.pendingListed = 0;
}

void SetRowSelection(HWND list, int row, bool selected) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = selected ? LVIS_SELECTED : 0;
    ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void SelectRow(HWND list, int row) { SetRowSelection(list, row, true); }

int SelectedCount(HWND list) { return static_cast<int>(::SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0)); }

// The selected rows, copied before anything is acted on: a running scan may list
// rows (and so move indexes) while a message box is open.
std::vector<JunctionRow> SelectedRows(HWND list, const ManagerState& state) {
    std::vector<JunctionRow> rows;
    int item = -1;
    while ((item = static_cast<int>(::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(item),
                                                   MAKELPARAM(LVNI_SELECTED, 0)))) != -1) {
        const int index = RowIndexOf(list, item);
        if (index >= 0 && static_cast<std::size_t>(index) < state.rows.size()) {
            rows.push_back(state.rows[static_cast<std::size_t>(index)]);
        }
    }
    return rows;
}

// How long the dialog lists rows at a time before it answers other messages
// again: a scan can find thousands of rows in a moment.
constexpr double kListingSliceMs = 40;

double NowMs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

constexpr double kRedrawIntervalMs = 250;

void ReleaseListRedraw(HWND list, ManagerState& state) {
    if (!state.redrawHeld) return;
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::RedrawWindow(list, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
    state.redrawHeld = false;
    state.lastRedrawMs = NowMs();
}

// Lists the rows that the scan's threads found, for at most one slice of time,
// with the list's drawing held meanwhile, and notes the newest junction path.
// True once every row found so far is listed.
bool ListFoundRows(HWND dialog, ManagerState& state) {
    if (state.found) {
        std::vector<JunctionRow> found = state.found->TakeAll();
        if (state.pendingListed == state.pending.size()) {
            state.pending = std::move(found);
            state.pendingListed = 0;
        } else {
            for (JunctionRow& row : found) state.pending.push_back(std::move(row));
        }
    }
    if (state.pendingListed == state.pending.size()) return true;

    HWND list = ListOf(dialog);
    if (!state.redrawHeld) {
        ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        state.redrawHeld = true;
    }
    const double until = NowMs() + kListingSliceMs;
    while (state.pendingListed < state.pending.size() && NowMs() < until) {
        JunctionRow& row = state.pending[state.pendingListed++];
        state.latestFound = row.path;
        state.rows.push_back(std::move(row));
        ListRow(list, state, static_cast<int>(state.rows.size() - 1));
    }
    const bool done = state.pendingListed == state.pending.size();
    // Drawn again a few times a second while rows keep coming, and once at the end.
    if (done || NowMs() - state.lastRedrawMs >= kRedrawIntervalMs) ReleaseListRedraw(list, state);
    if (!done) return false;
    state.pending.clear();
    state.pendingListed = 0;
    return true;
}

void RefreshDuringScan(HWND dialog, ManagerState& state) {
    ListFoundRows(dialog, state);
    if (!state.latestFound.empty()) {
        SetStatus(dialog, FormatScanningStatus(LoadText(IDS_SCANNING_FOLDER).c_str(), state.latestFound.c_str()).c_str());
        state.latestFound.clear();
    }
}

// ---- sorting, keys and the clipboard --------------------------------------------

struct SortContext {
    const ManagerState* state;
};

int CALLBACK CompareListed(LPARAM left, LPARAM right, LPARAM context) {
    const ManagerState& state = *reinterpret_cast<const SortContext*>(context)->state;
    return CompareInListOrder(state, state.rows[static_cast<std::size_t>(left)],
                              state.rows[static_cast<std::size_t>(right)]);
}

void ShowSortArrow(HWND list, const ManagerState& state) {
    HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    for (int column = 0; kColumnTitles[column] != nullptr; ++column) {
        HDITEMW item = {};
        item.mask = HDI_FORMAT;
        if (!::SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item))) continue;
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (column == state.sortColumn) item.fmt |= state.sortDescending ? HDF_SORTDOWN : HDF_SORTUP;
        ::SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
    }
}

// A click on a column's header sorts by it; a second click reverses the order.
void OnColumnClick(HWND dialog, ManagerState& state, int column) {
    if (column < 0 || column >= kColumnCount) return;
    state.sortDescending = column == state.sortColumn ? !state.sortDescending : false;
    state.sortColumn = column;
    HWND list = ListOf(dialog);
    SortContext context{&state};
    ::SendMessageW(list, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&context), reinterpret_cast<LPARAM>(CompareListed));
    ShowSortArrow(list, state);
}

void SelectAllRows(HWND list) { SetRowSelection(list, -1, true); }

// The selected rows as tab-separated text, under a header line.
void CopyRows(HWND dialog, const ManagerState& state) {
    HWND list = ListOf(dialog);
    const std::vector<JunctionRow> rows = SelectedRows(list, state);
    const std::wstring text = RowsAsText(rows);
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory == nullptr) return;
    void* data = ::GlobalLock(memory);
    if (data == nullptr) {
        ::GlobalFree(memory);
        return;
    }
    std::memcpy(data, text.c_str(), bytes);
    ::GlobalUnlock(memory);
    if (::OpenClipboard(dialog)) {
        ::EmptyClipboard();
        if (::SetClipboardData(CF_UNICODETEXT, memory) != nullptr) memory = nullptr;  // the clipboard owns it now
        ::CloseClipboard();
    }
    if (memory != nullptr) ::GlobalFree(memory);
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
    request->found = std::make_shared<FoundRows>();
    std::shared_ptr<FoundRows> found = request->found;

    // A new event may reuse a closed one's handle value: what was seen of the
    // last scan's event is forgotten first (its worker has ended, or was
    // abandoned with its event left open).
    StopSeenEvent.store(nullptr);
    StopTestedEvent.store(nullptr);
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
    state.found = std::move(found);

    ::GetDlgItemTextW(dialog, IDC_SCAN, state.scanButtonText, 64);
    ::SetDlgItemTextW(dialog, IDC_SCAN, LoadText(IDS_PB_ABORT).c_str());
    SetStatus(dialog, LoadText(IDS_SCANNING).c_str());
    ::SetTimer(dialog, kRefreshTimer, kRefreshIntervalMs, nullptr);
    UpdateRowButtons(dialog, state);
}

void OnStartScan(HWND dialog, ManagerState& state) {
    if (state.pendingClose != 0) return;
    if (ScanRunning(state)) {
        // Never two scans at once: stop the running one; its end starts this one.
        state.rescanPending = true;
        RequestScanStop(dialog, state);
        return;
    }

    ClearRows(ListOf(dialog), state);
    UpdateRowButtons(dialog, state);

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
    if (state.pendingClose != 0 || state.rescanPending) {
        // The list is going or about to be filled anew: the rest is not listed.
        if (state.found) state.found->TakeAll();
        state.pending.clear();
        state.pendingListed = 0;
    } else if (!ListFoundRows(dialog, state)) {
        // The last rows, pushed before the worker ended, are listed a slice at a
        // time, with other messages answered in between; the scan ends after them.
        if (::PostMessageW(dialog, WM_SCANFINISHED, stopped ? TRUE : FALSE, 0)) return;
        while (!ListFoundRows(dialog, state)) {
        }
    }
    ::KillTimer(dialog, kRefreshTimer);
    state.latestFound.clear();
    SetStatus(dialog, LoadText(stopped ? IDS_SCAN_ABORTED : IDS_SCAN_COMPLETE).c_str());

    // The worker makes no call into the dialog after this message.
    ScanAbortEvent.store(nullptr);
    state.abortEvent.reset();
    state.scanThread.reset();
    state.found.reset();
    ::SetDlgItemTextW(dialog, IDC_SCAN, state.scanButtonText);
    ::EnableWindow(::GetDlgItem(dialog, IDC_SCAN), TRUE);
    UpdateRowButtons(dialog, state);

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
    state.found.reset();  // the worker frees the rows it still holds
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
bool IsStillListedJunction(const JunctionRow& listed) {
    wchar_t target[kJunctionPathCapacity] = L"";
    DWORD tag = 0;
    if (!ReadReparsePoint(listed.path.c_str(), target, tag) || tag != IO_REPARSE_TAG_MOUNT_POINT) return false;
    return ::CompareStringOrdinal(StripNtPrefix(target), -1, listed.target.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool RemoveListedJunction(const JunctionRow& listed) {
    if (!IsRemovableTarget(listed.target)) return false;
    if (!IsStillListedJunction(listed)) {
        DebugLineF(L"Tresselry.Error: No longer the listed junction: %s", listed.path.c_str());
        return false;
    }
    return RemoveJunction(listed.path.c_str());
}

std::vector<std::wstring> PathsOf(const std::vector<JunctionRow>& rows) {
    std::vector<std::wstring> paths;
    paths.reserve(rows.size());
    for (const JunctionRow& row : rows) paths.push_back(row.path);
    return paths;
}

// The one question before several rows are acted on; true for Yes.
bool ConfirmSeveral(HWND dialog, const wchar_t* lead, const std::vector<JunctionRow>& rows) {
    const std::wstring text = FormatSeveralQuestion(lead, PathsOf(rows));
    return (PromptBox(dialog, text.c_str(), kMessageCaption, MB_YESNO | MB_ICONQUESTION) & 0xFFFF) == IDYES;
}

// ---- moving junctions' files back -------------------------------------------------

bool BusyWithOtherWork(const ManagerState& state) {
    return ScanRunning(state) || DialogScanRunning() || DialogCopyRunning() || state.pendingClose != 0;
}

// The buttons that act on the selection follow it. Move back and Re-point look at
// the disk only for a single row; for several, each row is checked as it is acted on.
void UpdateRowButtons(HWND dialog, const ManagerState& state) {
    HWND list = ListOf(dialog);
    const int selected = SelectedCount(list);
    const bool idle = !BusyWithOtherWork(state);
    bool oneUsable = false;
    bool oneJunction = false;
    if (idle && selected == 1) {
        const std::vector<JunctionRow> rows = SelectedRows(list, state);
        if (rows.size() == 1) {
            MoveBackPlan plan;
            oneJunction = rows.front().health != LinkHealth::NotAJunction && !rows.front().target.empty();
            oneUsable = CanMoveBack(rows.front().path, plan) &&
                        ::CompareStringOrdinal(plan.target.c_str(), -1, rows.front().target.c_str(), -1, TRUE) ==
                            CSTR_EQUAL;
        }
    }
    ::EnableWindow(::GetDlgItem(dialog, IDC_MOVE_BACK), idle && (selected > 1 || oneUsable));
    ::EnableWindow(::GetDlgItem(dialog, IDC_REPOINT), idle && oneJunction);
    ::EnableWindow(::GetDlgItem(dialog, IDC_CHANGE_DRIVE), idle && selected > 0);
}

// A move back of one of several rows the user has already agreed to as a list:
// the plain confirmation is that answer, while a question that warns of something
// particular to this junction (a shared target, files that were there before) and
// the SYSTEM-files question are still asked.
class AgreedMoveBackReporter : public RelocationObserver {
public:
    explicit AgreedMoveBackReporter(HWND dialog) : inner_(dialog, kScanPassedAskingText) {}
    AccessScanProgress& ScanProgress() override { return inner_.ScanProgress(); }
    void OnScanEnded() override { inner_.OnScanEnded(); }
    bool Confirm(RelocationMessage question, const RelocationFacts& facts) override {
        return question == RelocationMessage::MoveBackQuestion || inner_.Confirm(question, facts);
    }
    void Report(RelocationMessage message, const RelocationFacts& facts) override { inner_.Report(message, facts); }
    void OnFilesMoving(bool moving) override { inner_.OnFilesMoving(moving); }
    void OnCopyProgress(const TreeCopyProgress& progress) override { inner_.OnCopyProgress(progress); }
    void WaitForCopy(HANDLE worker, std::atomic<bool>& cancel) override { inner_.WaitForCopy(worker, cancel); }
    void OnSwapping(bool swapping) override { inner_.OnSwapping(swapping); }

private:
    DialogRelocationReporter inner_;
};

MoveBackResult MoveBackOne(HWND dialog, const JunctionRow& row, bool agreed) {
    MoveBackRequest request;
    request.junction = row.path;
    request.owner = dialog;
    request.compareContents = ReadCompareContentsSetting();
    MoveBackResult result;
    if (agreed) {
        AgreedMoveBackReporter reporter(dialog);
        result = RunMoveBack(request, reporter);
    } else {
        // The question comes after the scan: the status bar must not say the files
        // are moving while the user is still asked.
        DialogRelocationReporter reporter(dialog, kScanPassedAskingText);
        result = RunMoveBack(request, reporter);
    }
    DebugLineF(L"Tressel.Info: move back of %s ended with %d", row.path.c_str(), static_cast<int>(result));
    return result;
}

// Every selected junction in turn, after one question for several; each outcome,
// a failure included, was told by the move back itself, and the rest go on. A
// row the list shows with a target other than its junction's now is not touched.
void OnMoveBack(HWND dialog, ManagerState& state) {
    if (BusyWithOtherWork(state)) return;
    const std::vector<JunctionRow> rows = SelectedRows(ListOf(dialog), state);
    if (rows.empty()) return;
    const bool several = rows.size() > 1;
    if (several && !ConfirmSeveral(dialog, kMoveBackQuestionLead, rows)) return;
    ::EnableWindow(::GetDlgItem(dialog, IDC_MOVE_BACK), FALSE);
    bool changed = false;
    for (const JunctionRow& row : rows) {
        MoveBackPlan plan;
        if (!CanMoveBack(row.path, plan) ||
            ::CompareStringOrdinal(plan.target.c_str(), -1, row.target.c_str(), -1, TRUE) != CSTR_EQUAL) {
            PromptBox(dialog, (L"The files of this junction cannot be moved back: it is not a junction to a folder "
                               L"on a drive of this computer, or it points elsewhere now.\n\n" +
                               row.path + L"\n ->\n" + row.target)
                                  .c_str(),
                      kMessageCaption, MB_OK | MB_ICONHAND);
            continue;
        }
        const MoveBackResult result = MoveBackOne(dialog, row, several);
        if (result != MoveBackResult::Declined) changed = true;
    }
    // Declined (No, or the scan cancelled) changed nothing: the list stands, and so
    // does the status bar's word that nothing was changed.
    if (!changed) {
        UpdateRowButtons(dialog, state);
        return;
    }
    ::PostMessageW(dialog, WM_STARTSCAN, 0, 0);
}

// Remove: every selected row, after one question when there are several (or the
// Delete key asked for it). A row that is no longer the junction it shows is
// reported and left; the others go on.
void OnRemoveSelected(HWND dialog, ManagerState& state, bool byKey) {
    HWND list = ListOf(dialog);
    // A lone row needs no selecting.
    if (RowCount(list) == 1 && !byKey) SelectRow(list, 0);

    const std::vector<JunctionRow> rows = SelectedRows(list, state);
    if ((rows.size() > 1 || (byKey && !rows.empty())) && !ConfirmSeveral(dialog, kRemoveQuestionLead, rows)) return;
    bool failed = false;
    for (const JunctionRow& listed : rows) {
        if (RemoveListedJunction(listed)) continue;
        failed = true;
        PromptBox(dialog, FormatRemoveError(listed.path, listed.target).c_str(), kMessageCaption, kRemoveErrorStyle);
    }
    if (!failed && !rows.empty()) PromptBox(dialog, kRemovedMessage, kMessageCaption, kRemovedStyle);
    ::PostMessageW(dialog, WM_STARTSCAN, 0, 0);
}

void OnRepoint(HWND dialog, ManagerState& state) {
    if (BusyWithOtherWork(state)) return;
    const std::vector<JunctionRow> rows = SelectedRows(ListOf(dialog), state);
    if (rows.size() != 1) return;
    if (RunRepointDialog(dialog, rows.front())) ::PostMessageW(dialog, WM_STARTSCAN, 0, 0);
}

void OnChangeDrive(HWND dialog, ManagerState& state) {
    if (BusyWithOtherWork(state)) return;
    const std::vector<JunctionRow> rows = SelectedRows(ListOf(dialog), state);
    if (rows.empty()) return;
    if (RunChangeDriveDialog(dialog, rows)) ::PostMessageW(dialog, WM_STARTSCAN, 0, 0);
}

// Ctrl+A, Ctrl+C and Delete in the list.
void OnListKey(HWND dialog, ManagerState& state, WORD key) {
    const bool control = (::GetKeyState(VK_CONTROL) & 0x8000) != 0;
    if (control && key == 'A') {
        SelectAllRows(ListOf(dialog));
    } else if (control && key == 'C') {
        CopyRows(dialog, state);
    } else if (key == VK_DELETE && !control && !BusyWithOtherWork(state)) {
        OnRemoveSelected(dialog, state, true);
    }
}

void OnSelectionChanged(HWND dialog, ManagerState& state) {
    if (state.selectionUpdatePosted) return;
    state.selectionUpdatePosted = true;
    ::PostMessageW(dialog, WM_SELECTIONCHANGED, 0, 0);
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
    if (DialogCopyRunning()) {
        // A move back between drives copies: Cancel stops the copy.
        if (id == IDCANCEL) CancelDialogCopy();
        return TRUE;
    }
    switch (id) {
    case IDOK:
    case IDCANCEL:
        OnClose(dialog, state, id);
        return TRUE;
    case IDC_REMOVE_SELECTED:
        if (state.pendingClose == 0) OnRemoveSelected(dialog, state, false);
        return TRUE;
    case IDC_REPOINT:
        OnRepoint(dialog, state);
        return TRUE;
    case IDC_CHANGE_DRIVE:
        OnChangeDrive(dialog, state);
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
    PrepareList(ListOf(dialog), *StateOf(dialog), DialogDpi(dialog));
    ::SetWindowSubclass(::GetDlgItem(dialog, IDC_SCAN_FOLDER), FolderBoxProc, kFolderBoxSubclass,
                        reinterpret_cast<DWORD_PTR>(dialog));

    // A folder named on the command line ("find junctions here" in Explorer) is
    // scanned at once; without one the first start shows "No folder selected".
    if (startupPath != nullptr && startupPath[0] != L'\0') ::SetDlgItemTextW(dialog, IDC_SCAN_FOLDER, startupPath);
    ::PostMessageW(dialog, WM_STARTSCAN, 0, 0);
    return TRUE;
}

void OnDpiChanged(HWND dialog, ManagerState& state, UINT newDpi, const RECT& suggested) {
    const UINT oldDpi = OnDialogDpiChanged(dialog, newDpi, suggested);
    RescaleColumns(ListOf(dialog), oldDpi, DialogDpi(dialog));
    SetStateIcons(ListOf(dialog), state, DialogDpi(dialog));
}

void OnDestroy(HWND dialog) {
    std::unique_ptr<ManagerState> state(StateOf(dialog));
    ::SetWindowLongPtrW(dialog, DWLP_USER, 0);
    if (state) {
        AbandonScan(*state);
        // The list shares the image list rather than owning it.
        ::SendMessageW(ListOf(dialog), LVM_SETIMAGELIST, LVSIL_SMALL, 0);
        if (state->stateIcons != nullptr) ::ImageList_Destroy(state->stateIcons);
    }
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
        if (!DialogScanRunning() && !DialogCopyRunning()) OnStartScan(dialog, *state);
        return TRUE;
    case WM_SELECTIONCHANGED:
        state->selectionUpdatePosted = false;
        UpdateRowButtons(dialog, *state);
        return TRUE;
    case WM_SCANFINISHED:
        OnScanFinished(dialog, *state, wParam != FALSE);
        return TRUE;
    case WM_TIMER:
        OnTimer(dialog, *state, wParam);
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != IDC_JUNCTION_LIST) return FALSE;
        switch (header->code) {
        case LVN_ITEMCHANGED:
            OnSelectionChanged(dialog, *state);
            break;
        case LVN_COLUMNCLICK:
            OnColumnClick(dialog, *state, reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem);
            break;
        case LVN_KEYDOWN:
            OnListKey(dialog, *state, reinterpret_cast<const NMLVKEYDOWN*>(lParam)->wVKey);
            break;
        default:
            break;
        }
        return FALSE;
    }
    case WM_DPICHANGED:
        OnDpiChanged(dialog, *state, LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
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
// of the walk: the scan's threads together test it at most about every
// kStopPollMs, so a stop is still seen within a few tens of milliseconds. (Not
// per thread: a thread_local here costs the runtime a lock that every new scan
// thread takes at once.)
bool ScanStopRequested() {
    HANDLE abortEvent = ScanAbortEvent.load();
    if (abortEvent == nullptr) return true;
    if (StopSeenEvent.load() == abortEvent) return true;
    const ULONGLONG now = ::GetTickCount64();
    if (StopTestedEvent.load() == abortEvent && now - StopTestedAt.load() < kStopPollMs) return false;
    StopTestedAt.store(now);
    StopTestedEvent.store(abortEvent);
    if (::WaitForSingleObject(abortEvent, 0) != WAIT_OBJECT_0) return false;
    StopSeenEvent.store(abortEvent);
    return true;
}

}  // namespace

bool OnJunctionFound(std::uintptr_t context, const wchar_t* path, const wchar_t* target, DWORD /*tag*/) {
    // Null paths are the walk's poll before it enters an ordinary folder.
    if (path != nullptr && target != nullptr) {
        try {
            JunctionRow row;
            row.path = StripNtPrefix(path);
            row.target = StripNtPrefix(target);
            // Worked out here, on the scan's threads: the dialog's thread only lists.
            FoundRows& found = *reinterpret_cast<FoundRows*>(context);
            row.health = CheckLinkHealth(row.path, row.target, &found.drives);
            found.Push(std::move(row));
        } catch (...) {
            // Out of memory on one of the walk's threads: nothing may unwind into
            // the walk; the scan stops and says so.
            DebugLine(L"Tresselry.Error: out of memory in the scan.");
            return false;
        }
    }
    return !ScanStopRequested();
}

DWORD WINAPI JunctionScanThread(void* parameter) {
    std::unique_ptr<ScanRequest> request(static_cast<ScanRequest*>(parameter));
    bool stopped = false;
    try {
        // Several threads list folders at once and push what they find to the
        // shared rows, which the dialog takes a few times a second. Every one of
        // them has ended when the walk returns.
        stopped = FindJunctionsPooled(request->folder.c_str(), OnJunctionFound,
                                      reinterpret_cast<std::uintptr_t>(request->found.get()), request->recurse) == -1;
    } catch (...) {
        // Out of memory for a row, or an unexpected failure: the scan ends as stopped.
        stopped = true;
        DebugLine(L"Tresselry.Error: unexpected failure in the scan.");
    }
    // Every row was pushed before this. A post that fails would leave the dialog
    // waiting for an end it never learns of: it is then sent.
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
