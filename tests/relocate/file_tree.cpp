#include "tests/relocate/file_tree.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cwctype>

#include "junction/junction.h"

namespace relocation_testing {

namespace {

std::wstring Upper(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

void MakeFolders(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        ::CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    ::CreateDirectoryW(path.c_str(), nullptr);
}

std::uint64_t Checksum(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    unsigned char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        for (DWORD i = 0; i < read; ++i) hash = (hash ^ buffer[i]) * 1099511628211ull;
    }
    ::CloseHandle(file);
    return hash;
}

void Snapshot(const std::wstring& root, const std::wstring& relative, TreeSnapshot& snapshot, int depth) {
    if (depth > 64) return;  // a loop through a junction; the tests never build one here
    const std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    WIN32_FIND_DATAW entry;
    HANDLE listing = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Snapshot(root, child, snapshot, depth + 1);
        } else {
            snapshot[Upper(child)] = Checksum(root + L"\\" + child);
        }
    } while (::FindNextFileW(listing, &entry));
    ::FindClose(listing);
}

}  // namespace

void WriteTextFile(const std::wstring& path, const std::string& content) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create " << std::string(path.begin(), path.end());
    DWORD written = 0;
    ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    ::CloseHandle(file);
}

void MakeTree(const std::wstring& root, const std::vector<TreeFile>& files) {
    MakeFolders(root);
    for (const auto& file : files) {
        const std::wstring path = root + L"\\" + file.relativePath;
        const size_t slash = path.find_last_of(L'\\');
        MakeFolders(path.substr(0, slash));
        WriteTextFile(path, file.content);
        if (file.attributes != 0) ::SetFileAttributesW(path.c_str(), file.attributes);
    }
}

TreeSnapshot SnapshotTree(const std::wstring& root) {
    TreeSnapshot snapshot;
    Snapshot(root, L"", snapshot, 0);
    return snapshot;
}

namespace {

void Details(const std::wstring& root, const std::wstring& relative, TreeDetails& details, int depth) {
    if (depth > 64) return;
    const std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    WIN32_FIND_DATAW entry;
    HANDLE listing = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
        constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_DIRECTORY;
        EntryDetails& found = details[Upper(child)];
        found.attributes = entry.dwFileAttributes & kKept;
        found.lastWrite = (static_cast<ULONGLONG>(entry.ftLastWriteTime.dwHighDateTime) << 32) |
                          entry.ftLastWriteTime.dwLowDateTime;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Details(root, child, details, depth + 1);
    } while (::FindNextFileW(listing, &entry));
    ::FindClose(listing);
}

}  // namespace

namespace {

// "\\?\" and the full path: no length limit.
std::wstring LongForm(const std::wstring& path) {
    wchar_t full[32768];
    const DWORD length = ::GetFullPathNameW(path.c_str(), 32768, full, nullptr);
    return L"\\\\?\\" + std::wstring(full, length > 0 && length < 32768 ? length : 0);
}

}  // namespace

void MakeLongTree(const std::wstring& root) {
    std::wstring folder = LongForm(root);
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr)) << ::GetLastError();
    for (wchar_t letter : {L'a', L'b', L'c', L'd', L'e'}) {
        folder += L"\\" + std::wstring(60, letter);
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr)) << ::GetLastError();
        WriteTextFile(folder + L"\\at depth " + std::wstring(1, letter) + L".txt",
                      std::string(1000, static_cast<char>(letter)));
    }
    WriteTextFile(LongForm(root) + L"\\top.txt", "top");
}

std::vector<std::wstring> LongTreeFiles(const std::wstring& root) {
    std::vector<std::wstring> files;
    std::vector<std::wstring> pending{std::wstring()};
    while (!pending.empty()) {
        const std::wstring relative = pending.back();
        pending.pop_back();
        const std::wstring folder = LongForm(root) + (relative.empty() ? L"" : L"\\" + relative);
        WIN32_FIND_DATAW entry;
        HANDLE listing = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
        if (listing == INVALID_HANDLE_VALUE) continue;
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                pending.push_back(child);
            } else {
                files.push_back(child + L": " + std::to_wstring(entry.nFileSizeLow));
            }
        } while (::FindNextFileW(listing, &entry));
        ::FindClose(listing);
    }
    std::sort(files.begin(), files.end());
    return files;
}

TreeDetails DetailsOfTree(const std::wstring& root) {
    TreeDetails details;
    Details(root, L"", details, 0);
    return details;
}

TreeSnapshot Union(const TreeSnapshot& a, const TreeSnapshot& b, std::vector<std::wstring>* twice) {
    TreeSnapshot all = a;
    for (const auto& [name, sum] : b) {
        if (!all.emplace(name, sum).second && twice != nullptr) twice->push_back(name);
    }
    return all;
}

void RemoveTree(const std::wstring& root) {
    const DWORD attributes = ::GetFileAttributesW(root.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A junction goes as a junction: its target's files are not this tree's.
        if (!RemoveJunction(root.c_str())) ::RemoveDirectoryW(root.c_str());
        return;
    }
    ::SetFileAttributesW(root.c_str(), FILE_ATTRIBUTE_NORMAL);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::DeleteFileW(root.c_str());
        return;
    }
    // Links go before the folders beside them: a junction to a sibling that is gone
    // dangles, and Wine 8 then no longer lists it, which would keep this folder.
    std::vector<std::wstring> links;
    std::vector<std::wstring> others;
    {
        WIN32_FIND_DATAW entry;
        HANDLE listing = ::FindFirstFileW((root + L"\\*").c_str(), &entry);
        if (listing != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = entry.cFileName;
                if (name == L"." || name == L"..") continue;
                ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? links : others)
                    .push_back(root + L"\\" + name);
            } while (::FindNextFileW(listing, &entry));
            ::FindClose(listing);
        }
    }
    for (const auto& path : links) RemoveTree(path);
    for (const auto& path : others) RemoveTree(path);
    ::RemoveDirectoryW(root.c_str());
}

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring TempRoot() {
    wchar_t temp[MAX_PATH] = L"";
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring root = temp;
    while (!root.empty() && root.back() == L'\\') root.pop_back();
    return root;
}

ScratchFolder::ScratchFolder(const std::wstring& parent, const std::wstring& name) {
    std::wstring leaf = name;
    if (leaf.empty()) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string test = info != nullptr ? std::string(info->test_suite_name()) + "-" + info->name() : "scratch";
        leaf.assign(test.begin(), test.end());
        // Parameterised tests are named "Instance/Suite.Case/Param".
        for (wchar_t& c : leaf) {
            if (c == L'/') c = L'-';
        }
    }
    // Unique per run: a run that was killed may have left a tree behind.
    path_ = parent + L"\\dirshift-" + leaf + L"-" + std::to_wstring(::GetCurrentProcessId() % 100000);
    RemoveTree(path_);
    MakeFolders(path_);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

}  // namespace relocation_testing
