// Which folder stands at a path, told by handle: a folder swapped for another, or
// for a link, between a check and the step that relies on it is seen before the
// step acts on it.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_resource.h"

// A file's identity on its volume, as a handle reports it.
struct FolderId {
    DWORD volume = 0;
    ULONGLONG index = 0;
    bool known() const { return volume != 0 || index != 0; }
    bool operator==(const FolderId& other) const { return volume == other.volume && index == other.index; }
    bool operator!=(const FolderId& other) const { return !(*this == other); }
};

FolderId IdOf(const BY_HANDLE_FILE_INFORMATION& info);

// "vvvvvvvv-iiiiiiiiiiiiiiii" in hexadecimal, as the journal keeps it.
std::wstring FormatFolderId(const FolderId& id);
[[nodiscard]] bool ParseFolderId(const std::wstring& text, FolderId& id);

// The identity of the plain folder at `path` (opened without following a link).
// False when nothing can be opened there, or when it is no folder or a reparse
// point. A look that fails is tried once more.
[[nodiscard]] bool ReadPlainFolderId(const std::wstring& path, FolderId& id);

// True when `path` is still the plain folder `id`: the same file, no link.
[[nodiscard]] bool StillTheSameFolder(const std::wstring& path, const FolderId& id);

// A handle on a folder that keeps other programs from deleting or renaming it
// (and so from putting a link in its place) for as long as it is held. Where the
// platform does not honour that, the checks by identity still stand.
class FolderHold {
public:
    // Holds the plain folder `path` when it is the folder `id`; false otherwise.
    bool Take(const std::wstring& path, const FolderId& id);
    void Release() { handle_.reset(); }

private:
    UniqueFileHandle handle_;
};
