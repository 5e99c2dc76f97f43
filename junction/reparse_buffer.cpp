#include "junction/reparse_buffer.h"

#include <cstring>

namespace reparse {

namespace {

// Little-endian field access; the layout is little-endian on every platform.
void Store16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Store32(std::uint8_t* at, std::uint32_t value) {
    Store16(at, value & 0xFFFF);
    Store16(at + 2, value >> 16);
}

std::uint32_t Load16(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8);
}

std::uint32_t Load32(const std::uint8_t* at) { return Load16(at) | (Load16(at + 2) << 16); }

constexpr Utf16Char kNtPrefix[] = {u'\\', u'?', u'?', u'\\'};
constexpr std::size_t kNtPrefixLength = 4;

}  // namespace

std::size_t BoundedLength(const Utf16Char* text, std::size_t capacity) {
    std::size_t length = 0;
    while (length < capacity && text[length] != 0) ++length;
    return length;
}

bool FormSubstituteName(const Utf16Char* fullTarget, Utf16Char* name, std::size_t capacity) {
    if (capacity == 0) return false;
    name[0] = 0;
    std::size_t length = BoundedLength(fullTarget, capacity);
    if (length > 3 && fullTarget[length - 1] == u'\\') --length;
    if (kNtPrefixLength + length + 1 > capacity) return false;
    for (std::size_t i = 0; i < kNtPrefixLength; ++i) name[i] = kNtPrefix[i];
    for (std::size_t i = 0; i < length; ++i) name[kNtPrefixLength + i] = fullTarget[i];
    name[kNtPrefixLength + length] = 0;
    return true;
}

std::size_t BuildMountPointBuffer(const Utf16Char* substituteName, std::uint8_t* block, std::size_t blockSize) {
    std::memset(block, 0, blockSize);
    // The name's byte count S goes into 16-bit fields, and S + 12 must too; the
    // whole input is S + 20 bytes.
    const std::size_t maxNameBytes = (blockSize > 20 ? blockSize - 20 : 0);
    const std::size_t nameUnits = BoundedLength(substituteName, maxNameBytes / 2 + 1);
    const std::size_t nameBytes = nameUnits * 2;
    if (blockSize < 20 || nameBytes > maxNameBytes || nameBytes + 12 > 0xFFFF) return 0;

    Store32(block + 0, kMountPointTag);
    Store16(block + 4, static_cast<std::uint32_t>(nameBytes + 12));  // ReparseDataLength
    Store16(block + 6, 0);                                           // Reserved
    Store16(block + 8, 0);                                           // SubstituteNameOffset
    Store16(block + 10, static_cast<std::uint32_t>(nameBytes));      // SubstituteNameLength
    Store16(block + 12, static_cast<std::uint32_t>(nameBytes + 2));  // PrintNameOffset
    Store16(block + 14, 0);                                          // PrintNameLength
    std::uint8_t* path = block + kMountPointPathOffset;
    for (std::size_t i = 0; i < nameUnits; ++i) Store16(path + 2 * i, static_cast<std::uint16_t>(substituteName[i]));
    // The terminator and the empty print name are already zero.
    return nameBytes + 20;
}

ReparseInfo ParseReparseData(const std::uint8_t* data, std::size_t returned, Utf16Char* target,
                             std::size_t targetCapacity) {
    if (returned < 4) return {ReparseKind::Unreadable, 0};
    const std::uint32_t tag = Load32(data);
    if ((tag & kMicrosoftTagBit) == 0) return {ReparseKind::ThirdParty, tag};
    if (tag != kMountPointTag) return {ReparseKind::OtherMicrosoft, tag};

    const ReparseInfo malformed{ReparseKind::MalformedJunction, tag};
    if (returned < kMountPointPathOffset) return malformed;
    // The name must lie within what the file system returned and within what the
    // data says its own length is, whichever ends first.
    std::size_t end = kReparseHeaderSize + Load16(data + 4);
    if (end > returned) end = returned;
    if (end < kMountPointPathOffset) return malformed;
    const std::size_t pathBytes = end - kMountPointPathOffset;
    const std::size_t offset = Load16(data + 8);
    const std::size_t length = Load16(data + 10);
    if (offset > pathBytes || length > pathBytes - offset || length % 2 != 0) return malformed;
    const std::size_t units = length / 2;
    if (targetCapacity == 0 || units > targetCapacity - 1) return malformed;

    const std::uint8_t* name = data + kMountPointPathOffset + offset;
    for (std::size_t i = 0; i < units; ++i) {
        if (Load16(name + 2 * i) == 0) return malformed;
    }
    for (std::size_t i = 0; i < units; ++i) target[i] = static_cast<Utf16Char>(Load16(name + 2 * i));
    target[units] = 0;
    return {ReparseKind::MountPoint, tag};
}

std::size_t AppendPathComponent(Utf16Char* path, std::size_t length, std::size_t capacity, const Utf16Char* name) {
    const bool separator = length > 0 && path[length - 1] != u'\\';
    const std::size_t nameLength = BoundedLength(name, capacity);
    const std::size_t total = length + (separator ? 1 : 0) + nameLength;
    if (nameLength == 0 || total + 1 > capacity) return 0;
    std::size_t at = length;
    if (separator) path[at++] = u'\\';
    for (std::size_t i = 0; i < nameLength; ++i) path[at++] = name[i];
    path[at] = 0;
    return total;
}

std::size_t TrimmedFolderLength(const Utf16Char* folder, std::size_t length) {
    // A lone "\" (the current drive's root) keeps its backslash: without it the
    // walk would list the current folder instead.
    return (length > 1 && folder[length - 1] == u'\\') ? length - 1 : length;
}

}  // namespace reparse
