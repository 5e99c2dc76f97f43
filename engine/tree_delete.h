// Deletes a whole folder tree that others may be able to change while it goes
// (a folder in a user's own tree, deleted by an administrator's program). Every
// entry is opened itself, never through a link, and deleted by that handle; each
// folder on the way is held open so that nobody can rename it or put a link in its
// place until what it holds is gone. A link met in the tree is deleted as a link:
// what it points to is never entered.
//
// Only what has a copy is deleted: the tree is an original whose copy stands
// elsewhere, and anything that has no copy there (a file written into the folder
// after it was copied, or one changed since) stays where it is.
#pragma once

#include <windows.h>

#include <string>

#include "engine/folder_identity.h"

enum class TreeDeleteResult {
    Deleted,       // nothing is left at the path
    NotTheFolder,  // the path is not the folder `id` (or not a plain folder): nothing was deleted
    PartlyLeft,    // some entries stayed; `left` names the first
};

// Deletes the plain folder `path` (a full path), when it is the folder `id`, and
// everything below it whose copy stands at the same place below `copyRoot`: a
// file when a file of the same size and last-write time stands there, a link when
// a link does. A folder goes once it is empty. Read-only entries lose that
// attribute first. Paths of any length are handled. A path that is already gone
// counts as deleted.
TreeDeleteResult DeleteCopiedOriginals(const std::wstring& path, const FolderId& id, const std::wstring& copyRoot,
                                       std::wstring& left);
