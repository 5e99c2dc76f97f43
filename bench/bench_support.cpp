#include "bench/bench_support.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>

#include "base/work_pool.h"

namespace bench {

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long BareWalk(wchar_t* path, std::size_t length, FolderStep afterFolder, const void* context) {
    if (length + 5 > 1024) return 0;
    std::wcscpy(path + length, L"\\*.*");
    WIN32_FIND_DATAW entry;
    HANDLE listing = ::FindFirstFileW(path, &entry);
    path[length] = 0;
    if (listing == INVALID_HANDLE_VALUE) return 0;
    long folders = 0;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
        if (entry.cFileName[0] == L'.' &&
            (entry.cFileName[1] == 0 || (entry.cFileName[1] == L'.' && entry.cFileName[2] == 0))) {
            continue;
        }
        ++folders;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
        const std::size_t nameLength = std::wcslen(entry.cFileName);
        if (length + 1 + nameLength + 1 > 1024) continue;
        path[length] = L'\\';
        std::wcscpy(path + length + 1, entry.cFileName);
        folders += BareWalk(path, length + 1 + nameLength, afterFolder, context);
        path[length] = 0;
    } while (::FindNextFileW(listing, &entry));
    ::FindClose(listing);
    if (afterFolder != nullptr) afterFolder(path, context);
    return folders;
}

std::vector<int> ParseThreadCounts(const wchar_t* list) {
    std::vector<int> counts;
    for (const wchar_t* at = list; *at != 0;) {
        const int count = _wtoi(at);
        if (count >= 1 && count <= kMaxPoolThreads) counts.push_back(count);
        while (*at != 0 && *at != L',') ++at;
        if (*at == L',') ++at;
    }
    if (counts.empty()) counts.push_back(PoolThreadCount());
    return counts;
}

}  // namespace bench
