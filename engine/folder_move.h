// File-system steps of a relocation that the shell's file operation cannot be
// trusted with: listing what a folder holds, telling whether it is really empty,
// and moving exactly the entries that were moved back where they came from.
#pragma once

#include <string>
#include <vector>

// The names of `folder`'s entries, without "." and "..". False when the folder
// cannot be listed to its end.
[[nodiscard]] bool ListFolderEntries(const std::wstring& folder, std::vector<std::wstring>& names);

// True only when `folder` could be listed and holds no entry.
[[nodiscard]] bool FolderIsEmpty(const std::wstring& folder);

// The first of `names` that `folder` also holds, or an empty string.
std::wstring FirstNameAlsoIn(const std::vector<std::wstring>& names, const std::wstring& folder);

// Moves the entries `names` of `from` into `to`: by rename where it can, else by
// copying files and re-creating folders, merging into a folder of the same name that
// `to` still holds. Never replaces a file, and never walks into a junction. Names
// that `from` does not hold are skipped. True when none of `names` is left in `from`.
[[nodiscard]] bool MoveEntriesBack(const std::wstring& from, const std::wstring& to, const std::vector<std::wstring>& names);
