// Links (junctions and symbolic links) as their raw reparse data: read one, make
// one again elsewhere from the same bytes, remove one, and re-point a junction.
// A relocation moves links this way because moving a link by its path is not safe:
// Wine moves a junction's target folder instead, and Windows copies through a link
// when it moves between volumes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

using ReparseBytes = std::vector<std::uint8_t>;

enum class LinkKind {
    Junction,      // a mount point
    SymbolicLink,  // IO_REPARSE_TAG_SYMLINK
    Other,         // any other tag: cloud placeholders, deduplicated files, other vendors
    Unreadable,    // the data could not be read
};

// Reads the reparse data of the entry `path` itself (a link is never followed).
// `folder` tells whether the entry is a folder.
LinkKind ReadLinkData(const wchar_t* path, bool folder, ReparseBytes& data, DWORD& tag);

// The substitute name stored in junction or symbolic link data ("\??\D:\Data" or,
// for a relative symbolic link, "..\x"); empty when the data holds none.
std::wstring LinkSubstituteName(const ReparseBytes& data);

// Makes `path` (which must not exist) an empty folder or file carrying `data`.
// On failure nothing is left at `path`.
[[nodiscard]] bool CreateLinkFromData(const wchar_t* path, bool folder, const ReparseBytes& data);

// Removes the link `path` itself; its target stays. Only a junction (a folder) or a
// symbolic link is removed, and, when `accepted` names any, only one whose data is
// one of them: a reparse point of another kind, or a link someone else put there,
// is left. What stands there is looked at through a handle.
[[nodiscard]] bool RemoveLinkEntry(const wchar_t* path, bool folder, const std::vector<ReparseBytes>& accepted = {});

// Junction data whose target lies in `oldFolder` (a full path) or below it, moved
// to the same place below `newFolder`. Other data, and junctions pointing
// elsewhere, come back unchanged. False when the new data cannot be formed.
[[nodiscard]] bool RepointJunction(const ReparseBytes& data, const std::wstring& oldFolder,
                                   const std::wstring& newFolder, ReparseBytes& repointed);
