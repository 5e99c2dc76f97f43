// The Linux host under a Windows program that runs in Wine: Unix names for
// Windows paths and the few Linux system calls the junction library needs where
// Wine itself has no reparse points (see reparse_platform.cpp). Nothing here is
// used on Windows: RunningUnderWine() is false there and every call fails.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace wine_host {

// True only under Wine (its ntdll exports wine_get_version; Windows' does not).
bool RunningUnderWine();

// The Unix path of `windowsPath` (full or relative) as a NUL-terminated UTF-8
// string in `unixPath` (`capacity` bytes). False when not under Wine, when Wine
// cannot map the path, or when it does not fit.
bool UnixPathOf(const wchar_t* windowsPath, char* unixPath, std::size_t capacity);

// Linux error numbers the callers tell apart.
constexpr long kErrorNoEntry = 2;       // ENOENT
constexpr long kErrorExists = 17;       // EEXIST
constexpr long kErrorNameTooLong = 36;  // ENAMETOOLONG
constexpr long kErrorNoData = 61;       // ENODATA: no such extended attribute
constexpr long kErrorNotSupported = 95; // EOPNOTSUPP
constexpr long kErrorNoSystemCall = 38; // ENOSYS: also the answer on hosts we cannot call

// Raw Linux system calls. Each returns what the kernel returns: a count or 0 on
// success, minus the error number on failure.
// lsetxattr: never follows a symbolic link, so reparse data set on a junction
// replaces the junction's own and never lands on its target.
long LSetXattr(const char* path, const char* name, const void* value, std::size_t size);
long LGetXattr(const char* path, const char* name, void* value, std::size_t size);
long Unlink(const char* path);
long Symlink(const char* target, const char* linkPath);
long MakeDirectory(const char* path, unsigned mode);
long ReadLink(const char* path, char* buffer, std::size_t size);

struct UnixFileStatus {
    std::uint64_t device = 0;
    std::uint32_t mode = 0;
};
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixSymlink = 0120000;
constexpr std::uint32_t kUnixDirectory = 0040000;

// The path with every symbolic link resolved (as the kernel sees the open file),
// NUL-terminated in `canonical`. Returns its length or minus an error number.
long CanonicalPath(const char* path, char* canonical, std::size_t capacity);

// The number of entries in the folder `path` other than "." and "..", as the
// kernel lists them (no link followed), or minus an error number.
long FolderEntryCount(const char* path);

// lstat: the device and mode of `path` itself (a symbolic link is not followed).
long LStat(const char* path, UnixFileStatus& status);
// stat: the same of what `path` leads to (every link followed).
long Stat(const char* path, UnixFileStatus& status);

// The entry types a folder's listing gives (d_type); Unknown when the file
// system does not say.
constexpr unsigned char kEntryUnknown = 0;
constexpr unsigned char kEntryDirectory = 4;
constexpr unsigned char kEntryRegular = 8;
constexpr unsigned char kEntryLink = 10;
constexpr long kErrorInvalid = 22;  // EINVAL: a listing record that does not add up

// Calls `visitor` with the name and type of every entry of the folder `path`
// other than "." and "..", as one listing gives them (nothing is looked at
// twice); `visitor` returns false to stop. 0, or minus an error number when the
// folder cannot be listed to its end.
using EntryVisitor = bool (*)(void* context, const char* name, unsigned char type);
long ListEntries(const char* path, EntryVisitor visitor, void* context);

// Calls `visitor` with the name of every entry of the folder `path` that the
// listing shows as a symbolic link (or of unknown type). 0, or minus an error
// number when the folder cannot be listed.
using SymbolicLinkVisitor = void (*)(void* context, const char* name);
long ListSymbolicLinks(const char* path, SymbolicLinkVisitor visitor, void* context);

}  // namespace wine_host
