// The drives that the test volume script maps into the Wine prefix. Tests that
// use them declare the CTest fixture "ntfs_volume", which mounts them first.
#pragma once

namespace testing_driver {

// A real NTFS volume (an image mounted with ntfs-3g): junctions on it are real.
constexpr wchar_t kNtfsDrive[] = L"N:";
// A second drive letter mapped to a folder of that same volume, so a move between
// N: and M: is a rename, as between two folders of one Windows volume.
constexpr wchar_t kSecondDrive[] = L"M:";
// A drive on a file system without ntfs-3g (tmpfs): no reparse-point support.
constexpr wchar_t kPlainDrive[] = L"T:";
// A folder of the NTFS volume as a drive of its own: its root can take files.
constexpr wchar_t kRootDrive[] = L"R:";
// A tiny drive (1 MB tmpfs): too small for most moves.
constexpr wchar_t kSmallDrive[] = L"S:";
// A small NTFS volume of its own (about 2.5 MB free): junctions on it are real, and
// a test can fill it up.
constexpr wchar_t kSmallNtfsDrive[] = L"V:";

}  // namespace testing_driver
