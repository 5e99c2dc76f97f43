// The copier that moves files between drives, against two baselines measured in
// the same run by tools/copy-bench.sh: Linux `cp -a` of the same tree between the
// same mounts, and a plain loop that copies one file at a time with CopyFileExW.
//
//   copy_bench.exe build <folder> <large files> <MB each> <small files>
//   copy_bench.exe copier <from> <to> [threads]   copy, flush and check
//   copy_bench.exe loop <from> <to>               one file at a time, nothing else
//   copy_bench.exe threads                        the copier's thread count
// Each run prints "<ms>" on its own last line; figures only, nothing passes or fails.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "engine/tree_copy.h"

namespace {

double NowMs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool WriteFileOfSize(const std::wstring& path, std::size_t size, char fill) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<char> chunk(1u << 20, fill);
    bool ok = true;
    for (std::size_t left = size; ok && left > 0;) {
        const DWORD part = static_cast<DWORD>(left < chunk.size() ? left : chunk.size());
        DWORD written = 0;
        ok = ::WriteFile(file, chunk.data(), part, &written, nullptr) && written == part;
        left -= part;
    }
    ::CloseHandle(file);
    return ok;
}

int Build(const std::wstring& folder, int largeFiles, int megabytes, int smallFiles) {
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring large = folder + L"\\large";
    const std::wstring small = folder + L"\\small";
    ::CreateDirectoryW(large.c_str(), nullptr);
    ::CreateDirectoryW(small.c_str(), nullptr);
    for (int i = 0; i < largeFiles; ++i) {
        if (!WriteFileOfSize(large + L"\\file" + std::to_wstring(i) + L".bin", static_cast<std::size_t>(megabytes) << 20,
                             static_cast<char>('a' + i % 26))) {
            return 1;
        }
    }
    // A hundred files a folder, of 1 to 8 KB: a game's or a cache's many small files.
    for (int i = 0; i < smallFiles; ++i) {
        const std::wstring sub = small + L"\\d" + std::to_wstring(i / 100);
        if (i % 100 == 0) ::CreateDirectoryW(sub.c_str(), nullptr);
        if (!WriteFileOfSize(sub + L"\\f" + std::to_wstring(i) + L".dat", 1024u * (1u + static_cast<unsigned>(i % 8)),
                             'x')) {
            return 1;
        }
    }
    return 0;
}

std::vector<std::wstring> Entries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE listing = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::wcscmp(entry.cFileName, L".") != 0 && std::wcscmp(entry.cFileName, L"..") != 0) {
            names.push_back(entry.cFileName);
        }
    } while (::FindNextFileW(listing, &entry));
    ::FindClose(listing);
    return names;
}

int Copier(const std::wstring& from, const std::wstring& to, int threads) {
    TreeCopyRequest request;
    request.source = from;
    request.target = to;
    request.names = Entries(from);
    request.threads = threads;
    const double start = NowMs();
    const TreeCopyOutcome outcome = CopyTree(request);
    const double elapsed = NowMs() - start;
    if (outcome.result != TreeCopyResult::Copied) {
        std::fwprintf(stderr, L"the copy failed at %ls (error %lu)\n", outcome.path.c_str(), outcome.error);
        return 1;
    }
    std::wprintf(L"%u files, %llu bytes, %d threads\n%.0f\n", outcome.totals.filesTotal,
                 static_cast<unsigned long long>(outcome.totals.bytesTotal), threads > 0 ? threads : DefaultCopyThreads(),
                 elapsed);
    return 0;
}

bool CopyLoop(const std::wstring& from, const std::wstring& to) {
    for (const std::wstring& name : Entries(from)) {
        const std::wstring source = from + L"\\" + name;
        const std::wstring target = to + L"\\" + name;
        const DWORD attributes = ::GetFileAttributesW(source.c_str());
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (!::CreateDirectoryW(target.c_str(), nullptr) || !CopyLoop(source, target)) return false;
        } else if (!::CopyFileExW(source.c_str(), target.c_str(), nullptr, nullptr, nullptr, COPY_FILE_FAIL_IF_EXISTS)) {
            return false;
        }
    }
    return true;
}

int Loop(const std::wstring& from, const std::wstring& to) {
    const double start = NowMs();
    if (!CopyLoop(from, to)) {
        std::fwprintf(stderr, L"the loop failed (error %lu)\n", ::GetLastError());
        return 1;
    }
    std::wprintf(L"%.0f\n", NowMs() - start);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 6 && std::wcscmp(argv[1], L"build") == 0) {
        return Build(argv[2], _wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]));
    }
    if (argc >= 4 && std::wcscmp(argv[1], L"copier") == 0) return Copier(argv[2], argv[3], argc >= 5 ? _wtoi(argv[4]) : 0);
    if (argc >= 4 && std::wcscmp(argv[1], L"loop") == 0) return Loop(argv[2], argv[3]);
    if (argc >= 2 && std::wcscmp(argv[1], L"threads") == 0) {
        std::wprintf(L"%d\n", DefaultCopyThreads());
        return 0;
    }
    std::fwprintf(stderr, L"use: copy_bench build|copier|loop ... (see the source)\n");
    return 2;
}
