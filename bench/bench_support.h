// Pieces every benchmark shares: its clock, its summary, and the baseline walk that
// the folder walks are measured against.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

namespace bench {

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to);
double Median(std::vector<double> values);

// The baseline: list every folder below `path` (a buffer of 1024 characters holding
// `length` of them), count its sub-folders, and enter those that are not reparse
// points. Nothing else. Returns the number of sub-folders seen. With `afterFolder`,
// it is also called with each folder once its listing is done.
using FolderStep = void (*)(const wchar_t* folder, const void* context);
long BareWalk(wchar_t* path, std::size_t length, FolderStep afterFolder = nullptr, const void* context = nullptr);

// A list of thread counts such as "1,2,4"; counts outside 1..kMaxPoolThreads are
// left out, and an empty list gives the machine's count.
std::vector<int> ParseThreadCounts(const wchar_t* list);

}  // namespace bench
