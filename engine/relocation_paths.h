// Path rules of the relocation, free of windows and of the file system where they
// can be: clean-up of the typed fields, how the two folders relate, the probe name
// and the double-NUL lists of the shell's file operation.
#pragma once

#include <windows.h>

#include <string>

// Appended to the source path to form the in-use probe's name, a sibling folder.
constexpr wchar_t kProbeSuffix[] = L"_abc_in_use_test";
constexpr int kProbeSuffixLength = static_cast<int>(sizeof(kProbeSuffix) / sizeof(wchar_t)) - 1;

// The longest source path (without terminator) whose probe name still fits MAX_PATH.
constexpr int kMaxSourceLength = MAX_PATH - 1 - kProbeSuffixLength;
// The longest destination path (without terminator).
constexpr int kMaxTargetLength = MAX_PATH - 1;

// Removes one trailing '/' or '\', then white space at the right end and then at
// the left end. The separator goes first, so "C:\Data\ " keeps its backslash.
// A drive root stays a root: "E:\" (and a bare "E:") becomes "E:\", never the
// drive-relative "E:", which would name the process's current folder on E:.
void CleanRelocationPath(std::wstring& path);

// True for "X:\" (a drive's root folder).
bool IsDriveRoot(const std::wstring& path);

// `folder` and `name` joined by one backslash ("E:\" + "x" gives "E:\x").
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

enum class PathRelation {
    Separate,           // neither holds the other
    Same,               // one folder
    TargetInsideSource, // the destination lies somewhere below the source
    SourceInsideTarget, // the source lies somewhere below the destination
};

// Relates two full paths, ignoring case and trailing separators. "C:\Data" and
// "C:\Data2" are separate; "C:\Data" and "C:\Data\Sub" are not.
PathRelation RelatePaths(const std::wstring& fullSource, const std::wstring& fullTarget);

// `fullPath` as the system resolves it: its nearest existing folder replaced by
// that folder's final path (8.3 names spelled out, junctions and links on the way
// followed, a subst drive replaced by the folder it stands for), the rest appended.
// `fullPath` itself when nothing of it can be resolved.
std::wstring ResolvedPath(const std::wstring& fullPath);

// The drive letter of `fullPath` replaced by the folder it stands for when it is a
// subst drive, which exists only in the logon session that made it; `fullPath`
// itself otherwise.
std::wstring WithoutSubstDrive(const std::wstring& fullPath);

// The full form of `path` (GetFullPathNameW). False when it cannot be formed or is
// longer than `maxLength` characters: such a path is refused, never cut.
[[nodiscard]] bool FullPathWithin(const std::wstring& path, int maxLength, std::wstring& fullPath);

// "<source>_abc_in_use_test".
std::wstring ProbeName(const std::wstring& source);

// One path followed by the two NULs that end a shell file-operation list; with
// `allEntries` the path gets "\*.*" first (only "*.*" after a drive root).
std::wstring ShellPathList(const std::wstring& path, bool allEntries);
