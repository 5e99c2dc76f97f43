#include "engine/folder_identity.h"

#include <cwchar>

#include "engine/disk_calls.h"

namespace {

constexpr DWORD kLookAgainPauseMs = 50;

bool IsPlainFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

FolderId IdOf(const BY_HANDLE_FILE_INFORMATION& info) {
    FolderId id;
    id.volume = info.dwVolumeSerialNumber;
    id.index = (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return id;
}

std::wstring FormatFolderId(const FolderId& id) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%08lx-%016llx", static_cast<unsigned long>(id.volume),
                  static_cast<unsigned long long>(id.index));
    return text;
}

bool ParseFolderId(const std::wstring& text, FolderId& id) {
    if (text.size() != 25 || text[8] != L'-') return false;
    ULONGLONG parts[2] = {0, 0};
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == 8) continue;
        const wchar_t c = text[i];
        int digit = -1;
        if (c >= L'0' && c <= L'9') digit = c - L'0';
        if (c >= L'a' && c <= L'f') digit = c - L'a' + 10;
        if (digit < 0) return false;
        ULONGLONG& part = parts[i < 8 ? 0 : 1];
        part = part * 16 + static_cast<ULONGLONG>(digit);
    }
    id.volume = static_cast<DWORD>(parts[0]);
    id.index = parts[1];
    return true;
}

bool ReadPlainFolderId(const std::wstring& path, FolderId& id) {
    for (int look = 0; look < 2; ++look) {
        if (look > 0) ::Sleep(kLookAgainPauseMs);
        DWORD attributes = 0;
        if (disk::Identify(path, id, attributes)) return IsPlainFolder(attributes);
    }
    return false;
}

bool StillTheSameFolder(const std::wstring& path, const FolderId& id) {
    FolderId now;
    return id.known() && ReadPlainFolderId(path, now) && now == id;
}

bool FolderHold::Take(const std::wstring& path, const FolderId& id) {
    handle_.reset(disk::HoldFolder(path));
    BY_HANDLE_FILE_INFORMATION info;
    if (handle_ && ::GetFileInformationByHandle(handle_.get(), &info) && IsPlainFolder(info.dwFileAttributes) &&
        IdOf(info) == id) {
        return true;
    }
    handle_.reset();
    return false;
}
