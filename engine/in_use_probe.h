// The in-use probe: a folder that can be renamed holds no open file and is no
// program's current folder, so the shell's move can take all of it.
#pragma once

#include <windows.h>

#include <string>

enum class ProbeOutcome {
    NotInUse,             // renamed to the probe name and back
    InUse,                // could not be renamed: something holds it or a file in it
    StuckUnderProbeName,  // renamed, but every attempt to rename it back failed
};

using RenameFunction = BOOL(WINAPI*)(LPCWSTR from, LPCWSTR to);

// Renames `source` to `probe` and straight back. A failed rename back is retried
// for a while before the folder counts as stuck under the probe name.
[[nodiscard]] ProbeOutcome ProbeFolderInUse(const std::wstring& source, const std::wstring& probe,
                              RenameFunction rename = ::MoveFileW);
