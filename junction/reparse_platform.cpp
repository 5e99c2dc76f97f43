#include "junction/reparse_platform.h"

#include "junction/wine_host.h"

#include "base/unique_resource.h"

#include <winioctl.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace reparse_platform {

namespace {

// Linux allows paths of 4096 bytes (PATH_MAX, terminator included).
constexpr std::size_t kUnixPathCapacity = 4096;

constexpr char kReparseDataAttribute[] = "system.ntfs_reparse_data";
constexpr char kNtfsAttributesAttribute[] = "system.ntfs_attrib";

using UnixPath = char[kUnixPathCapacity];

// The Unix path of `path` naming the entry itself: without trailing slashes,
// which would make the kernel follow a junction to its target.
bool UnixEntryPath(const wchar_t* path, UnixPath& unixPath) {
    if (!wine_host::UnixPathOf(path, unixPath, kUnixPathCapacity)) return false;
    std::size_t length = std::strlen(unixPath);
    while (length > 1 && unixPath[length - 1] == '/') unixPath[--length] = 0;
    return true;
}

// Under Wine, the errors by which the native calls say "no reparse points here".
bool ReportsNoReparseSupport(DWORD error) {
    return wine_host::RunningUnderWine() &&
           (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_A_REPARSE_POINT);
}

bool AppendText(char* buffer, std::size_t capacity, const char* text) {
    const std::size_t length = std::strlen(buffer);
    const std::size_t extra = std::strlen(text);
    if (length + extra + 1 > capacity) return false;
    std::memcpy(buffer + length, text, extra + 1);
    return true;
}

// The root folder of the (ntfs-3g) file system that holds `folder`: the highest
// ancestor of its canonical path on the same device.
bool FileSystemRoot(const char* folder, UnixPath& root) {
    if (wine_host::CanonicalPath(folder, root, kUnixPathCapacity) < 0) return false;
    wine_host::UnixFileStatus status;
    if (wine_host::LStat(root, status) != 0) return false;
    const std::uint64_t device = status.device;
    for (;;) {
        char* slash = std::strrchr(root, '/');
        if (slash == nullptr || slash == root) return true;  // "/x": the parent is "/"
        *slash = 0;
        const bool sameDevice = wine_host::LStat(root, status) == 0 && status.device == device;
        *slash = '/';
        if (!sameDevice) return true;
        *slash = 0;
    }
}

// ntfs-3g shows a junction to "X:\..." as a symbolic link into ".NTFS-3G/X:" in
// the volume's root, unless it finds the target on its own volume. Without that
// mapping a junction to another drive letter would dangle, and Wine 8 neither
// lists nor opens a dangling link. An existing mapping is left as it is.
bool EnsureDriveMapping(const char* linkUnixPath, const wchar_t* fullTargetPath) {
    const wchar_t letter = fullTargetPath[0];
    const bool driveLetter = ((letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z')) &&
                             fullTargetPath[1] == L':';
    if (!driveLetter) return true;  // nothing ntfs-3g could map

    UnixPath folder = {};
    if (!AppendText(folder, kUnixPathCapacity, linkUnixPath)) return false;
    char* slash = std::strrchr(folder, '/');
    if (slash == nullptr) return false;
    slash[slash == folder ? 1 : 0] = 0;  // the link's parent folder

    UnixPath mapping;
    if (!FileSystemRoot(folder, mapping) || !AppendText(mapping, kUnixPathCapacity, "/.NTFS-3G")) return false;
    const long made = wine_host::MakeDirectory(mapping, 0777);
    if (made != 0 && made != -wine_host::kErrorExists) return false;
    const char name[] = {'/', static_cast<char>(letter), ':', 0};
    if (!AppendText(mapping, kUnixPathCapacity, name)) return false;

    wine_host::UnixFileStatus status;
    if (wine_host::LStat(mapping, status) == 0) return true;

    const wchar_t driveRoot[] = {letter, L':', L'\\', 0};
    UnixPath driveUnixPath;
    UnixPath driveCanonical;
    if (!wine_host::UnixPathOf(driveRoot, driveUnixPath, kUnixPathCapacity) ||
        wine_host::CanonicalPath(driveUnixPath, driveCanonical, kUnixPathCapacity) < 0) {
        return false;
    }
    const long linked = wine_host::Symlink(driveCanonical, mapping);
    return linked == 0 || linked == -wine_host::kErrorExists;
}

bool SetReparseDataThroughNtfs3g(const wchar_t* fullLinkPath, const wchar_t* fullTargetPath, const BYTE* data,
                                 DWORD size) {
    UnixPath unixPath;
    wine_host::UnixFileStatus status;
    if (!UnixEntryPath(fullLinkPath, unixPath) || wine_host::LStat(unixPath, status) != 0) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    // NTFS on Windows sets a mount point only on an empty folder; ntfs-3g does
    // not check, and would hide the folder's content behind the junction. (The
    // folder is listed from Linux: this program holds it open exclusively.) A
    // symbolic link here is already a junction, whose own data is replaced as on
    // Windows.
    const std::uint32_t type = status.mode & wine_host::kUnixTypeMask;
    if (type == wine_host::kUnixDirectory && wine_host::FolderEntryCount(unixPath) != 0) {
        ::SetLastError(ERROR_DIR_NOT_EMPTY);
        return false;
    }
    if (type != wine_host::kUnixDirectory && type != wine_host::kUnixSymlink) {
        ::SetLastError(ERROR_DIRECTORY);
        return false;
    }
    if (!EnsureDriveMapping(unixPath, fullTargetPath)) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    const long result = wine_host::LSetXattr(unixPath, kReparseDataAttribute, data, size);
    if (result != 0) {
        ::SetLastError(result == -wine_host::kErrorNotSupported ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
        return false;
    }
    // The kernel still holds the entry as the directory it was. The first look
    // at it fails and makes the kernel drop that stale entry, so whoever looks
    // next (this program included) sees the junction.
    wine_host::LStat(unixPath, status);
    return true;
}

bool GetReparseDataThroughNtfs3g(const wchar_t* path, BYTE* block, DWORD blockSize, DWORD& returned) {
    UnixPath unixPath;
    if (!UnixEntryPath(path, unixPath)) return false;
    const long result = wine_host::LGetXattr(unixPath, kReparseDataAttribute, block, blockSize);
    if (result <= 0) {
        ::SetLastError(ERROR_NOT_A_REPARSE_POINT);
        return false;
    }
    returned = static_cast<DWORD>(result);
    return true;
}

bool VolumeIsNtfs3g(const wchar_t* root) {
    UnixPath unixPath;
    if (!wine_host::UnixPathOf(root, unixPath, kUnixPathCapacity)) return false;
    unsigned char attributes[4];
    return wine_host::LGetXattr(unixPath, kNtfsAttributesAttribute, attributes, sizeof attributes) > 0;
}

// Under Wine: true when Linux shows `unixPath` as a symbolic link that Wine 8
// cannot show as a folder, because it leads nowhere or to something other than a
// folder. Wine leaves out a dangling link and shows a junction to a file as that
// file, so such a junction is reached through Linux alone.
bool IsHiddenLink(const char* unixPath) {
    wine_host::UnixFileStatus status;
    if (wine_host::LStat(unixPath, status) != 0 || (status.mode & wine_host::kUnixTypeMask) != wine_host::kUnixSymlink) {
        return false;
    }
    return wine_host::Stat(unixPath, status) != 0 || (status.mode & wine_host::kUnixTypeMask) != wine_host::kUnixDirectory;
}

struct HiddenLinkListing {
    const char* folder;
    HiddenLinkVisitor visitor;
    void* context;
};

// A name that Windows can address as it is: valid UTF-8 with none of the
// characters that Wine shows under another name.
bool WindowsName(const char* utf8, wchar_t (&name)[MAX_PATH]) {
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, name, MAX_PATH);
    if (length <= 1) return false;
    for (const wchar_t* c = name; *c != 0; ++c) {
        if (*c < 0x20 || std::wcschr(L"\\:*?\"<>|", *c) != nullptr) return false;
    }
    return true;
}

void VisitIfHidden(void* context, const char* name) {
    const auto& listing = *static_cast<const HiddenLinkListing*>(context);
    UnixPath child = {};
    if (!AppendText(child, kUnixPathCapacity, listing.folder) || !AppendText(child, kUnixPathCapacity, "/") ||
        !AppendText(child, kUnixPathCapacity, name) || !IsHiddenLink(child)) {
        return;
    }
    // Asked for its size only: an entry without reparse data is no link of ours.
    if (wine_host::LGetXattr(child, kReparseDataAttribute, nullptr, 0) <= 0) return;
    wchar_t windowsName[MAX_PATH];
    if (WindowsName(name, windowsName)) listing.visitor(listing.context, windowsName);
}

}  // namespace

void ListHiddenLinks(const wchar_t* folder, HiddenLinkVisitor visitor, void* context) {
    if (!wine_host::RunningUnderWine()) return;
    UnixPath unixFolder;
    if (!UnixEntryPath(folder, unixFolder)) return;
    const HiddenLinkListing listing{unixFolder, visitor, context};
    wine_host::ListSymbolicLinks(unixFolder, VisitIfHidden, const_cast<HiddenLinkListing*>(&listing));
}

HiddenLinkFinder::HiddenLinkFinder(const wchar_t* root) {
    if (!wine_host::RunningUnderWine() || root == nullptr) return;
    const std::size_t length = ::wcsnlen(root, sizeof root_ / sizeof root_[0]);
    if (length == 0 || length >= sizeof root_ / sizeof root_[0]) return;
    // A drive root is walked as "D:", which Wine would read as the drive's
    // current folder.
    const wchar_t driveRoot[] = {root[0], L':', L'\\', 0};
    const bool drive = length == 2 && root[1] == L':';
    UnixPath unixRoot;
    if (!UnixEntryPath(drive ? driveRoot : root, unixRoot)) return;
    std::memcpy(root_, root, length * sizeof(wchar_t));
    root_[length] = 0;
    rootLength_ = length;
    unixRootLength_ = std::strlen(unixRoot);
    std::memcpy(unixRoot_, unixRoot, unixRootLength_ + 1);
    usable_ = true;
}

bool HiddenLinkFinder::BuildUnixPath(const wchar_t* folder, char* unixFolder) const {
    if (!usable_ || std::wcsncmp(folder, root_, rootLength_) != 0 ||
        (folder[rootLength_] != 0 && folder[rootLength_] != L'\\')) {
        return false;
    }
    // The rest of the path, as UTF-8 after the root's Linux path. A name that is
    // not valid UTF-16 cannot be built.
    std::memcpy(unixFolder, unixRoot_, unixRootLength_ + 1);
    const wchar_t* rest = folder + rootLength_;
    const int restLength = static_cast<int>(std::wcslen(rest));
    if (restLength == 0) return true;
    const int room = static_cast<int>(kUnixPathCapacity - unixRootLength_ - 1);
    const int bytes = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, rest, restLength,
                                            unixFolder + unixRootLength_, room, nullptr, nullptr);
    if (bytes <= 0) return false;
    char* end = unixFolder + unixRootLength_ + bytes;
    *end = 0;
    // No byte of a multi-byte UTF-8 character is a backslash.
    for (char* c = unixFolder + unixRootLength_; c != end; ++c) {
        if (*c == '\\') *c = '/';
    }
    return true;
}

void HiddenLinkFinder::List(const wchar_t* folder, HiddenLinkVisitor visitor, void* context) const {
    if (!wine_host::RunningUnderWine()) return;
    UnixPath unixFolder;
    if (BuildUnixPath(folder, unixFolder)) {
        const HiddenLinkListing listing{unixFolder, visitor, context};
        // A folder that is not where its name says (Wine matched it without
        // regard to case, say) is asked of Wine after all.
        if (wine_host::ListSymbolicLinks(unixFolder, VisitIfHidden, const_cast<HiddenLinkListing*>(&listing)) !=
            -wine_host::kErrorNoEntry) {
            return;
        }
    }
    ListHiddenLinks(folder, visitor, context);
}

namespace {

struct HostListing {
    const char* folder;
    std::vector<HostEntry>* entries;
    bool faithful;  // every entry that matters has the name Wine would show
};

// One entry of a folder listed through Linux: a folder, or a link as Wine would
// show it (a folder that is a reparse point) or leave it out (see IsHiddenLink).
bool CollectHostEntry(void* context, const char* name, unsigned char type) {
    auto& listing = *static_cast<HostListing*>(context);
    if (type != wine_host::kEntryDirectory && type != wine_host::kEntryLink && type != wine_host::kEntryUnknown) {
        return true;  // a file, a device, a pipe: never a folder or a junction
    }
    UnixPath child = {};
    if (!AppendText(child, kUnixPathCapacity, listing.folder) || !AppendText(child, kUnixPathCapacity, "/") ||
        !AppendText(child, kUnixPathCapacity, name)) {
        listing.faithful = false;
        return false;
    }
    wine_host::UnixFileStatus status;
    if (type == wine_host::kEntryUnknown) {
        if (wine_host::LStat(child, status) != 0) return true;  // gone meanwhile
        const std::uint32_t kind = status.mode & wine_host::kUnixTypeMask;
        if (kind == wine_host::kUnixDirectory) {
            type = wine_host::kEntryDirectory;
        } else if (kind == wine_host::kUnixSymlink) {
            type = wine_host::kEntryLink;
        } else {
            return true;
        }
    }
    HostEntryKind kind = HostEntryKind::Folder;
    if (type == wine_host::kEntryLink) {
        const bool leadsToFolder = wine_host::Stat(child, status) == 0 &&
                                   (status.mode & wine_host::kUnixTypeMask) == wine_host::kUnixDirectory;
        if (leadsToFolder) {
            kind = HostEntryKind::FolderLink;
        } else if (wine_host::LGetXattr(child, kReparseDataAttribute, nullptr, 0) > 0) {
            kind = HostEntryKind::HiddenLink;
        } else {
            return true;  // a Linux link to a file, or to nothing: no junction
        }
    }
    wchar_t windowsName[MAX_PATH];
    if (!WindowsName(name, windowsName)) {
        // Wine shows this name otherwise: its own listing must be used.
        listing.faithful = false;
        return false;
    }
    try {
        listing.entries->push_back({windowsName, kind});
    } catch (...) {
        listing.faithful = false;
        return false;
    }
    return true;
}

}  // namespace

bool HiddenLinkFinder::ListFoldersAndLinks(const wchar_t* folder, std::vector<HostEntry>& entries) const {
    entries.clear();
    UnixPath unixFolder;
    if (!wine_host::RunningUnderWine() || !BuildUnixPath(folder, unixFolder)) return false;
    HostListing listing{unixFolder, &entries, true};
    if (wine_host::ListEntries(unixFolder, CollectHostEntry, &listing) == 0 && listing.faithful) return true;
    entries.clear();
    return false;
}

bool ReadHiddenLinkData(const wchar_t* path, BYTE* block, DWORD blockSize, DWORD& returned) {
    returned = 0;
    UnixPath unixPath;
    if (!wine_host::RunningUnderWine() || !UnixEntryPath(path, unixPath) || !IsHiddenLink(unixPath)) return false;
    return GetReparseDataThroughNtfs3g(path, block, blockSize, returned);
}

bool SetHiddenLinkData(const wchar_t* fullLinkPath, const wchar_t* fullTargetPath, const BYTE* data, DWORD size) {
    UnixPath unixPath;
    if (!wine_host::RunningUnderWine() || !UnixEntryPath(fullLinkPath, unixPath) || !IsHiddenLink(unixPath)) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return SetReparseDataThroughNtfs3g(fullLinkPath, fullTargetPath, data, size);
}

VolumeSupport QueryVolumeSupport(const wchar_t* root) {
    wchar_t volumeName[MAX_PATH];
    wchar_t fileSystemName[64];
    DWORD serial = 0;
    DWORD maxComponent = 0;
    DWORD flags = 0;
    if (!::GetVolumeInformationW(root, volumeName, MAX_PATH, &serial, &maxComponent, &flags, fileSystemName, 64)) {
        return VolumeSupport::Unreadable;
    }
    if ((flags & FILE_SUPPORTS_REPARSE_POINTS) != 0) return VolumeSupport::Supported;
    // Wine 8 never sets the flag; an ntfs-3g mount has real reparse points.
    if (wine_host::RunningUnderWine() && VolumeIsNtfs3g(root)) return VolumeSupport::Supported;
    return VolumeSupport::Unsupported;
}

namespace {

bool VolumeSerialOf(const wchar_t* path, DWORD& serial) {
    UniqueFileHandle folder(::CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!folder || !::GetFileInformationByHandle(folder.get(), &info)) return false;
    serial = info.dwVolumeSerialNumber;
    return true;
}

bool LinuxDeviceOf(const wchar_t* path, std::uint64_t& device) {
    char unixPath[kUnixPathCapacity];
    wine_host::UnixFileStatus status;
    if (!wine_host::UnixPathOf(path, unixPath, sizeof unixPath) || wine_host::Stat(unixPath, status) != 0) return false;
    device = status.device;
    return true;
}

}  // namespace

VolumeMatch CompareVolumes(const wchar_t* a, const wchar_t* b) {
    if (wine_host::RunningUnderWine()) {
        std::uint64_t first = 0;
        std::uint64_t second = 0;
        if (!LinuxDeviceOf(a, first) || !LinuxDeviceOf(b, second)) return VolumeMatch::Unknown;
        return first == second ? VolumeMatch::Same : VolumeMatch::Different;
    }
    DWORD first = 0;
    DWORD second = 0;
    if (!VolumeSerialOf(a, first) || !VolumeSerialOf(b, second)) return VolumeMatch::Unknown;
    return first == second ? VolumeMatch::Same : VolumeMatch::Different;
}

bool SetReparseData(HANDLE folder, const wchar_t* fullLinkPath, const wchar_t* fullTargetPath, const BYTE* data,
                    DWORD size) {
    DWORD bytesReturned = 0;
    if (::DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, const_cast<BYTE*>(data), size, nullptr, 0, &bytesReturned,
                          nullptr)) {
        return true;
    }
    if (!ReportsNoReparseSupport(::GetLastError())) return false;
    return SetReparseDataThroughNtfs3g(fullLinkPath, fullTargetPath, data, size);
}

bool GetReparseData(HANDLE folder, const wchar_t* path, BYTE* block, DWORD blockSize, DWORD& returned) {
    returned = 0;
    if (::DeviceIoControl(folder, FSCTL_GET_REPARSE_POINT, nullptr, 0, block, blockSize, &returned, nullptr)) {
        return true;
    }
    if (!ReportsNoReparseSupport(::GetLastError())) return false;
    return GetReparseDataThroughNtfs3g(path, block, blockSize, returned);
}

bool RemoveReparseFolder(const wchar_t* path) {
    if (!wine_host::RunningUnderWine()) return ::RemoveDirectoryW(path) != FALSE;

    // Wine 8 shows a junction (or any directory link) as a Unix symbolic link
    // that RemoveDirectoryW cannot remove. Unlinking it removes the link alone:
    // Linux never unlinks a directory, so the target and its files stay.
    UnixPath unixPath;
    wine_host::UnixFileStatus status;
    if (UnixEntryPath(path, unixPath) && wine_host::LStat(unixPath, status) == 0 &&
        (status.mode & wine_host::kUnixTypeMask) == wine_host::kUnixSymlink) {
        if (wine_host::Unlink(unixPath) == 0) return true;
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // Wine reports success for a folder it could not remove (a Linux mount
    // point, for one): only a folder that is gone counts as removed.
    if (!::RemoveDirectoryW(path)) return false;
    if (::GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return true;
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
}

}  // namespace reparse_platform
