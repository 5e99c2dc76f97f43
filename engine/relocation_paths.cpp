#include "engine/relocation_paths.h"

#include "base/unique_resource.h"

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

namespace {

constexpr DWORD kLongestPath = 32768;

// "\\?\C:\x" as "C:\x", "\\?\UNC\server\share" as "\\server\share".
std::wstring WithoutVerbatimPrefix(const std::wstring& path) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + path.substr(7);
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
    return path;
}

}  // namespace

std::wstring ResolvedPath(const std::wstring& fullPath) {
    std::wstring existing = WithoutTrailingSeparators(fullPath);
    std::wstring rest;
    for (;;) {
        if (::GetFileAttributesW(existing.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        const size_t slash = existing.find_last_of(L'\\');
        if (slash == std::wstring::npos || slash < 2) return fullPath;
        rest = existing.substr(slash) + rest;
        existing.resize(slash);
        if (existing.size() == 2 && existing[1] == L':') existing += L'\\';
    }
    UniqueFileHandle folder(::CreateFileW(existing.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) return fullPath;
    std::vector<wchar_t> finalName(kLongestPath);
    const DWORD length =
        ::GetFinalPathNameByHandleW(folder.get(), finalName.data(), kLongestPath, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= kLongestPath) return fullPath;
    std::wstring resolved = WithoutTrailingSeparators(WithoutVerbatimPrefix(std::wstring(finalName.data(), length)));
    return resolved + rest;
}

std::wstring WithoutSubstDrive(const std::wstring& fullPath) {
    if (fullPath.size() < 2 || fullPath[1] != L':') return fullPath;
    const wchar_t drive[] = {fullPath[0], L':', L'\0'};
    wchar_t device[MAX_PATH] = L"";
    if (::QueryDosDeviceW(drive, device, MAX_PATH) == 0) return fullPath;
    // A subst drive names a path of another drive; a real one names a device.
    const std::wstring target = device;
    if (target.compare(0, 4, L"\\??\\") != 0 || target.size() < 6 || target[5] != L':') return fullPath;
    const std::wstring rest = fullPath.substr(2);
    std::wstring folder = WithoutTrailingSeparators(target.substr(4));
    if (folder.size() == 2) folder += L'\\';
    return rest.empty() || rest == L"\\" ? folder : JoinPath(folder, rest.substr(rest[0] == L'\\' ? 1 : 0));
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
