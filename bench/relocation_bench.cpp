// Relocation benchmark: the access scan over a large tree against a bare loop that
// opens and closes each file once, and against the same loop writing the scan's
// debug line for each file, all measured in the same run; the scan's peak memory
// on a small and on the large tree; and a relocation of the tree by rename within
// one volume, split into scan, move, emptiness check and junction. Each folder of
// the large tree holds a junction out of the tree as well, which the scan records
// with its reparse data (and never enters).
//
// Then the same scan as the dialog runs it now, pumping its messages while it
// waits, with another thread sending the window a message every few milliseconds:
// the worst round trip and the scan's time against the same baseline. Last, the
// relocated tree is moved back through the engine (by rename, within one volume).
//
// The scan runs with each of several thread counts (default 1, 2, 4 and 8), rounds
// alternating with the bare loop.
//
// Usage: relocation_bench [file count (default 50000)] [drive (default N:)] [rounds (default 5)]
//                         [thread counts (default 1,2,4,8)]
// The destination is the second drive letter of the same volume (M:).
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "base/work_pool.h"
#include "bench/bench_support.h"
#include "ui/app_globals.h"
#include "junction/junction.h"
#include "engine/access_scan.h"
#include "ui/scan_status.h"
#include "engine/folder_move.h"
#include "engine/move_back.h"
#include "ui/live_scan.h"

namespace {

constexpr int kFilesPerFolder = 500;

double NowMs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double PeakMegabytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return static_cast<double>(std::max(counters.PeakPagefileUsage, counters.PeakWorkingSetSize)) / (1024.0 * 1024.0);
}

std::wstring FolderName(int index) {
    wchar_t name[16];
    ::wsprintfW(name, L"d%04d", index);
    return name;
}

std::wstring FileName(int index) {
    wchar_t name[16];
    ::wsprintfW(name, L"f%06d.dat", index);
    return name;
}

constexpr wchar_t kLinkName[] = L"link out";

bool MakeTree(const std::wstring& root, int fileCount, const std::wstring& linkTarget) {
    ::CreateDirectoryW(root.c_str(), nullptr);
    for (int i = 0; i < fileCount; ++i) {
        const std::wstring folder = root + L"\\" + FolderName(i / kFilesPerFolder);
        if (i % kFilesPerFolder == 0) {
            ::CreateDirectoryW(folder.c_str(), nullptr);
            if (!linkTarget.empty() && !CreateJunction((folder + L"\\" + kLinkName).c_str(), linkTarget.c_str())) {
                return false;
            }
        }
        HANDLE file = ::CreateFileW((folder + L"\\" + FileName(i)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        DWORD written = 0;
        ::WriteFile(file, "dirshift bench\r\n", 16, &written, nullptr);
        ::CloseHandle(file);
    }
    return true;
}

std::vector<std::wstring> TreeFiles(const std::wstring& root, int fileCount) {
    std::vector<std::wstring> paths;
    paths.reserve(static_cast<size_t>(fileCount));
    for (int i = 0; i < fileCount; ++i) {
        paths.push_back(root + L"\\" + FolderName(i / kFilesPerFolder) + L"\\" + FileName(i));
    }
    return paths;
}

// Opens `path` as the access scan does, for reading and writing with full sharing,
// and closes it.
void OpenAndClose(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
}

// The baseline: every file opened for reading and writing and closed, nothing else.
double BareOpenCloseMs(const std::vector<std::wstring>& paths) {
    const double start = NowMs();
    for (const auto& path : paths) {
        OpenAndClose(path);
    }
    return NowMs() - start;
}

// The bare loop plus the one debug line per file that the scan must write: what
// those lines alone add to the loop on this platform, so that the scan's own cost
// beyond them can be told apart.
double OpenCloseWithLineMs(const std::vector<std::wstring>& paths) {
    const double start = NowMs();
    for (const auto& path : paths) {
        OpenAndClose(path);
        DebugLineF(L"Scanning for access: %s", path.c_str());
    }
    return NowMs() - start;
}

// The same loop shared by `threads` threads taking the next file from one counter:
// what the platform gives parallel opens at best, with no scan around them.
struct SharedLoop {
    const std::vector<std::wstring>* paths = nullptr;
    std::atomic<std::size_t> next{0};
};

DWORD WINAPI SharedLoopThread(void* parameter) {
    SharedLoop& loop = *static_cast<SharedLoop*>(parameter);
    for (std::size_t i = loop.next++; i < loop.paths->size(); i = loop.next++) {
        OpenAndClose((*loop.paths)[i]);
    }
    return 0;
}

double SharedOpenCloseMs(const std::vector<std::wstring>& paths, int threads) {
    SharedLoop loop;
    loop.paths = &paths;
    std::vector<HANDLE> workers;
    const double start = NowMs();
    for (int i = 1; i < threads; ++i) {  // this thread is the first
        if (HANDLE worker = ::CreateThread(nullptr, 0, SharedLoopThread, &loop, 0, nullptr)) workers.push_back(worker);
    }
    SharedLoopThread(&loop);
    if (!workers.empty()) {
        ::WaitForMultipleObjects(static_cast<DWORD>(workers.size()), workers.data(), TRUE, INFINITE);
    }
    const double elapsed = NowMs() - start;
    for (HANDLE worker : workers) ::CloseHandle(worker);
    return elapsed;
}

// The scan as the relocation runs it: a worker thread posting to a status bar on
// this thread, which takes the texts once the worker has ended.
double AccessScanMs(const std::wstring& root, DWORD& exitCode) {
    ScanSourceFolder = root;
    const double start = NowMs();
    HANDLE worker = ::CreateThread(nullptr, 0, AccessScanThread, nullptr, 0, nullptr);
    ::WaitForSingleObject(worker, INFINITE);
    ::GetExitCodeThread(worker, &exitCode);
    ::CloseHandle(worker);
    DeliverScanProgress();
    return NowMs() - start;
}

class SilentProgress : public AccessScanProgress {
public:
    void OnTesting(const std::wstring&) override {}
    void OnStopped(const std::wstring&) override {}
    void OnPassed() override {}
};

// Sends `window` a message every few milliseconds from its own thread until told to
// stop, keeping the slowest answer.
struct RoundTripProbe {
    HWND window = nullptr;
    std::atomic<bool> stop{false};
    double worstMs = 0;
    int sent = 0;
};

DWORD WINAPI ProbeThread(void* parameter) {
    RoundTripProbe& probe = *static_cast<RoundTripProbe*>(parameter);
    while (!probe.stop.load()) {
        const double sent = NowMs();
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(probe.window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
        probe.worstMs = std::max(probe.worstMs, NowMs() - sent);
        ++probe.sent;
        ::Sleep(10);
    }
    return 0;
}

// The scan as the dialog runs it: the window's thread pumps while the worker scans.
// With a null `probe` nothing else talks to the window: the scan's own time.
double LiveScanMs(HWND window, const std::wstring& root, RoundTripProbe* probe, bool& passed) {
    LiveScanProgress progress(window);
    AccessScanFindings findings;
    HANDLE thread = nullptr;
    if (probe != nullptr) {
        probe->window = window;
        probe->stop = false;
        thread = ::CreateThread(nullptr, 0, ProbeThread, probe, 0, nullptr);
    }
    const double start = NowMs();
    passed = RunAccessScan(root, progress, findings) == AccessScanOutcome::Passed;
    const double elapsed = NowMs() - start;
    if (probe != nullptr) probe->stop = true;
    if (thread != nullptr) {
        // The probe's last message needs this thread to answer it.
        while (::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        }
        ::CloseHandle(thread);
    }
    return elapsed;
}

// Answers Yes to every question and prints every message of the move back.
class BenchObserver : public RelocationObserver {
public:
    explicit BenchObserver(HWND window) : progress_(window) {}
    AccessScanProgress& ScanProgress() override { return progress_; }
    void OnScanEnded() override {}
    bool Confirm(RelocationMessage, const RelocationFacts&) override { return true; }
    void Report(RelocationMessage message, const RelocationFacts&) override {
        std::wprintf(L"  (move back message %d)\n", static_cast<int>(message));
    }

private:
    LiveScanProgress progress_;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void RemoveTree(const std::wstring& root) {
    WIN32_FIND_DATAW entry;
    HANDLE listing = ::FindFirstFileW((root + L"\\*").c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = root + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(listing, &entry));
        ::FindClose(listing);
    }
    ::RemoveDirectoryW(root.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int fileCount = argc > 1 ? std::max(1000, _wtoi(argv[1])) : 50000;
    const std::wstring drive = argc > 2 ? argv[2] : L"N:";
    const int rounds = argc > 3 ? std::max(1, _wtoi(argv[3])) : 5;
    const std::vector<int> threadCounts = bench::ParseThreadCounts(argc > 4 ? argv[4] : L"1,2,4,8");
    InitAppGlobals();
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    HWND host = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 100, nullptr, nullptr, nullptr, nullptr);
    StatusBarWindow = ::CreateStatusWindowW(WS_CHILD | WS_VISIBLE, L"Status", host, 4883);

    const std::wstring work = drive + L"\\dirshift-bench-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring small = work + L"\\small";
    const std::wstring tree = work + L"\\tree";
    const std::wstring target = L"M:\\dirshift-bench-" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(work.c_str(), nullptr);
    const int smallCount = fileCount / 10;

    std::wprintf(L"relocation_bench: %d files in folders of %d on %ls\n", fileCount, kFilesPerFolder, drive.c_str());
    double start = NowMs();
    const std::wstring outside = work + L"\\outside";
    ::CreateDirectoryW(outside.c_str(), nullptr);
    if (!MakeTree(small, smallCount, L"") || !MakeTree(tree, fileCount, outside)) {
        std::wprintf(L"cannot create the test tree below %ls (is the test volume mounted?)\n", work.c_str());
        return 1;
    }
    std::wprintf(L"  tree created in %.0f ms\n", NowMs() - start);

    // Memory first, before the baseline's own path list is built.
    DWORD exitCode = 0;
    AccessScanMs(small, exitCode);
    const double peakSmall = PeakMegabytes();
    AccessScanMs(tree, exitCode);
    const double peakLarge = PeakMegabytes();
    std::wprintf(L"  peak memory: %.1f MB after scanning %d files, %.1f MB after %d files (growth %.2f MB)\n",
                 peakSmall, smallCount, peakLarge, fileCount, peakLarge - peakSmall);

    // Rounds alternate: the bare loop, then the scan with each thread count, the
    // order rotating every round, so that all meet the same caches and load.
    const std::vector<std::wstring> paths = TreeFiles(tree, fileCount);
    std::vector<double> bare;
    std::vector<double> withLine;
    std::vector<std::vector<double>> scans(threadCounts.size());
    std::vector<std::vector<double>> shared(threadCounts.size());
    for (int round = 0; round < rounds; ++round) {
        // Turns: the bare loop, the bare loop with the scan's debug lines, the scan
        // with each thread count, and the bare loop shared by each thread count's
        // threads.
        const int counts = static_cast<int>(threadCounts.size());
        const int turns = 2 + 2 * counts;
        double bareMs = 0;
        double withLineMs = 0;
        std::vector<double> scanMs(threadCounts.size(), 0.0);
        std::vector<double> sharedMs(threadCounts.size(), 0.0);
        for (int turn = 0; turn < turns; ++turn) {
            const int which = (turn + round) % turns;
            if (which == 0) {
                bareMs = BareOpenCloseMs(paths);
                continue;
            }
            if (which == 1) {
                withLineMs = OpenCloseWithLineMs(paths);
                continue;
            }
            const std::size_t t = static_cast<std::size_t>((which - 2) % counts);
            if (which - 1 > counts) {
                sharedMs[t] = SharedOpenCloseMs(paths, threadCounts[t]);
                continue;
            }
            SetPoolThreadCount(threadCounts[t]);
            scanMs[t] = AccessScanMs(tree, exitCode);
            if (exitCode != 1) std::wprintf(L"  the scan failed (exit code %lu)\n", exitCode);
        }
        bare.push_back(bareMs);
        withLine.push_back(withLineMs);
        std::wprintf(L"  round %d: bare open+close loop %.0f ms, with a debug line per file %.0f ms", round + 1, bareMs,
                     withLineMs);
        for (std::size_t t = 0; t < threadCounts.size(); ++t) {
            scans[t].push_back(scanMs[t]);
            shared[t].push_back(sharedMs[t]);
            std::wprintf(L", access scan x%d %.0f ms (ratio %.3f), bare loop shared by %d %.0f ms (ratio %.3f)",
                         threadCounts[t], scanMs[t], scanMs[t] / bareMs, threadCounts[t], sharedMs[t],
                         sharedMs[t] / bareMs);
        }
        std::wprintf(L"\n");
        std::fflush(stdout);
    }
    SetPoolThreadCount(0);
    const double bareMs = Median(bare);
    std::wprintf(L"  bare open+close loop: %.0f ms median of %d rounds (%.1f us/file)\n", bareMs, rounds,
                 1000.0 * bareMs / fileCount);
    const double withLineMs = Median(withLine);
    std::wprintf(L"  bare loop with the scan's debug line per file: %.0f ms (%.1f us/file), ratio %.3fx the bare loop\n",
                 withLineMs, 1000.0 * withLineMs / fileCount, withLineMs / bareMs);
    double scanMs = 0;
    for (std::size_t t = 0; t < threadCounts.size(); ++t) {
        std::vector<double> ratios;
        for (std::size_t i = 0; i < bare.size(); ++i) ratios.push_back(scans[t][i] / bare[i]);
        const double median = Median(scans[t]);
        if (threadCounts[t] == PoolThreadCount()) scanMs = median;
        std::vector<double> lineRatios;
        for (std::size_t i = 0; i < withLine.size(); ++i) lineRatios.push_back(scans[t][i] / withLine[i]);
        std::wprintf(L"  access scan, %d thread(s): %.0f ms (%.1f us/file), ratio %.3fx the bare loop (median of the "
                     L"rounds' ratios %.3f; target 0.75), %.3fx the loop with debug lines (median of the rounds' "
                     L"ratios %.3f)\n",
                     threadCounts[t], median, 1000.0 * median / fileCount, median / bareMs, Median(ratios),
                     median / withLineMs, Median(lineRatios));
        std::vector<double> sharedRatios;
        for (std::size_t i = 0; i < bare.size(); ++i) sharedRatios.push_back(shared[t][i] / bare[i]);
        std::wprintf(L"  bare loop shared by %d thread(s): %.0f ms, median of the rounds' ratios %.3f (what parallel "
                     L"opens give on this platform)\n",
                     threadCounts[t], Median(shared[t]), Median(sharedRatios));
    }
    if (scanMs == 0) scanMs = Median(scans.back());
    std::vector<double> live;
    double worstRoundTripMs = 0;
    int probes = 0;
    std::vector<double> probed;
    for (int round = 0; round < 3; ++round) {
        bool livePassed = false;
        live.push_back(LiveScanMs(host, tree, nullptr, livePassed));
        RoundTripProbe probe;
        probed.push_back(LiveScanMs(host, tree, &probe, livePassed));
        if (!livePassed) std::wprintf(L"  the live scan failed\n");
        worstRoundTripMs = std::max(worstRoundTripMs, probe.worstMs);
        probes += probe.sent;
    }
    const double liveMs = Median(live);
    std::wprintf(L"  live scan (pumping):  %.0f ms (%.1f us/file)  ratio %.2fx\n", liveMs, 1000.0 * liveMs / fileCount,
                 liveMs / bareMs);
    std::wprintf(L"  live scan, probed:    %.0f ms; worst round trip %.1f ms over %d messages (one every 10 ms)\n",
                 Median(probed), worstRoundTripMs, probes);
    SilentProgress progress;
    AccessScanFindings findings;
    const bool passed = ScanForAccess(tree, L"*", progress, findings);
    std::wprintf(L"  the scan %ls: %llu bytes to move, %u links recorded\n", passed ? L"passed" : L"FAILED",
                 static_cast<unsigned long long>(findings.totalBytes), static_cast<unsigned>(findings.links.size()));

    // The relocation takes links out before the shell moves the files.
    for (int folder = 0; folder * kFilesPerFolder < fileCount; ++folder) {
        if (!RemoveJunction((tree + L"\\" + FolderName(folder) + L"\\" + kLinkName).c_str())) {
            std::wprintf(L"  a link could not be taken out\n");
        }
    }

    // The relocation's own steps, as the command runs them after its checks.
    std::vector<std::wstring> movedNames;
    if (!ListFolderEntries(tree, movedNames)) {
        std::wprintf(L"  the tree could not be listed\n");
        return 1;
    }
    ::CreateDirectoryW(target.c_str(), nullptr);
    std::wstring from = tree + L"\\*.*";
    from += L'\0';
    std::wstring to = target;
    to += L'\0';
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_MOVE;
    operation.pFrom = from.c_str();
    operation.pTo = to.c_str();
    operation.fFlags = FOF_NOCONFIRMMKDIR | FOF_SILENT;
    start = NowMs();
    const int moveResult = ::SHFileOperationW(&operation);
    const double moveMs = NowMs() - start;
    start = NowMs();
    const bool empty = FolderIsEmpty(tree);
    const double checkMs = NowMs() - start;
    start = NowMs();
    const bool junction = ::RemoveDirectoryW(tree.c_str()) && CreateJunction(tree.c_str(), target.c_str());
    const double junctionMs = NowMs() - start;
    std::wprintf(L"  relocation by rename: scan %.0f ms, move %.0f ms (result %d), emptiness check %.1f ms (%ls), "
                 L"junction %.1f ms (%ls)\n",
                 scanMs, moveMs, moveResult, checkMs, empty ? L"empty" : L"NOT EMPTY", junctionMs,
                 junction ? L"made" : L"FAILED");

    bool movedBack = false;
    if (junction) {
        BenchObserver observer(host);
        MoveBackRequest request;
        request.junction = tree;
        start = NowMs();
        movedBack = RunMoveBack(request, observer) == MoveBackResult::Completed;
        std::wprintf(L"  move back by rename: %.0f ms (%ls)\n", NowMs() - start, movedBack ? L"done" : L"FAILED");
    }
    if (junction && !movedBack && !RemoveJunction(tree.c_str())) {
        std::wprintf(L"  the junction could not be removed\n");
    }
    RemoveTree(target);
    RemoveTree(work);
    ::DestroyWindow(host);
    return moveResult == 0 && empty && junction && movedBack ? 0 : 1;
}
