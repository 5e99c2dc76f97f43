// The mount-point reparse data layout and the path text around it, as pure
// functions: no system calls, no allocation, every offset checked. The same code
// builds for Windows (where the text type is wchar_t) and natively on Linux for
// fuzzing (char16_t): both are UTF-16 code units.
#pragma once

#include <cstddef>
#include <cstdint>

namespace reparse {

#if defined(_WIN32)
using Utf16Char = wchar_t;
#else
using Utf16Char = char16_t;
#endif
static_assert(sizeof(Utf16Char) == 2, "reparse data names are UTF-16");

constexpr std::uint32_t kMountPointTag = 0xA0000003;  // IO_REPARSE_TAG_MOUNT_POINT
constexpr std::uint32_t kSymlinkTag = 0xA000000C;     // IO_REPARSE_TAG_SYMLINK
constexpr std::uint32_t kMicrosoftTagBit = 0x80000000;

// MAXIMUM_REPARSE_DATA_BUFFER_SIZE: the most any file system returns or accepts.
constexpr std::size_t kReparseBlockSize = 16384;
// ReparseTag, ReparseDataLength and Reserved.
constexpr std::size_t kReparseHeaderSize = 8;
// The header plus the four name offsets and lengths: where PathBuffer starts.
constexpr std::size_t kMountPointPathOffset = 16;

// Full paths of junction creation: MAX_PATH, terminator included.
constexpr std::size_t kFullPathCapacity = 260;
// "\??\" + at most 259 path characters + terminator.
constexpr std::size_t kSubstituteNameCapacity = 264;

// Bounded length of a NUL-terminated string: `capacity` when no terminator is
// found within the first `capacity` units.
std::size_t BoundedLength(const Utf16Char* text, std::size_t capacity);

// Writes "\??\" followed by `fullTarget` into `name` (capacity in units, terminator
// included). One trailing backslash is dropped, except from a drive root such as
// "D:\" (3 characters), whose backslash is part of its name. Returns false and
// leaves `name` empty when the result does not fit.
bool FormSubstituteName(const Utf16Char* fullTarget, Utf16Char* name, std::size_t capacity);

// Fills `block` (`blockSize` bytes) with the mount-point reparse data for
// `substituteName`: zeros, then the tag, the lengths and offsets, the name with
// its terminator and an empty print name. Returns the number of bytes to hand to
// the file system (name bytes + 20), or 0 when the name does not fit the block or
// the 16-bit length fields; the block is then all zeros.
std::size_t BuildMountPointBuffer(const Utf16Char* substituteName, std::uint8_t* block, std::size_t blockSize);

enum class ReparseKind {
    Unreadable,        // fewer bytes than a tag: treated as data that could not be read
    MountPoint,        // a junction whose substitute name was copied out
    MalformedJunction, // a junction tag whose name lies outside the data or does not fit
    OtherMicrosoft,    // a Microsoft tag other than a junction (symbolic links among them)
    ThirdParty,        // a tag of another vendor (bit 31 clear)
};

struct ReparseInfo {
    ReparseKind kind;
    std::uint32_t tag;  // the stored tag; 0 when Unreadable
};

// Reads the first `returned` bytes of `data` as reparse data; nothing past them is
// looked at. For a junction, copies its substitute name as stored, with a
// terminator, into `target` (`targetCapacity` units, terminator included). A name
// whose offset or length falls outside the returned data or outside the lengths
// the data states for itself, whose byte length is odd, that holds a NUL, or that
// does not fit `target` is not cut short: the kind is then MalformedJunction.
// `target` is written only for MountPoint.
ReparseInfo ParseReparseData(const std::uint8_t* data, std::size_t returned, Utf16Char* target,
                             std::size_t targetCapacity);


// Appends `name` to the folder path held in path[0, length): a backslash goes in
// between unless the path is empty or already ends with one. Returns the new
// length, or 0 (with the path unchanged) when the result and its terminator do not
// fit `capacity` units.
std::size_t AppendPathComponent(Utf16Char* path, std::size_t length, std::size_t capacity, const Utf16Char* name);

// The walk's start folder: the length of `folder` without one trailing backslash
// (a drive root "D:\" becomes "D:"; a lone "\" stays).
std::size_t TrimmedFolderLength(const Utf16Char* folder, std::size_t length);

}  // namespace reparse
