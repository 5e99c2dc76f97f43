// The relocation command behind OK: check, move, leave a junction, or roll back.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Relocates the folder named in the dialog's source field to its destination field.
// Ends the dialog with 0 after a completed relocation; otherwise it stays open, and
// the files are either all back in the source folder or the user is told where.
void RelocateFolder(HWND dialog);

// The files were moved but no junction could take the old path's place: every
// program using that path would break. Moves the entries `movedNames` back from
// `target` into `source` (re-created as a plain folder when missing) and reports
// string 108 with both paths and where the files are now. True when all came back.
bool RestoreAfterJunctionFailure(const std::wstring& source, const std::wstring& target,
                                 const std::vector<std::wstring>& movedNames);
