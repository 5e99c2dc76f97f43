#include "engine/folder_move.h"

#include <windows.h>

#include "base/debug_log.h"
#include "base/text.h"
#include "base/unique_resource.h"

namespace {

bool Exists(DWORD attributes) { return attributes != INVALID_FILE_ATTRIBUTES; }

bool IsPlainFolder(DWORD attributes) {
    return Exists(attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool MoveEntry(const std::wstring& from, const std::wstring& to);

// Moves everything `from` holds into the folder `to`, then removes `from`.
bool MergeFolder(const std::wstring& from, const std::wstring& to) {
    std::vector<std::wstring> names;
    if (!ListFolderEntries(from, names)) return false;
    bool allMoved = true;
    for (const auto& name : names) {
        if (!MoveEntry(from + L'\\' + name, to + L'\\' + name)) allMoved = false;
    }
    return allMoved && ::RemoveDirectoryW(from.c_str()) != FALSE;
}

bool MoveOneFile(const std::wstring& from, const std::wstring& to, DWORD attributes) {
    // A copy between volumes deletes the original afterwards, which a read-only
    // file refuses; the attribute goes back on the moved file.
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) ::SetFileAttributesW(from.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    const bool moved = ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED) != FALSE;
    if (readOnly) ::SetFileAttributesW((moved ? to : from).c_str(), attributes);
    return moved;
}

bool MoveEntry(const std::wstring& from, const std::wstring& to) {
    const DWORD fromAttributes = ::GetFileAttributesW(from.c_str());
    if (!Exists(fromAttributes)) return true;
    const DWORD toAttributes = ::GetFileAttributesW(to.c_str());

    if (!Exists(toAttributes)) {
        if ((fromAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return MoveOneFile(from, to, fromAttributes);
        if (::MoveFileExW(from.c_str(), to.c_str(), 0)) return true;
        // A folder cannot be renamed onto another volume: re-create it and move its
        // content. A junction is never walked into: its target's files are not ours.
        if (!IsPlainFolder(fromAttributes) || !::CreateDirectoryW(to.c_str(), nullptr)) {
            DebugErrorLine((L"Tressel.Error: could not move back " + from).c_str());
            return false;
        }
        ::SetFileAttributesW(to.c_str(), fromAttributes);
        return MergeFolder(from, to);
    }
    if (IsPlainFolder(fromAttributes) && IsPlainFolder(toAttributes)) return MergeFolder(from, to);
    // Two different entries of one name: neither is replaced.
    DebugLineF(L"Tressel.Error: %s already exists; %s stays where it is", to.c_str(), from.c_str());
    return false;
}

}  // namespace

bool ListFolderEntries(const std::wstring& folder, std::vector<std::wstring>& names) {
    names.clear();
    WIN32_FIND_DATAW entry;
    UniqueFindHandle listing(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!listing) return ::GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty volume root
    do {
        if (!IsDotEntry(entry.cFileName)) names.emplace_back(entry.cFileName);
    } while (::FindNextFileW(listing.get(), &entry));
    return ::GetLastError() == ERROR_NO_MORE_FILES;
}

bool FolderIsEmpty(const std::wstring& folder) {
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (!Exists(attributes) || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
    std::vector<std::wstring> names;
    return ListFolderEntries(folder, names) && names.empty();
}

std::wstring FirstNameAlsoIn(const std::vector<std::wstring>& names, const std::wstring& folder) {
    for (const auto& name : names) {
        if (Exists(::GetFileAttributesW((folder + L'\\' + name).c_str()))) return name;
    }
    return std::wstring();
}

bool MoveEntriesBack(const std::wstring& from, const std::wstring& to, const std::vector<std::wstring>& names) {
    bool allMoved = true;
    for (const auto& name : names) {
        if (!MoveEntry(from + L'\\' + name, to + L'\\' + name)) allMoved = false;
    }
    return allMoved;
}
