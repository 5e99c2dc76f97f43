#include "engine/disk_calls.h"

#include <atomic>

#include "base/unique_resource.h"

namespace {

std::atomic<DiskFaultSource> faultSource{nullptr};

DiskFault FaultFor(DiskCall call, const std::wstring& path) {
    const DiskFaultSource source = faultSource.load();
    return source != nullptr ? source(call, path.c_str()) : DiskFault{};
}

// Runs `work` unless the fault forbids it; a faulted call ends with `failed` and
// the fault's error as the thread's last error. `undo` takes back what a call that
// did its work holds (a handle), so that reporting it as failed leaks nothing.
template <typename Result, typename Work, typename Undo>
Result Faultable(DiskCall call, const std::wstring& path, Result failed, Work work, Undo undo) {
    const DiskFault fault = FaultFor(call, path);
    if (fault.error == ERROR_SUCCESS) return work();
    if (fault.afterWork) {
        const Result result = work();
        if (!(result == failed)) undo(result);
    }
    ::SetLastError(fault.error);
    return failed;
}

template <typename Result, typename Work>
Result Faultable(DiskCall call, const std::wstring& path, Result failed, Work work) {
    return Faultable(call, path, failed, work, [](Result) {});
}

}  // namespace

void SetDiskFaultSource(DiskFaultSource source) { faultSource = source; }

const wchar_t* DiskCallName(DiskCall call) {
    switch (call) {
    case DiskCall::ReadAttributes: return L"read attributes";
    case DiskCall::SetAttributes: return L"set attributes";
    case DiskCall::MakeFolder: return L"make folder";
    case DiskCall::RemoveFolder: return L"remove folder";
    case DiskCall::Move: return L"move";
    case DiskCall::ShellMove: return L"shell move";
    case DiskCall::Delete: return L"delete";
    case DiskCall::Open: return L"open";
    case DiskCall::Write: return L"write";
    case DiskCall::Flush: return L"flush";
    case DiskCall::Read: return L"read";
    case DiskCall::List: return L"list";
    case DiskCall::MakeJunction: return L"make junction";
    case DiskCall::RemoveJunction: return L"remove junction";
    case DiskCall::MakeLink: return L"make link";
    case DiskCall::RemoveLink: return L"remove link";
    case DiskCall::ReadLink: return L"read link";
    case DiskCall::SetSecurity: return L"set security";
    case DiskCall::Identify: return L"identify";
    case DiskCall::Hold: return L"hold";
    case DiskCall::Copy: return L"copy";
    }
    return L"?";
}

namespace disk {

DWORD Attributes(const std::wstring& path) {
    return Faultable(DiskCall::ReadAttributes, path, INVALID_FILE_ATTRIBUTES,
                     [&] { return ::GetFileAttributesW(path.c_str()); });
}

bool SetAttributes(const std::wstring& path, DWORD attributes) {
    return Faultable(DiskCall::SetAttributes, path, false,
                     [&] { return ::SetFileAttributesW(path.c_str(), attributes) != FALSE; });
}

bool MakeFolder(const std::wstring& path) {
    return Faultable(DiskCall::MakeFolder, path, false,
                     [&] { return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE; });
}

bool RemoveFolder(const std::wstring& path) {
    return Faultable(DiskCall::RemoveFolder, path, false, [&] { return ::RemoveDirectoryW(path.c_str()) != FALSE; });
}

bool Move(const std::wstring& from, const std::wstring& to, DWORD flags) {
    return Faultable(DiskCall::Move, from, false,
                     [&] { return ::MoveFileExW(from.c_str(), to.c_str(), flags) != FALSE; });
}

int ShellMove(SHFILEOPSTRUCTW& operation) {
    const DiskFault fault = FaultFor(DiskCall::ShellMove, operation.pFrom != nullptr ? operation.pFrom : L"");
    if (fault.error == ERROR_SUCCESS) return ::SHFileOperationW(&operation);
    if (fault.afterWork) (void)::SHFileOperationW(&operation);
    ::SetLastError(fault.error);
    return static_cast<int>(fault.error);
}

bool Delete(const std::wstring& path) {
    return Faultable(DiskCall::Delete, path, false, [&] { return ::DeleteFileW(path.c_str()) != FALSE; });
}

HANDLE Open(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    return Faultable(
        DiskCall::Open, path, INVALID_HANDLE_VALUE,
        [&] { return ::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr); },
        [](HANDLE file) { ::CloseHandle(file); });
}

bool Write(HANDLE file, const void* data, DWORD size, DWORD& written) {
    written = 0;
    return Faultable(DiskCall::Write, std::wstring(), false,
                     [&] { return ::WriteFile(file, data, size, &written, nullptr) != FALSE; });
}

bool Flush(HANDLE file) {
    return Faultable(DiskCall::Flush, std::wstring(), false, [&] { return ::FlushFileBuffers(file) != FALSE; });
}

bool Read(HANDLE file, void* data, DWORD size, DWORD& read) {
    read = 0;
    return Faultable(DiskCall::Read, std::wstring(), false,
                     [&] { return ::ReadFile(file, data, size, &read, nullptr) != FALSE; });
}

HANDLE FindFirst(const std::wstring& pattern, WIN32_FIND_DATAW& entry) {
    return Faultable(
        DiskCall::List, pattern, INVALID_HANDLE_VALUE, [&] { return ::FindFirstFileW(pattern.c_str(), &entry); },
        [](HANDLE listing) { ::FindClose(listing); });
}

HANDLE FindFirstQuick(const std::wstring& pattern, WIN32_FIND_DATAW& entry) {
    return Faultable(
        DiskCall::List, pattern, INVALID_HANDLE_VALUE,
        [&] {
            return ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr,
                                      FIND_FIRST_EX_LARGE_FETCH);
        },
        [](HANDLE listing) { ::FindClose(listing); });
}

bool ReadFileData(const std::wstring& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    return Faultable(DiskCall::ReadAttributes, path, false,
                     [&] { return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != FALSE; });
}

bool Copy(const std::wstring& from, const std::wstring& to, LPPROGRESS_ROUTINE progress, void* context,
              DWORD flags) {
    return Faultable(DiskCall::Copy, from, false, [&] {
        return ::CopyFileExW(from.c_str(), to.c_str(), progress, context, nullptr, flags) != FALSE;
    });
}

bool SetTimes(HANDLE file, const FILETIME& creation, const FILETIME& lastWrite) {
    return Faultable(DiskCall::SetAttributes, std::wstring(), false,
                     [&] { return ::SetFileTime(file, &creation, nullptr, &lastWrite) != FALSE; });
}

bool SetAttributesOf(HANDLE file, DWORD attributes) {
    return Faultable(DiskCall::SetAttributes, std::wstring(), false, [&] {
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
        return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
    });
}

bool DeleteOnClose(HANDLE file) {
    return Faultable(DiskCall::Delete, std::wstring(), false, [&] {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
    });
}

bool ListOpenFolder(HANDLE folder, bool restart, void* buffer, DWORD size) {
    return Faultable(DiskCall::List, std::wstring(), false, [&] {
        return ::GetFileInformationByHandleEx(folder, restart ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
                                              buffer, size) != FALSE;
    });
}

bool FindNext(HANDLE listing, WIN32_FIND_DATAW& entry) {
    return Faultable(DiskCall::List, std::wstring(), false,
                     [&] { return ::FindNextFileW(listing, &entry) != FALSE; });
}

bool MakeJunction(const std::wstring& link, const std::wstring& target) {
    return Faultable(DiskCall::MakeJunction, link, false,
                     [&] { return ::CreateJunction(link.c_str(), target.c_str()); });
}

bool RemoveJunction(const std::wstring& link) {
    return Faultable(DiskCall::RemoveJunction, link, false, [&] { return ::RemoveJunction(link.c_str()); });
}

bool MakeLink(const std::wstring& path, bool folder, const ReparseBytes& data) {
    return Faultable(DiskCall::MakeLink, path, false,
                     [&] { return ::CreateLinkFromData(path.c_str(), folder, data); });
}

bool RemoveLink(const std::wstring& path, bool folder, const std::vector<ReparseBytes>& accepted) {
    return Faultable(DiskCall::RemoveLink, path, false,
                     [&] { return ::RemoveLinkEntry(path.c_str(), folder, accepted); });
}

LinkKind ReadLink(const std::wstring& path, bool folder, ReparseBytes& data, DWORD& tag) {
    return Faultable(DiskCall::ReadLink, path, LinkKind::Unreadable,
                     [&] { return ::ReadLinkData(path.c_str(), folder, data, tag); });
}

bool ReadJunction(const std::wstring& path, wchar_t (&target)[kJunctionPathCapacity], DWORD& tag) {
    return Faultable(DiskCall::ReadLink, path, false, [&] { return ::ReadReparsePoint(path.c_str(), target, tag); });
}

bool SetSecurity(const std::wstring& path, const SecurityBytes& sd) {
    return Faultable(DiskCall::SetSecurity, path, false, [&] {
        UniqueFileHandle folder(::CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!folder) {
            // Without the right to change the owner, the access list alone.
            folder.reset(::CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        }
        BY_HANDLE_FILE_INFORMATION info;
        if (!folder || !::GetFileInformationByHandle(folder.get(), &info)) return false;
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            ::SetLastError(ERROR_REPARSE_ATTRIBUTE_CONFLICT);
            return false;
        }
        return ApplySecurity(folder.get(), sd);
    });
}

bool Identify(const std::wstring& path, FolderId& id, DWORD& attributes) {
    return Faultable(DiskCall::Identify, path, false, [&] {
        UniqueFileHandle entry(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                             nullptr));
        BY_HANDLE_FILE_INFORMATION info;
        if (!entry || !::GetFileInformationByHandle(entry.get(), &info)) return false;
        id = IdOf(info);
        attributes = info.dwFileAttributes;
        return true;
    });
}

HANDLE HoldFolder(const std::wstring& path) {
    // Listing access makes the share mode count; without delete sharing, no one
    // can delete or rename the folder while it is held.
    return Faultable(
        DiskCall::Hold, path, INVALID_HANDLE_VALUE,
        [&] {
            return ::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        },
        [](HANDLE folder) { ::CloseHandle(folder); });
}

BOOL WINAPI ProbeRename(LPCWSTR from, LPCWSTR to) {
    return Move(from, to, 0) ? TRUE : FALSE;
}

}  // namespace disk
