// Folders, files and a recording visitor for the junction tests on the test drives.
#pragma once

#include <windows.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace junction_test {

// A new, uniquely named folder path on `drive` (not created): tests never share
// folders, whatever ran before on the volume.
std::wstring UniquePath(const wchar_t* drive, const wchar_t* stem);

// Creates the folder and any missing parents; long paths go through "\\?\".
void MakeFolders(const std::wstring& path);
void WriteTextFile(const std::wstring& path, const std::string& text);
// The file's content, or "<missing>" when it cannot be read.
std::string ReadTextFile(const std::wstring& path);
bool Exists(const std::wstring& path);

// "\??\" + the full path: what a junction made by CreateJunction stores.
std::wstring NtName(const std::wstring& fullPath);

struct Visit {
    bool found;           // false: a poll
    std::wstring path;    // empty for a poll
    std::wstring target;  // empty for a poll
    DWORD tag;
};

bool operator==(const Visit& a, const Visit& b);
void PrintTo(const Visit& visit, std::ostream* os);

// A JunctionVisitor context: records every call and answers false on call
// number `stopAt` (1-based; 0 never stops).
struct VisitLog {
    std::vector<Visit> visits;
    std::size_t stopAt = 0;
    std::uintptr_t context() { return reinterpret_cast<std::uintptr_t>(this); }
};
bool RecordVisit(std::uintptr_t context, const wchar_t* path, const wchar_t* target, DWORD tag);

}  // namespace junction_test
