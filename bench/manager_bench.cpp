// The junction manager's scan, as the user sees it, against the bare walk in the
// same run:
//  1. Time from pressing Scan to "Scan complete" in the real dialog, with
//     subfolders, on a tree of 20,520 folders holding 500 junctions, with 1, 2, 4
//     and 8 threads listing folders; the baseline is a bare single-threaded
//     FindFirstFileW/FindNextFileW recursion over the same tree, beside the
//     junction library's ordered and pooled walks with a visitor that only
//     counts, and with one that also works out each link's state as the scan
//     does, rounds alternating.
//     The timed scans send the dialog nothing while they run: the bench watches
//     the abort event that the dialog publishes while a scan runs. Under Wine each message
//     sent between threads is several round trips to the server that the walk also
//     needs, and probing the dialog every 10 ms slowed the scan by a sixth. A scan
//     of its own in each round, with the machine's thread count, sends the dialog a
//     message every 10 ms and keeps the worst round trip: how long the dialog may
//     be deaf during a scan.
//  2. Growth with the number of rows: folders of 1,000, 2,000 and 4,000 junctions,
//     scanned by the dialog; the time per row should stay flat.
//
// Usage: manager_bench [folder] [rounds] [thread counts] (rounds 0: only part 2; thread
// counts default "1,2,4,8": each round scans once with each). The folder (default N:\manager-bench on
// the NTFS test drive) receives the trees; existing trees there are reused. Run it
// without a debugger attached: the walk writes one debug line per folder.
#include "bench/bench_support.h"
#include "base/work_pool.h"
#include "ui/app_globals.h"
#include "junction/junction.h"
#include "junction/link_health.h"
#include "junction/reparse_platform.h"
#include "manager/junction_manager_dialog.h"
#include "resources/resource.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

constexpr int kTopFolders = 20;
constexpr int kMiddleFolders = 25;  // each holds one junction: 500 junctions
constexpr int kLeafFolders = 40;
constexpr int kTreeFolders = kTopFolders + kTopFolders * kMiddleFolders * (1 + kLeafFolders);
constexpr int kRowCounts[] = {1000, 2000, 4000};
constexpr DWORD kProbeIntervalMs = 10;
constexpr DWORD kScanTimeoutMs = 120000;

double Now() {
    LARGE_INTEGER zero = {}, now;
    ::QueryPerformanceCounter(&now);
    return bench::Milliseconds(zero, now);
}

bool MakeFolder(const std::wstring& path) {
    return ::CreateDirectoryW(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool MarkComplete(const std::wstring& root) {
    HANDLE file = ::CreateFileW((root + L"\\complete.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

bool BuildTree(const std::wstring& root, const std::wstring& target) {
    if (Exists(root + L"\\complete.txt")) return true;
    if (!MakeFolder(root) || !MakeFolder(target)) return false;
    for (int top = 0; top < kTopFolders; ++top) {
        const std::wstring topPath = root + L"\\t" + std::to_wstring(top);
        if (!MakeFolder(topPath)) return false;
        for (int middle = 0; middle < kMiddleFolders; ++middle) {
            const std::wstring middlePath = topPath + L"\\m" + std::to_wstring(middle);
            if (!MakeFolder(middlePath)) return false;
            for (int leaf = 0; leaf < kLeafFolders; ++leaf) {
                if (!MakeFolder(middlePath + L"\\leaf" + std::to_wstring(leaf))) return false;
            }
            if (!CreateJunction((middlePath + L"\\link").c_str(), target.c_str())) return false;
        }
        std::fwprintf(stderr, L"built %d of %d top folders\n", top + 1, kTopFolders);
    }
    return MarkComplete(root);
}

bool BuildFlatFolder(const std::wstring& root, const std::wstring& target, int junctions) {
    if (Exists(root + L"\\complete.txt")) return true;
    if (!MakeFolder(root) || !MakeFolder(target)) return false;
    for (int i = 0; i < junctions; ++i) {
        // Names in an order the list must rearrange: the walk meets them sorted
        // by the volume, the list sorts them ignoring case.
        const std::wstring link = root + L"\\" + ((i % 2) ? L"J" : L"j") + std::to_wstring((i * 7919) % junctions);
        if (!Exists(link) && !CreateJunction(link.c_str(), target.c_str())) return false;
    }
    return MarkComplete(root);
}

double TimeBareWalk(const std::wstring& root, long* folders) {
    wchar_t path[1024];
    std::wcscpy(path, root.c_str());
    const double start = Now();
    *folders = bench::BareWalk(path, std::wcslen(path));
    return Now() - start;
}

void IgnoreName(void*, const wchar_t*) {}

// The bare walk plus what the scan must also do under Wine to see every link that
// Windows would list: list each folder through Linux (Wine leaves dangling
// junctions out). On Windows this is the bare walk itself.
void ListThroughLinux(const wchar_t* folder, const void* finder) {
    static_cast<const reparse_platform::HiddenLinkFinder*>(finder)->List(folder, IgnoreName, nullptr);
}

double TimeSeeingWalk(const std::wstring& root) {
    wchar_t path[1024];
    std::wcscpy(path, root.c_str());
    const double start = Now();
    const reparse_platform::HiddenLinkFinder finder(path);
    bench::BareWalk(path, std::wcslen(path), ListThroughLinux, &finder);
    return Now() - start;
}

bool CountVisit(std::uintptr_t context, const wchar_t* path, const wchar_t*, DWORD) {
    if (path != nullptr) ++*reinterpret_cast<long*>(context);
    return true;
}

bool CountVisitShared(std::uintptr_t context, const wchar_t* path, const wchar_t*, DWORD) {
    if (path != nullptr) ++*reinterpret_cast<std::atomic<long>*>(context);
    return true;
}

double TimePooledWalk(const std::wstring& root, int threads, long* found) {
    std::atomic<long> count{0};
    const double start = Now();
    FindJunctionsPooled(root.c_str(), CountVisitShared, reinterpret_cast<std::uintptr_t>(&count), true, threads);
    const double elapsed = Now() - start;
    *found = count.load();
    return elapsed;
}

// The pooled walk doing all the scan does for each link apart from the dialog:
// its state worked out (a look at the target on the disk) and the row kept.
struct StateVisit {
    std::atomic<long> count{0};
    DriveTypes drives;
};

bool StateVisitShared(std::uintptr_t context, const wchar_t* path, const wchar_t* target, DWORD) {
    if (path == nullptr || target == nullptr) return true;
    auto& visit = *reinterpret_cast<StateVisit*>(context);
    const LinkHealth health = CheckLinkHealth(WithoutNtPrefix(path), WithoutNtPrefix(target), &visit.drives);
    if (health != LinkHealth::NotAJunction) ++visit.count;
    return true;
}

double TimeStatePooledWalk(const std::wstring& root, int threads, long* found) {
    StateVisit visit;
    const double start = Now();
    FindJunctionsPooled(root.c_str(), StateVisitShared, reinterpret_cast<std::uintptr_t>(&visit), true, threads);
    const double elapsed = Now() - start;
    *found = visit.count.load();
    return elapsed;
}

double TimeLibraryWalk(const std::wstring& root, long* found) {
    *found = 0;
    const double start = Now();
    FindJunctions(root.c_str(), CountVisit, reinterpret_cast<std::uintptr_t>(found), true);
    return Now() - start;
}

// ---- the dialog -------------------------------------------------------------------

struct DialogThread {
    HANDLE thread = nullptr;
    std::atomic<HWND> dialog{nullptr};
};

BOOL CALLBACK FindDialog(HWND window, LPARAM context) {
    wchar_t className[16] = L"";
    ::GetClassNameW(window, className, 16);
    if (std::wcscmp(className, L"#32770") == 0) {
        *reinterpret_cast<HWND*>(context) = window;
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI RunDialog(void*) {
    ::DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_MANAGER), nullptr, JunctionManagerDlgProc,
                      reinterpret_cast<LPARAM>(L""));
    return 0;
}

std::wstring FolderBoxText(HWND dialog) {
    wchar_t text[1024] = L"";
    ::SendMessageW(::GetDlgItem(dialog, IDC_SCAN_FOLDER), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
}

// Opens the dialog and waits until its own first start has shown "No folder
// selected": a Scan press before that would meet a running scan and stop it.
HWND OpenDialog(HANDLE* thread) {
    DWORD threadId = 0;
    *thread = ::CreateThread(nullptr, 0, RunDialog, nullptr, 0, &threadId);
    wchar_t noFolder[128] = L"";
    ::LoadStringW(AppInstance, IDS_NO_FOLDER_SELECTED, noFolder, 128);
    HWND dialog = nullptr;
    for (int i = 0; i < 1000; ++i) {
        ::Sleep(10);
        if (dialog == nullptr) ::EnumThreadWindows(threadId, FindDialog, reinterpret_cast<LPARAM>(&dialog));
        if (dialog != nullptr && FolderBoxText(dialog) == noFolder) return dialog;
    }
    return nullptr;
}

void CloseDialog(HWND dialog, HANDLE thread) {
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    ::WaitForSingleObject(thread, 30000);
    ::CloseHandle(thread);
}

std::wstring StatusText(HWND dialog) {
    wchar_t text[1200] = L"";
    HWND statusBar = ::GetDlgItem(dialog, IDC_STATUS_BAR);
    // Wine 8 answers a simple status bar's text only when asked for part 0.
    for (WPARAM part : {WPARAM{0}, WPARAM{SB_SIMPLEID}}) {
        if (LOWORD(::SendMessageW(statusBar, SB_GETTEXTLENGTHW, part, 0)) >= 1200) continue;
        ::SendMessageW(statusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text));
        if (text[0] != L'\0') break;
    }
    return text;
}

struct ScanResult {
    double milliseconds = 0;
    double worstRoundTrip = 0;
    int rows = 0;
    int probes = 0;
    bool complete = false;
};

void PrepareScan(HWND dialog, const std::wstring& folder) {
    ::SendMessageW(::GetDlgItem(dialog, IDC_SCAN_FOLDER), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    ::SendMessageW(::GetDlgItem(dialog, IDC_RECURSE), BM_SETCHECK, BST_CHECKED, 0);
    ::SendMessageW(::GetDlgItem(dialog, IDC_STATUS_BAR), SB_SETTEXTW, SB_SIMPLEID,
                   reinterpret_cast<LPARAM>(L"(bench) waiting"));
}

// Presses Scan and waits, sending the dialog nothing, until the scan has ended: the
// dialog publishes its abort event while a scan runs and withdraws it right after
// the status bar tells the end, so watching that needs no message and no hook (a
// hook on the dialog's thread would cost a round trip to Wine's server on every
// message the dialog sends its list).
ScanResult TimeQuietDialogScan(HWND dialog, const std::wstring& folder, const std::wstring& complete) {
    PrepareScan(dialog, folder);
    ScanResult result;
    const double start = Now();
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SCAN, BN_CLICKED), 0);
    // The press is handled in turn; the scans timed here last far longer than the
    // polls that see it begin.
    while (ScanAbortEvent.load() == nullptr) {
        if (Now() - start > kScanTimeoutMs) return result;
        ::Sleep(0);
    }
    while (ScanAbortEvent.load() != nullptr) {
        if (Now() - start > kScanTimeoutMs) return result;
        ::Sleep(1);
    }
    result.milliseconds = Now() - start;
    result.complete = StatusText(dialog) == complete;
    result.rows = static_cast<int>(::SendMessageW(::GetDlgItem(dialog, IDC_JUNCTION_LIST), LVM_GETITEMCOUNT, 0, 0));
    return result;
}

// Presses Scan and waits for "Scan complete", sending the dialog a message every
// few milliseconds meanwhile (the status text is read by the same probe).
ScanResult TimeDialogScan(HWND dialog, const std::wstring& folder, const std::wstring& complete) {
    wchar_t aborted[128] = L"";
    ::LoadStringW(AppInstance, IDS_SCAN_ABORTED, aborted, 128);
    PrepareScan(dialog, folder);
    ScanResult result;
    const double start = Now();
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SCAN, BN_CLICKED), 0);
    for (;;) {
        const double sent = Now();
        DWORD_PTR answer = 0;
        ::SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer);
        result.worstRoundTrip = std::max(result.worstRoundTrip, Now() - sent);
        ++result.probes;
        const std::wstring status = StatusText(dialog);
        if (status == complete) {
            result.milliseconds = Now() - start;
            result.complete = true;
            break;
        }
        if (status == aborted) break;
        if (Now() - start > kScanTimeoutMs) break;
        ::Sleep(kProbeIntervalMs);
    }
    result.rows = static_cast<int>(::SendMessageW(::GetDlgItem(dialog, IDC_JUNCTION_LIST), LVM_GETITEMCOUNT, 0, 0));
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    InitAppGlobals();
    const std::wstring base = argc > 1 ? argv[1] : L"N:\\manager-bench";
    const int rounds = argc > 2 ? std::max(0, _wtoi(argv[2])) : 5;  // 0: the row series only
    const std::vector<int> threadCounts = bench::ParseThreadCounts(argc > 3 ? argv[3] : L"1,2,4,8");
    const std::wstring tree = base + L"\\tree";
    if (!MakeFolder(base) || !BuildTree(tree, base + L"\\tree-target")) {
        std::fwprintf(stderr, L"could not build the tree in %ls (error %lu)\n", tree.c_str(), ::GetLastError());
        return 1;
    }
    wchar_t completeText[128] = L"";
    ::LoadStringW(AppInstance, IDS_SCAN_COMPLETE, completeText, 128);

    HANDLE thread = nullptr;
    HWND dialog = OpenDialog(&thread);
    if (dialog == nullptr) {
        std::fwprintf(stderr, L"the manager dialog did not open\n");
        return 1;
    }

    std::fwprintf(stderr, L"dialog open\n");
    long folders = 0;
    long found = 0;
    TimeBareWalk(tree, &folders);  // warms every cache first
    std::fwprintf(stderr, L"warm walk: %ld folders\n", folders);
    std::wprintf(L"tree: %ls, %ld folders with 500 junctions (%d expected), %d rounds\n", tree.c_str(), folders,
                 kTreeFolders, rounds);

    // Each round times the bare walk, the ordered library walk, and then, for each
    // thread count in turn, the pooled library walk and the dialog's scan, so that
    // every figure meets the same caches and the same load on the machine.
    std::vector<double> bare, seeing, library;
    std::vector<std::vector<double>> pooled(threadCounts.size()), stated(threadCounts.size()),
        scans(threadCounts.size());
    double worstRoundTrip = 0;
    int probes = 0;
    bool allRows = true;
    for (int round = 0; round < rounds; ++round) {
        bare.push_back(TimeBareWalk(tree, &folders));
        seeing.push_back(TimeSeeingWalk(tree));
        std::wprintf(L"round %d: bare walk %.0f ms; bare walk that also lists each folder through Linux, as the scan "
                     L"must under Wine, %.0f ms\n",
                     round + 1, bare.back(), seeing.back());
        library.push_back(TimeLibraryWalk(tree, &found));
        allRows = allRows && found == 500;
        for (std::size_t t = 0; t < threadCounts.size(); ++t) {
            SetPoolThreadCount(threadCounts[t]);
            // The walks and the dialog's scan take turns at going first: whichever
            // runs right after another may find more of the tree in a cache.
            ScanResult scan;
            const auto timeScan = [&] { scan = TimeQuietDialogScan(dialog, tree, completeText); };
            const auto timeWalks = [&] {
                pooled[t].push_back(TimePooledWalk(tree, threadCounts[t], &found));
                allRows = allRows && found == 500;
                stated[t].push_back(TimeStatePooledWalk(tree, threadCounts[t], &found));
                allRows = allRows && found == 500;
            };
            if (round % 2 == 0) {
                timeWalks();
                timeScan();
            } else {
                timeScan();
                timeWalks();
            }
            if (!scan.complete) {
                std::fwprintf(stderr, L"the scan did not complete\n");
                CloseDialog(dialog, thread);
                return 1;
            }
            scans[t].push_back(scan.milliseconds);
            allRows = allRows && scan.rows == 500;
            std::wprintf(L"round %d, %d thread(s): bare walk %.0f ms, ordered library walk %.0f ms, pooled library "
                         L"walk %.0f ms, the same with each link's state %.0f ms, dialog scan %.0f ms (%.3fx the bare "
                         L"walk, %.3fx the pooled walk, %.3fx the pooled walk with states), %d rows\n",
                         round + 1, threadCounts[t], bare.back(), library.back(), pooled[t].back(), stated[t].back(),
                         scans[t].back(), scans[t].back() / bare.back(), scans[t].back() / pooled[t].back(),
                         scans[t].back() / stated[t].back(), scan.rows);
            std::fflush(stdout);
        }
        SetPoolThreadCount(0);
        const ScanResult probed = TimeDialogScan(dialog, tree, completeText);
        worstRoundTrip = std::max(worstRoundTrip, probed.worstRoundTrip);
        probes += probed.probes;
        allRows = allRows && probed.complete && probed.rows == 500;
        std::wprintf(L"round %d, probed scan with the machine's %d threads: %.0f ms (%.3fx the bare walk), worst round "
                     L"trip %.1f ms over %d messages\n",
                     round + 1, PoolThreadCount(), probed.milliseconds, probed.milliseconds / bare.back(),
                     probed.worstRoundTrip, probed.probes);
        std::fflush(stdout);
    }
    SetPoolThreadCount(0);
    if (rounds > 0) {
        const double bareMedian = bench::Median(bare);
        std::wprintf(L"median of %d rounds: bare walk %.0f ms, ordered library walk %.0f ms (%.3fx)\n", rounds,
                     bareMedian, bench::Median(library), bench::Median(library) / bareMedian);
        for (std::size_t t = 0; t < threadCounts.size(); ++t) {
            std::vector<double> ratios;
            for (std::size_t i = 0; i < bare.size(); ++i) ratios.push_back(scans[t][i] / bare[i]);
            std::wprintf(L"  %d thread(s): pooled library walk %.0f ms (%.3fx), with each link's state %.0f ms, dialog "
                         L"scan to \"%ls\" %.0f ms: %.3fx the bare walk (median of the rounds' ratios %.3f; target "
                         L"at most 1), %.3fx the pooled walk and %.3fx the pooled walk with states (target 1.1)\n",
                         threadCounts[t], bench::Median(pooled[t]), bench::Median(pooled[t]) / bareMedian,
                         bench::Median(stated[t]), completeText, bench::Median(scans[t]),
                         bench::Median(scans[t]) / bareMedian, bench::Median(ratios),
                         bench::Median(scans[t]) / bench::Median(pooled[t]),
                         bench::Median(scans[t]) / bench::Median(stated[t]));
        }
        const double seeingMedian = bench::Median(seeing);
        std::wprintf(L"bare walk that also lists each folder through Linux: %.0f ms; the dialog's scan against it:",
                     seeingMedian);
        for (std::size_t t = 0; t < threadCounts.size(); ++t) {
            std::wprintf(L" %d thread(s) %.3fx", threadCounts[t], bench::Median(scans[t]) / seeingMedian);
        }
        std::wprintf(L"\n");
        std::wprintf(L"dialog answered %d messages during the probed scans; worst round trip %.1f ms (target 100 ms)\n",
                     probes, worstRoundTrip);
        std::wprintf(L"every walk and scan found all 500 junctions: %ls\n", allRows ? L"yes" : L"NO");
    }

    std::wprintf(L"\nrows: one folder of N junctions, scanned by the dialog\n");
    for (int count : kRowCounts) {
        const std::wstring flat = base + L"\\flat" + std::to_wstring(count);
        if (!BuildFlatFolder(flat, base + L"\\flat-target", count)) {
            std::fwprintf(stderr, L"could not build %ls (error %lu)\n", flat.c_str(), ::GetLastError());
            break;
        }
        TimeBareWalk(flat, &folders);
        std::vector<double> flatBare, flatLibrary, flatStated, flatQuiet, flatScans;
        double flatWorst = 0;
        int rows = 0;
        for (int round = 0; round < 3; ++round) {
            flatBare.push_back(TimeBareWalk(flat, &folders));
            flatLibrary.push_back(TimeLibraryWalk(flat, &found));
            flatStated.push_back(TimeStatePooledWalk(flat, PoolThreadCount(), &found));
            flatQuiet.push_back(TimeQuietDialogScan(dialog, flat, completeText).milliseconds);
            const ScanResult scan = TimeDialogScan(dialog, flat, completeText);
            flatScans.push_back(scan.milliseconds);
            flatWorst = std::max(flatWorst, scan.worstRoundTrip);
            rows = scan.rows;
        }
        const double scan = bench::Median(flatScans);
        const double walk = bench::Median(flatLibrary);
        std::wprintf(L"%5d junctions: bare walk %.0f ms, library walk %.0f ms, pooled walk with each link's state "
                     L"%.0f ms, quiet dialog scan %.0f ms, probed dialog scan %.0f ms (%.3f ms per row, %.3f ms per row "
                     L"above the library walk), %d rows, worst round trip %.1f ms\n",
                     count, bench::Median(flatBare), walk, bench::Median(flatStated), bench::Median(flatQuiet), scan,
                     scan / count, (scan - walk) / count, rows, flatWorst);
    }

    CloseDialog(dialog, thread);
    return allRows ? 0 : 1;
}
