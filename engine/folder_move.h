// File-system steps of a relocation that the shell's file operation cannot be
// trusted with: listing what a folder holds, telling whether it is really empty,
// and moving exactly the entries that were moved back where they came from.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "engine/folder_identity.h"

// The names of `folder`'s entries, without "." and "..". False when the folder
// cannot be listed to its end.
[[nodiscard]] bool ListFolderEntries(const std::wstring& folder, std::vector<std::wstring>& names);

// True only when `folder` could be listed and holds no entry.
[[nodiscard]] bool FolderIsEmpty(const std::wstring& folder);

enum class NameCheck {
    NoneShared,  // `folder` holds none of the names
    Shared,      // `folder` holds `name`
    Unreadable,  // whether `folder` holds `name` could not be told (`error`)
};

// Looks for the first of `names` that `folder` also holds. Only "not found" counts
// as absent. Names are looked up verbatim ("\\?\" form), so a file named like a
// device (CON, NUL, ...) is the file, not the device.
NameCheck FirstNameAlsoIn(const std::vector<std::wstring>& names, const std::wstring& folder, std::wstring& name,
                          DWORD& error);

// True when every one of `names` is found in `folder`.
[[nodiscard]] bool AllNamesIn(const std::vector<std::wstring>& names, const std::wstring& folder);

// True when the error says that a path does not exist.
bool IsNotFoundError(DWORD error);

// Moves the entries `names` of `from` into `to`: by rename where it can, else by
// copying files and re-creating folders, merging into a folder of the same name that
// `to` still holds (never a folder into itself). Never replaces a file, and never
// walks into a junction. Names that `from` does not hold (not found) are skipped;
// one whose attributes cannot be read is left and counts as not moved. True when
// none of `names` is left in `from`.
[[nodiscard]] bool MoveEntriesBack(const std::wstring& from, const std::wstring& to, const std::vector<std::wstring>& names);

// A plain folder at `path`, made when nothing stands there. A look or a make that
// fails is tried again a moment later, since the files are about to move into it.
// True when a plain folder (no link) stands there. With `permissionsFrom`, a
// folder made here, or one found that is not `keep`, gets the owner and access
// list of that folder (the files about to move in come from there); a folder
// that cannot be given them does not count.
[[nodiscard]] bool MakePlainFolder(const std::wstring& path, const std::wstring& permissionsFrom = std::wstring(),
                                   const FolderId& keep = FolderId());

// Gives `folder` the owner and access list of `model`, made its own (protected
// from its parent). False when `model`'s cannot be read or `folder`'s set.
[[nodiscard]] bool CopyFolderPermissions(const std::wstring& model, const std::wstring& folder);
