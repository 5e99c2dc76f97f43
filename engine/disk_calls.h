// Every call by which the engine changes what is on the disk, or reads what it
// decides by, passes through here: moves, copies, deletions, folders made and
// removed, attributes, listings, links and the journal's file. In the program each
// is the system call itself. A test may make any one of them fail with an error of
// its choice, to see that every single failure still ends with the files in one
// whole place and a message that says which.
//
// The access scan is not routed here: it only reads, on a pool of threads, and any
// failure of it stops a relocation before anything changes.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "engine/folder_identity.h"
#include "engine/folder_security.h"
#include "junction/junction.h"
#include "junction/link_data.h"

enum class DiskCall {
    ReadAttributes,
    SetAttributes,
    MakeFolder,
    RemoveFolder,
    Move,        // a rename, or a copy and delete between volumes
    ShellMove,   // the shell's move of a whole folder's content
    Delete,
    Open,
    Write,
    Flush,
    Read,
    List,        // the first entry of a folder, or the next one
    MakeJunction,
    RemoveJunction,
    MakeLink,    // a link made again from its recorded bytes
    RemoveLink,
    ReadLink,
    SetSecurity,  // a folder given its owner and access list
    Identify,     // a folder looked at by handle: which one it is, and whether a link
    Hold,         // a folder held open so that nobody can rename or delete it
    Copy,         // one file copied to another drive
};

// The call's name, for test reports.
const wchar_t* DiskCallName(DiskCall call);

// What a fault makes of one call.
struct DiskFault {
    DWORD error = ERROR_SUCCESS;  // ERROR_SUCCESS: the call goes ahead as usual
    // False: the call fails without doing anything. True: it does its work and then
    // reports the failure anyway, as when a reply is lost.
    bool afterWork = false;
};

// Asked before each call; `path` is the path the call concerns (the source of a
// move), empty for calls on an open handle.
using DiskFaultSource = DiskFault (*)(DiskCall call, const wchar_t* path);

// Null (the program's only setting) lets every call through. For tests, which set
// it while no engine call is in flight.
void SetDiskFaultSource(DiskFaultSource source);

namespace disk {

DWORD Attributes(const std::wstring& path);
bool SetAttributes(const std::wstring& path, DWORD attributes);
bool MakeFolder(const std::wstring& path);
bool RemoveFolder(const std::wstring& path);
bool Move(const std::wstring& from, const std::wstring& to, DWORD flags);
// The shell's result code; a fault's error is returned in its place.
int ShellMove(SHFILEOPSTRUCTW& operation);
bool Delete(const std::wstring& path);
// CreateFileW without security attributes or template.
HANDLE Open(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
bool Write(HANDLE file, const void* data, DWORD size, DWORD& written);
bool Flush(HANDLE file);
bool Read(HANDLE file, void* data, DWORD size, DWORD& read);
HANDLE FindFirst(const std::wstring& pattern, WIN32_FIND_DATAW& entry);
// The same without short names, fetching many entries at a time: for long walks.
HANDLE FindFirstQuick(const std::wstring& pattern, WIN32_FIND_DATAW& entry);
bool FindNext(HANDLE listing, WIN32_FIND_DATAW& entry);
// Size, times and attributes of `path` (a link itself is not followed for them).
bool ReadFileData(const std::wstring& path, WIN32_FILE_ATTRIBUTE_DATA& data);
// CopyFileExW: the file `from` to `to`, reporting to `progress`.
bool Copy(const std::wstring& from, const std::wstring& to, LPPROGRESS_ROUTINE progress, void* context,
              DWORD flags);
// The creation and last-write times of the file open as `file`.
bool SetTimes(HANDLE file, const FILETIME& creation, const FILETIME& lastWrite);
// The attributes of the file open as `file` (its times kept).
bool SetAttributesOf(HANDLE file, DWORD attributes);
// Marks the file or empty folder open as `file` for deletion when it closes.
bool DeleteOnClose(HANDLE file);
// The next entries of the folder open as `folder`, as FILE_ID_BOTH_DIR_INFO
// records (from the start when `restart`); false with ERROR_NO_MORE_FILES at the end.
bool ListOpenFolder(HANDLE folder, bool restart, void* buffer, DWORD size);

bool MakeJunction(const std::wstring& link, const std::wstring& target);
bool RemoveJunction(const std::wstring& link);
bool MakeLink(const std::wstring& path, bool folder, const ReparseBytes& data);
bool RemoveLink(const std::wstring& path, bool folder, const std::vector<ReparseBytes>& accepted);
LinkKind ReadLink(const std::wstring& path, bool folder, ReparseBytes& data, DWORD& tag);
bool ReadJunction(const std::wstring& path, wchar_t (&target)[kJunctionPathCapacity], DWORD& tag);

// Gives the folder `path` itself (never a link's target) the owner and access
// list of `sd`. The owner is set where the system allows it; the access list
// always, or the call fails.
bool SetSecurity(const std::wstring& path, const SecurityBytes& sd);
// Opens `path` itself (a link is not followed) and reads which file it is and its
// attributes. False when it cannot be opened.
bool Identify(const std::wstring& path, FolderId& id, DWORD& attributes);

// Opens the folder `path` itself without delete sharing, for FolderHold; the
// handle, or INVALID_HANDLE_VALUE.
HANDLE HoldFolder(const std::wstring& path);

// The rename the in-use probe makes, through this seam.
BOOL WINAPI ProbeRename(LPCWSTR from, LPCWSTR to);

}  // namespace disk
