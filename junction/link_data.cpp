#include "junction/link_data.h"

#include <algorithm>
#include <cstring>

#include "base/debug_log.h"
#include "base/unique_resource.h"
#include "junction/reparse_buffer.h"
#include "junction/reparse_platform.h"
#include "junction/wine_host.h"

namespace {

constexpr DWORD kOpenLinkFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr wchar_t kNtPrefix[] = L"\\??\\";
constexpr std::size_t kNtPrefixLength = 4;
// Symbolic link data carries a 4-byte flags field before its names.
constexpr std::size_t kSymlinkPathOffset = reparse::kMountPointPathOffset + 4;

std::uint32_t Read32(const ReparseBytes& data, std::size_t offset) {
    return static_cast<std::uint32_t>(data[offset]) | (static_cast<std::uint32_t>(data[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(data[offset + 2]) << 16) | (static_cast<std::uint32_t>(data[offset + 3]) << 24);
}

std::uint16_t Read16(const ReparseBytes& data, std::size_t offset) {
    return static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
}

std::uint32_t TagOf(const ReparseBytes& data) { return data.size() >= 4 ? Read32(data, 0) : 0; }

bool IsDriveRootPath(const std::wstring& path) { return path.size() == 3 && path[1] == L':' && path[2] == L'\\'; }

// Case-insensitive ordinal comparison, as the file system compares names.
bool SameText(const wchar_t* a, const wchar_t* b, std::size_t length) {
    return length == 0 ||
           ::CompareStringOrdinal(a, static_cast<int>(length), b, static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

// The folder a link's data points at, as a full Windows path, for the platform
// layer (which may have to make the target's drive reachable); empty when the
// data names no drive path.
std::wstring TargetPathOf(const ReparseBytes& data) {
    const std::wstring name = LinkSubstituteName(data);
    if (name.compare(0, kNtPrefixLength, kNtPrefix) != 0) return std::wstring();
    return name.substr(kNtPrefixLength);
}

}  // namespace

LinkKind ReadLinkData(const wchar_t* path, bool folder, ReparseBytes& data, DWORD& tag) {
    data.clear();
    tag = 0;
    const DWORD flags = folder ? kOpenLinkFlags : FILE_FLAG_OPEN_REPARSE_POINT;
    UniqueFileHandle entry(::CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, flags, nullptr));
    if (!entry) return LinkKind::Unreadable;
    ReparseBytes block(reparse::kReparseBlockSize);
    DWORD returned = 0;
    if (!reparse_platform::GetReparseData(entry.get(), path, block.data(), static_cast<DWORD>(block.size()),
                                          returned) ||
        returned < reparse::kReparseHeaderSize || returned > block.size()) {
        return LinkKind::Unreadable;
    }
    // Kept for the length of a relocation, one per link: only the bytes returned.
    data.assign(block.begin(), block.begin() + returned);
    tag = TagOf(data);
    if (tag == reparse::kMountPointTag) return LinkKind::Junction;
    if (tag == reparse::kSymlinkTag) return LinkKind::SymbolicLink;
    return LinkKind::Other;
}

std::wstring LinkSubstituteName(const ReparseBytes& data) {
    const std::uint32_t tag = TagOf(data);
    std::size_t pathOffset = 0;
    if (tag == reparse::kMountPointTag) {
        pathOffset = reparse::kMountPointPathOffset;
    } else if (tag == reparse::kSymlinkTag) {
        pathOffset = kSymlinkPathOffset;
    } else {
        return std::wstring();
    }
    if (data.size() < pathOffset) return std::wstring();
    const std::size_t offset = Read16(data, reparse::kReparseHeaderSize);
    const std::size_t length = Read16(data, reparse::kReparseHeaderSize + 2);
    const std::size_t start = pathOffset + offset;
    if (length % 2 != 0 || start > data.size() || length > data.size() - start) return std::wstring();
    std::wstring name(length / 2, L'\0');
    for (std::size_t i = 0; i < name.size(); ++i) name[i] = static_cast<wchar_t>(Read16(data, start + 2 * i));
    return name;
}

bool CreateLinkFromData(const wchar_t* path, bool folder, const ReparseBytes& data) {
    wchar_t fullPath[reparse::kFullPathCapacity];
    const DWORD length = ::GetFullPathNameW(path, reparse::kFullPathCapacity, fullPath, nullptr);
    if (length == 0 || length >= reparse::kFullPathCapacity) {
        DebugLine(L"TRESSEL.Error: Link path expansion.");
        return false;
    }
    UniqueFileHandle entry;
    if (folder) {
        if (!::CreateDirectoryW(path, nullptr)) return false;
        entry.reset(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kOpenLinkFlags, nullptr));
    } else {
        entry.reset(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        // Whatever already stands at the path (a file written there meanwhile) is
        // not this call's to remove.
        if (!entry) return false;
    }
    const std::wstring target = TargetPathOf(data);
    const bool set = entry && reparse_platform::SetReparseData(entry.get(), fullPath, target.c_str(), data.data(),
                                                               static_cast<DWORD>(data.size()));
    const DWORD error = ::GetLastError();
    entry.reset();
    if (set) return true;
    DebugErrorLine(L"TRESSEL.Error: Re-creating a link.", error);
    if (folder) {
        ::RemoveDirectoryW(path);
    } else {
        ::DeleteFileW(path);
    }
    return false;
}

bool RemoveLinkEntry(const wchar_t* path, bool folder, const std::vector<ReparseBytes>& accepted) {
    // Only a link is removed: a reparse point of any other kind (a deduplicated
    // file, a cloud placeholder) holds data of its own. What stands there is
    // looked at through a handle; on Windows it is deleted through that same
    // handle, so that nothing put in its place meanwhile is deleted instead.
    const DWORD flags = folder ? kOpenLinkFlags : FILE_FLAG_OPEN_REPARSE_POINT;
    UniqueFileHandle entry(::CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         flags, nullptr));
    ReparseBytes block(reparse::kReparseBlockSize);
    DWORD returned = 0;
    if (!entry || !reparse_platform::GetReparseData(entry.get(), path, block.data(), static_cast<DWORD>(block.size()),
                                                    returned) ||
        returned < reparse::kReparseHeaderSize || returned > block.size()) {
        DebugErrorLine(L"TRESSEL.Error: Removing a link: it cannot be read.");
        return false;
    }
    block.resize(returned);
    const std::uint32_t tag = TagOf(block);
    if (tag != reparse::kSymlinkTag && !(folder && tag == reparse::kMountPointTag)) {
        DebugLine(L"TRESSEL.Error: Removing a link: what stands there is no link.");
        ::SetLastError(ERROR_REPARSE_TAG_MISMATCH);
        return false;
    }
    if (!accepted.empty() && std::find(accepted.begin(), accepted.end(), block) == accepted.end()) {
        DebugLine(L"TRESSEL.Error: Removing a link: it is not the link that was recorded.");
        ::SetLastError(ERROR_REPARSE_ATTRIBUTE_CONFLICT);
        return false;
    }
    bool removed = false;
    if (!wine_host::RunningUnderWine()) {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        removed = ::SetFileInformationByHandle(entry.get(), FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
        entry.reset();
    } else {
        // Wine shows a link as a Unix symbolic link, which only its path removes.
        entry.reset();
        removed = folder ? reparse_platform::RemoveReparseFolder(path) : ::DeleteFileW(path) != FALSE;
    }
    if (!removed) DebugErrorLine(L"TRESSEL.Error: Removing a link.");
    return removed;
}

bool RepointJunction(const ReparseBytes& data, const std::wstring& oldFolder, const std::wstring& newFolder,
                     ReparseBytes& repointed) {
    repointed = data;
    if (TagOf(data) != reparse::kMountPointTag) return true;
    const std::wstring target = TargetPathOf(data);
    std::wstring oldRoot = oldFolder;
    if (!oldRoot.empty() && oldRoot.back() == L'\\' && !IsDriveRootPath(oldRoot)) oldRoot.pop_back();
    const bool inside = target.size() >= oldRoot.size() && SameText(target.c_str(), oldRoot.c_str(), oldRoot.size()) &&
                        (target.size() == oldRoot.size() || target[oldRoot.size()] == L'\\' || oldRoot.back() == L'\\');
    if (!inside) return true;

    std::wstring rest = target.substr(oldRoot.size());
    std::wstring newTarget = newFolder;
    if (!rest.empty() && rest.front() != L'\\') rest.insert(rest.begin(), L'\\');
    if (!newTarget.empty() && newTarget.back() == L'\\' && !rest.empty()) newTarget.pop_back();
    newTarget += rest;

    wchar_t substituteName[reparse::kSubstituteNameCapacity];
    if (!reparse::FormSubstituteName(newTarget.c_str(), substituteName, reparse::kSubstituteNameCapacity)) return false;
    ReparseBytes block(reparse::kReparseBlockSize);
    const std::size_t size = reparse::BuildMountPointBuffer(substituteName, block.data(), block.size());
    if (size == 0) return false;
    block.resize(size);
    repointed.swap(block);
    return true;
}
