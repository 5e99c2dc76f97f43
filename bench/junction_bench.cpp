// FindJunctions against the cheapest walk that could find the same junctions: a
// bare FindFirstFileW/FindNextFileW recursion over the same tree, in the same run,
// rounds alternating. Prints both times, their ratio, and how many heap
// allocations (operator new) the walk made.
//
// The pooled walk, with each thread count given, takes its turn beside them.
//
// Usage: junction_bench [folder] [rounds] [thread counts, default 1,2,4,8]. The folder (default N:\junction-bench,
// the NTFS test drive) receives a tree of 20,520 folders holding 500 junctions;
// an existing tree there is reused. Run it without a debugger attached: the walk
// writes one debug line per folder, which is cheap only when nobody listens.
#include "bench/bench_support.h"
#include "junction/junction.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <vector>

namespace {
std::atomic<long> heapAllocations{0};
}  // namespace

void* operator new(std::size_t size) {
    ++heapAllocations;
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace {

constexpr int kTopFolders = 20;
constexpr int kMiddleFolders = 25;  // each holds one junction: 500 junctions
constexpr int kLeafFolders = 40;
constexpr int kTreeFolders = kTopFolders + kTopFolders * kMiddleFolders * (1 + kLeafFolders);

bool MakeFolder(const wchar_t* path) {
    return ::CreateDirectoryW(path, nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

bool BuildTree(const wchar_t* root, const wchar_t* target) {
    wchar_t marker[MAX_PATH];
    std::swprintf(marker, MAX_PATH, L"%ls\\complete.txt", root);
    if (::GetFileAttributesW(marker) != INVALID_FILE_ATTRIBUTES) return true;

    wchar_t path[MAX_PATH];
    if (!MakeFolder(root) || !MakeFolder(target)) return false;
    std::swprintf(path, MAX_PATH, L"%ls\\inside", target);
    MakeFolder(path);
    for (int top = 0; top < kTopFolders; ++top) {
        std::swprintf(path, MAX_PATH, L"%ls\\t%02d", root, top);
        if (!MakeFolder(path)) return false;
        for (int middle = 0; middle < kMiddleFolders; ++middle) {
            std::swprintf(path, MAX_PATH, L"%ls\\t%02d\\m%02d", root, top, middle);
            if (!MakeFolder(path)) return false;
            for (int leaf = 0; leaf < kLeafFolders; ++leaf) {
                std::swprintf(path, MAX_PATH, L"%ls\\t%02d\\m%02d\\leaf%02d", root, top, middle, leaf);
                if (!MakeFolder(path)) return false;
            }
            std::swprintf(path, MAX_PATH, L"%ls\\t%02d\\m%02d\\link", root, top, middle);
            if (!CreateJunction(path, target)) return false;
        }
        std::fwprintf(stderr, L"built %d of %d top folders\n", top + 1, kTopFolders);
    }
    HANDLE file = ::CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

struct WalkCounts {
    long found = 0;
    long polls = 0;
};

bool CountVisit(std::uintptr_t context, const wchar_t* path, const wchar_t*, DWORD) {
    auto* counts = reinterpret_cast<WalkCounts*>(context);
    if (path != nullptr) {
        ++counts->found;
    } else {
        ++counts->polls;
    }
    return true;
}

struct SharedCounts {
    std::atomic<long> found{0};
};

bool CountVisitShared(std::uintptr_t context, const wchar_t* path, const wchar_t*, DWORD) {
    if (path != nullptr) ++reinterpret_cast<SharedCounts*>(context)->found;
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const wchar_t* root = argc > 1 ? argv[1] : L"N:\\junction-bench";
    const int rounds = argc > 2 ? std::max(1, _wtoi(argv[2])) : 5;
    const std::vector<int> threadCounts = bench::ParseThreadCounts(argc > 3 ? argv[3] : L"1,2,4,8");
    wchar_t target[MAX_PATH];
    std::swprintf(target, MAX_PATH, L"%ls-target", root);

    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    if (!BuildTree(root, target)) {
        std::fwprintf(stderr, L"could not build the tree in %ls (error %lu)\n", root, ::GetLastError());
        return 1;
    }
    ::QueryPerformanceCounter(&end);
    std::wprintf(L"tree: %ls, %d folders with %d junctions (ready in %.0f ms)\n", root, kTreeFolders,
                 kTopFolders * kMiddleFolders, bench::Milliseconds(start, end));

    // The two walks take turns folder by folder (one top folder of the tree at a
    // time, the order swapped every time), so that both meet the same state of
    // the file system's caches and the same load on the machine; each round sums
    // the times over the whole tree.
    wchar_t path[1024];
    std::wcscpy(path, root);
    const long bareFolders = bench::BareWalk(path, std::wcslen(path));  // warms every cache first
    std::vector<double> bare, walk;
    std::vector<std::vector<double>> pooled(threadCounts.size());
    WalkCounts counts;
    long allocations = 0;
    for (int round = 0; round < rounds; ++round) {
        double bareSum = 0;
        double walkSum = 0;
        std::vector<double> pooledSums(threadCounts.size(), 0.0);
        WalkCounts roundCounts;
        bool pooledFoundAll = true;
        for (int top = 0; top < kTopFolders; ++top) {
            wchar_t folder[MAX_PATH];
            std::swprintf(folder, MAX_PATH, L"%ls\\t%02d", root, top);
            // The bare walk, the ordered walk and the pooled walks in a turn that
            // rotates with every folder.
            const int turns = 2 + static_cast<int>(threadCounts.size());
            for (int turn = 0; turn < turns; ++turn) {
                const int which = (turn + round + top) % turns;
                if (which == 0) {
                    std::wcscpy(path, folder);
                    ::QueryPerformanceCounter(&start);
                    bench::BareWalk(path, std::wcslen(path));
                    ::QueryPerformanceCounter(&end);
                    bareSum += bench::Milliseconds(start, end);
                } else if (which == 1) {
                    const long before = heapAllocations;
                    ::QueryPerformanceCounter(&start);
                    FindJunctions(folder, CountVisit, reinterpret_cast<std::uintptr_t>(&roundCounts), true);
                    ::QueryPerformanceCounter(&end);
                    allocations += heapAllocations - before;
                    walkSum += bench::Milliseconds(start, end);
                } else {
                    const std::size_t t = static_cast<std::size_t>(which - 2);
                    SharedCounts shared;
                    ::QueryPerformanceCounter(&start);
                    FindJunctionsPooled(folder, CountVisitShared, reinterpret_cast<std::uintptr_t>(&shared), true,
                                        threadCounts[t]);
                    ::QueryPerformanceCounter(&end);
                    pooledSums[t] += bench::Milliseconds(start, end);
                    pooledFoundAll = pooledFoundAll && shared.found == kMiddleFolders;
                }
            }
        }
        bare.push_back(bareSum);
        walk.push_back(walkSum);
        counts = roundCounts;
        std::wprintf(L"round %d: bare %.1f ms, FindJunctions %.1f ms (ratio %.3f)", round, bareSum, walkSum,
                     walkSum / bareSum);
        for (std::size_t t = 0; t < threadCounts.size(); ++t) {
            pooled[t].push_back(pooledSums[t]);
            std::wprintf(L", pooled x%d %.1f ms (ratio %.3f)", threadCounts[t], pooledSums[t], pooledSums[t] / bareSum);
        }
        std::wprintf(L"%ls\n", pooledFoundAll ? L"" : L" (a pooled walk MISSED junctions)");
        std::fflush(stdout);
    }

    // What the walk's one debug line per folder costs on this platform, alone.
    ::QueryPerformanceCounter(&start);
    for (long i = 0; i < counts.polls + counts.found; ++i) ::OutputDebugStringW(L"N:\\junction-bench\\t07\\m11\\leaf23");
    ::QueryPerformanceCounter(&end);
    const double debugLines = bench::Milliseconds(start, end);

    const double bareMedian = bench::Median(bare);
    const double walkMedian = bench::Median(walk);
    std::wprintf(L"bare FindFirstFileW walk : %8.1f ms median of %d (%ld folders)\n", bareMedian, rounds, bareFolders);
    std::wprintf(L"FindJunctions, recursive : %8.1f ms median of %d (%ld junctions, %ld polls + 20 start folders)\n",
                 walkMedian, rounds, counts.found, counts.polls);
    std::vector<double> ratios;
    for (std::size_t i = 0; i < bare.size(); ++i) ratios.push_back(walk[i] / bare[i]);
    std::wprintf(L"ratio, median of rounds  : %8.3f (target: within 1.15)\n", bench::Median(ratios));
    std::wprintf(L"ratio of the medians     : %8.3f\n", walkMedian / bareMedian);
    for (std::size_t t = 0; t < threadCounts.size(); ++t) {
        std::vector<double> pooledRatios;
        for (std::size_t i = 0; i < bare.size(); ++i) pooledRatios.push_back(pooled[t][i] / bare[i]);
        std::wprintf(L"FindJunctionsPooled x%d   : %8.1f ms median, ratio to the bare walk %.3f (median of rounds)\n",
                     threadCounts[t], bench::Median(pooled[t]), bench::Median(pooledRatios));
    }
    std::wprintf(L"fastest rounds           : %8.1f ms bare, %.1f ms FindJunctions, ratio %.3f\n",
                 *std::min_element(bare.begin(), bare.end()), *std::min_element(walk.begin(), walk.end()),
                 *std::min_element(walk.begin(), walk.end()) / *std::min_element(bare.begin(), bare.end()));
    std::wprintf(L"of which debug lines     : %8.1f ms (%ld lines written alone)\n", debugLines,
                 counts.polls + counts.found);
    std::wprintf(L"heap allocations in walk : %ld (all rounds)\n", allocations);
    return 0;
}
