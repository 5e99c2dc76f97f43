// Small file trees for the relocation tests: build one from a list of files, take
// a snapshot of every file's checksum, and remove a tree again.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace relocation_testing {

struct TreeFile {
    std::wstring relativePath;  // "sub\deep\a.txt"; folders are created on the way
    std::string content;
    DWORD attributes = 0;  // FILE_ATTRIBUTE_HIDDEN, _SYSTEM, _READONLY, or 0
};

// relative path (upper case) -> checksum of the content, for every file below a root
using TreeSnapshot = std::map<std::wstring, std::uint64_t>;

// Creates `root` (and its parents) and the files in it.
void MakeTree(const std::wstring& root, const std::vector<TreeFile>& files);
void WriteTextFile(const std::wstring& path, const std::string& content);

// Every file below `root`, found through the Windows API (junctions followed).
TreeSnapshot SnapshotTree(const std::wstring& root);

// What a copy must keep of each entry besides its content: the attributes that
// change how programs treat it, and its last-write time.
struct EntryDetails {
    DWORD attributes = 0;  // read-only, hidden, system, directory
    ULONGLONG lastWrite = 0;
    bool operator==(const EntryDetails& other) const {
        return attributes == other.attributes && lastWrite == other.lastWrite;
    }
};
using TreeDetails = std::map<std::wstring, EntryDetails>;

// Every file and folder below `root` (upper-case relative path), junctions followed.
TreeDetails DetailsOfTree(const std::wstring& root);

// A tree deeper than the shell can reach: five nested folders of 60-character
// names below `root`, a file in each and one at the top, the deepest more than
// 300 characters from the drive's root.
void MakeLongTree(const std::wstring& root);
// Every file below `root` (paths of any length) with its size, "relative: size",
// sorted.
std::vector<std::wstring> LongTreeFiles(const std::wstring& root);

// Files in `a` and in `b` together; a name present in both is reported in `twice`.
TreeSnapshot Union(const TreeSnapshot& a, const TreeSnapshot& b, std::vector<std::wstring>* twice = nullptr);

// Removes `root` and all below it; junctions are removed, never walked into.
void RemoveTree(const std::wstring& root);

bool PathExists(const std::wstring& path);
bool IsFolder(const std::wstring& path);

// A fresh folder below `parent` named after the running test, removed at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& parent, const std::wstring& name = L"");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& child) const { return path_ + L"\\" + child; }

private:
    std::wstring path_;
};

// The prefix's temporary folder (on C:), without a trailing backslash.
std::wstring TempRoot();

}  // namespace relocation_testing
