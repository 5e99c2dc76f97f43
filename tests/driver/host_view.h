// The test volumes seen from Linux, from inside a Windows test under Wine: what
// ntfs-3g really holds on disk, independent of how the program reads it back.
//
//  - UnixPathOf(L"N:\\x"): the Linux path behind a Windows path.
//  - ReadNtfsReparseData(path): the bytes of the system.ntfs_reparse_data
//    attribute of the entry itself (a junction is not followed): the reparse
//    data exactly as NTFS stores it; nothing when the entry carries none.
//  - HostLinkTarget(path): the symbolic link that ntfs-3g shows for a junction
//    or symbolic link (readlink); HostResolvedPath(path): where Linux lands
//    following it; HostTypeOf(path): what lstat sees.
//  - WriteNtfsReparseData(path, bytes): sets reparse data on an existing entry
//    from Linux, as other tools would (ntfs-3g checks the lengths and refuses
//    inconsistent data with EINVAL; the error number is returned). ntfs-3g
//    resolves a junction to "X:\..." through the link ".NTFS-3G\X:" in the
//    volume's root when it exists (CreateJunction makes it), and otherwise
//    looks for the path on its own volume; a junction that resolves nowhere is
//    invisible to Wine 8.
//  - Builders of reparse data that other tools write: MountPointData (with the
//    print name stored first, as some tools do), SymbolicLinkData (tag
//    0xA000000C), ThirdPartyData (a tag with bit 31 clear and its GUID).
// Everything here needs Wine on Linux; the helpers fail (nothing, false, -ENOSYS)
// elsewhere. Reused by any test that checks junctions on the "ntfs_volume" drives.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_driver {

using Bytes = std::vector<std::uint8_t>;

std::string UnixPathOf(const std::wstring& windowsPath);

std::optional<Bytes> ReadNtfsReparseData(const std::wstring& windowsPath);

// 0 on success, otherwise minus the Linux error number (-22 is EINVAL).
long WriteNtfsReparseData(const std::wstring& windowsPath, const Bytes& data);

std::optional<std::string> HostLinkTarget(const std::wstring& windowsPath);

// Where Linux ends up when it follows every link in the path (realpath).
std::optional<std::string> HostResolvedPath(const std::wstring& windowsPath);

enum class HostType { Missing, Directory, Symlink, File, Other };
HostType HostTypeOf(const std::wstring& windowsPath);

// A mount point (junction): substitute and print names, each followed by a
// terminator, in the order chosen.
Bytes MountPointData(const std::wstring& substituteName, const std::wstring& printName, bool printNameFirst);

// A symbolic link (IO_REPARSE_TAG_SYMLINK); `relative` sets SYMLINK_FLAG_RELATIVE.
Bytes SymbolicLinkData(const std::wstring& substituteName, const std::wstring& printName, bool relative);

// Reparse data of another vendor: `tag` (bit 31 clear), a GUID and `payload`.
Bytes ThirdPartyData(std::uint32_t tag, const Bytes& payload);

// A little-endian field written into `data` at `offset` (for damaging data).
void Poke16(Bytes& data, std::size_t offset, std::uint16_t value);

}  // namespace testing_driver
