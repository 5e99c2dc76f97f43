// The junction library's only contact with reparse data, with a volume's
// reparse-point flag and with the removal of a reparse folder.
//
// On Windows each function is exactly one system call: GetVolumeInformationW,
// DeviceIoControl with FSCTL_SET_REPARSE_POINT or FSCTL_GET_REPARSE_POINT, and
// RemoveDirectoryW. Wine 8 has no reparse points of its own; when it runs on an
// NTFS volume mounted with ntfs-3g, the same junctions are real on disk through
// ntfs-3g's extended attributes, and these functions fall back to them when the
// native call reports reparse points as unsupported. The fallback behaves as NTFS
// does on Windows (a mount point goes only on an empty folder) and fails the same
// way, so callers need not know which path was taken.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace reparse_platform {

enum class VolumeSupport {
    Supported,
    Unsupported,
    Unreadable,  // the volume information could not be read
};

// `root` is a volume root such as "E:\".
VolumeSupport QueryVolumeSupport(const wchar_t* root);

enum class VolumeMatch { Same, Different, Unknown };
// Whether the existing folders `a` and `b` (links followed) lie on one volume, so
// that a rename moves from one to the other. Windows tells by the volumes' serial
// numbers; Wine gives every drive letter a serial of its own, so there the Linux
// devices that the drives lead to tell.
VolumeMatch CompareVolumes(const wchar_t* a, const wchar_t* b);

// Sets the reparse data `data` (`size` bytes, a complete REPARSE_DATA_BUFFER) on
// the folder open as `folder`, whose full path is `fullLinkPath`; `fullTargetPath`
// is the folder the data points at. False with the system's error on failure.
bool SetReparseData(HANDLE folder, const wchar_t* fullLinkPath, const wchar_t* fullTargetPath, const BYTE* data,
                    DWORD size);

// Reads the reparse data of the folder open as `folder` (found at `path`) into
// `block`; `returned` receives the number of bytes written there.
bool GetReparseData(HANDLE folder, const wchar_t* path, BYTE* block, DWORD blockSize, DWORD& returned);

// Removes the reparse folder `path` itself; its target and the target's files stay.
// Also removes a link that only Linux shows (see ListHiddenLinks).
bool RemoveReparseFolder(const wchar_t* path);

// Under Wine on ntfs-3g: links that Wine 8 leaves out of a folder's listing (a
// junction whose target is missing or on a drive that is not there) or shows as
// a file (a junction to a file). Calls `visitor` with the name of each such entry
// of `folder` that carries reparse data. Nothing is called on Windows, where the
// listing shows every link as it is.
using HiddenLinkVisitor = void (*)(void* context, const wchar_t* name);
void ListHiddenLinks(const wchar_t* folder, HiddenLinkVisitor visitor, void* context);

// What a folder listed through Linux holds that a walk looks at.
enum class HostEntryKind {
    Folder,      // a plain folder
    FolderLink,  // a link that Wine shows as a reparse folder
    HiddenLink,  // a link with reparse data that Wine leaves out (see ListHiddenLinks)
};
struct HostEntry {
    std::wstring name;
    HostEntryKind kind;
};

// ListHiddenLinks for every folder of one walk: under Wine, each folder's Linux
// path is built from the walk's start folder instead of being asked of Wine, which
// costs a lookup of every component. A folder that is not found where its name
// says (a name that is not valid UTF-16, say) falls back to asking Wine. Costs
// nothing on Windows.
class HiddenLinkFinder {
public:
    // `root`: the walk's start folder as the walk writes it (no trailing backslash).
    explicit HiddenLinkFinder(const wchar_t* root);
    HiddenLinkFinder(const HiddenLinkFinder&) = delete;
    HiddenLinkFinder& operator=(const HiddenLinkFinder&) = delete;

    // `folder` is the root or a folder the walk reached under it.
    void List(const wchar_t* folder, HiddenLinkVisitor visitor, void* context) const;

    // Under Wine: the sub-folders and links of `folder` (the root or a folder
    // under it) from one Linux listing, which shows the links Wine leaves out as
    // well, so the walk need not list the folder twice. False, with `entries`
    // empty, when that listing cannot stand for Wine's: on Windows, for a folder
    // not found where its name says, or with a name that Wine shows otherwise (a
    // colon, a byte that is no UTF-8); the walk then lists as usual.
    bool ListFoldersAndLinks(const wchar_t* folder, std::vector<HostEntry>& entries) const;

private:
    // The Linux path of `folder` built from the root's (kCapacity bytes); false
    // when `folder` is not under the root or its name cannot be written in UTF-8.
    bool BuildUnixPath(const wchar_t* folder, char* unixFolder) const;

    static constexpr std::size_t kCapacity = 4096;
    bool usable_ = false;
    std::size_t rootLength_ = 0;
    std::size_t unixRootLength_ = 0;
    wchar_t root_[1024] = L"";
    char unixRoot_[kCapacity] = "";
};

// The reparse data of `path` when it is such a hidden link; false otherwise.
bool ReadHiddenLinkData(const wchar_t* path, BYTE* block, DWORD blockSize, DWORD& returned);

// Replaces the reparse data of the hidden link `fullLinkPath` (see SetReparseData).
bool SetHiddenLinkData(const wchar_t* fullLinkPath, const wchar_t* fullTargetPath, const BYTE* data, DWORD size);

}  // namespace reparse_platform
