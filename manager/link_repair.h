// The junction manager's repairs of links: pointing one junction at another folder,
// and moving the targets of several junctions to another drive letter. Each checks
// the new target on the disk just before it changes anything, and a junction's
// data is replaced in one step, so a failure leaves it as it was.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "manager/junction_rows.h"

// Why `typed` cannot be the new target of the junction `junction` (a sentence for
// the user), or empty when it can: an existing folder on a drive of this computer,
// given as a full path, neither a link nor the junction or a folder that holds it,
// and short enough for a junction. `full` receives the path as it will be stored.
std::wstring NewTargetProblem(const std::wstring& junction, const std::wstring& typed, std::wstring& full);

// True when `folder` holds no entries at all.
bool FolderLooksEmpty(const std::wstring& folder);

// Shows the re-point dialog for `row` (owned by `owner`); true when the junction
// now points elsewhere. Every refusal and failure was told to the user.
bool RunRepointDialog(HWND owner, const JunctionRow& row);

// Shows the drive-letter dialog for `rows`, then points every junction whose
// target is on the chosen drive to the same path on the other, each only after
// its new target is checked, and shows what was changed and what was not. True
// when at least one junction changed.
bool RunChangeDriveDialog(HWND owner, const std::vector<JunctionRow>& rows);
