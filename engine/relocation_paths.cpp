#include "engine/relocation_paths.h"

#include <cwctype>
#include <vector>

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

std::wstring WithoutTrailingSeparators(std::wstring path) {
    while (path.size() > 1 && IsSeparator(path.back())) path.pop_back();
    return path;
}

// Case-insensitive comparison of the first `length` characters, by the file
// system's own rules (ordinal, upper-cased), not by any language's.
bool EqualIgnoringCase(const wchar_t* a, const wchar_t* b, size_t length) {
    if (length == 0) return true;
    return ::CompareStringOrdinal(a, static_cast<int>(length), b, static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

// True when `outer` names a folder that holds `inner` somewhere below it.
bool Contains(const std::wstring& outer, const std::wstring& inner) {
    if (inner.size() <= outer.size()) return false;
    if (!EqualIgnoringCase(outer.c_str(), inner.c_str(), outer.size())) return false;
    // "C:\" already ends with its separator; otherwise the next character must be one.
    return IsSeparator(outer.back()) || IsSeparator(inner[outer.size()]);
}

}  // namespace

void CleanRelocationPath(std::wstring& path) {
    if (!path.empty() && IsSeparator(path.back())) path.pop_back();
    while (!path.empty() && std::iswspace(path.back())) path.pop_back();
    size_t first = 0;
    while (first < path.size() && std::iswspace(path[first])) ++first;
    path.erase(0, first);
    const bool driveOnly = path.size() == 2 && IsDriveLetter(path[0]) && path[1] == L':';
    if (driveOnly) path += L'\\';
}

bool IsDriveRoot(const std::wstring& path) {
    return path.size() == 3 && IsDriveLetter(path[0]) && path[1] == L':' && IsSeparator(path[2]);
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    std::wstring path = folder;
    if (!path.empty() && !IsSeparator(path.back())) path += L'\\';
    path += name;
    return path;
}

PathRelation RelatePaths(const std::wstring& fullSource, const std::wstring& fullTarget) {
    const std::wstring source = WithoutTrailingSeparators(fullSource);
    const std::wstring target = WithoutTrailingSeparators(fullTarget);
    if (source.size() == target.size() && EqualIgnoringCase(source.c_str(), target.c_str(), source.size()))
        return PathRelation::Same;
    if (Contains(source, target)) return PathRelation::TargetInsideSource;
    if (Contains(target, source)) return PathRelation::SourceInsideTarget;
    return PathRelation::Separate;
}

bool FullPathWithin(const std::wstring& path, int maxLength, std::wstring& fullPath) {
    std::vector<wchar_t> buffer(static_cast<size_t>(maxLength) + 1);
    const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    // A result as large as the buffer is the size it would need: nothing was written.
    if (length == 0 || length >= buffer.size()) return false;
    fullPath.assign(buffer.data(), length);
    return true;
}

std::wstring ProbeName(const std::wstring& source) { return source + kProbeSuffix; }

std::wstring ShellPathList(const std::wstring& path, bool allEntries) {
    std::wstring list = allEntries ? JoinPath(path, L"*.*") : path;
    list += L'\0';  // the string's own terminator makes the second NUL
    return list;
}
