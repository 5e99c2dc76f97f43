// libFuzzer target for the pure reparse-data code, built natively on Linux with
// AddressSanitizer and UndefinedBehaviorSanitizer (tests/fuzz/run-fuzz.sh).
// The parser gets exactly the bytes "returned", in a buffer of exactly that size,
// so any read past them is a sanitizer report; the target buffer is guarded the
// same way. Names built from the input must survive a build/parse round trip.
#include "junction/reparse_buffer.h"

#include "base/text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using reparse::Utf16Char;

void Check(bool condition) {
    if (!condition) std::abort();
}

void FuzzParse(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    // The first byte picks the target's capacity: tiny ones reach every bound.
    const std::size_t capacity = (data[0] % 8 == 0) ? 1024 : data[0] % 64;
    std::vector<std::uint8_t> returned(data + 1, data + size);
    std::vector<Utf16Char> target(capacity == 0 ? 1 : capacity, u'#');
    const reparse::ReparseInfo info =
        reparse::ParseReparseData(returned.data(), returned.size(), capacity == 0 ? nullptr : target.data(), capacity);
    if (info.kind == reparse::ReparseKind::MountPoint) {
        Check(capacity > 0);
        const std::size_t length = reparse::BoundedLength(target.data(), capacity);
        Check(length < capacity);                    // terminated inside the buffer
        Check(16 + length * 2 <= returned.size());   // and no longer than the data
        for (std::size_t i = 0; i < length; ++i) Check(target[i] != 0);
    } else {
        for (Utf16Char c : target) Check(c == u'#');  // written only for a junction
    }
}

void FuzzRoundTrip(const std::uint8_t* data, std::size_t size) {
    // The input as a full path of UTF-16 units without NULs, at most 259 of them.
    std::vector<Utf16Char> path;
    for (std::size_t i = 0; i + 1 < size && path.size() < 259; i += 2) {
        const auto unit = static_cast<Utf16Char>(data[i] | (data[i + 1] << 8));
        if (unit != 0) path.push_back(unit);
    }
    path.push_back(0);
    Utf16Char name[reparse::kSubstituteNameCapacity];
    Check(reparse::FormSubstituteName(path.data(), name, reparse::kSubstituteNameCapacity));
    std::vector<std::uint8_t> block(reparse::kReparseBlockSize);
    const std::size_t built = reparse::BuildMountPointBuffer(name, block.data(), block.size());
    const std::size_t nameLength = reparse::BoundedLength(name, reparse::kSubstituteNameCapacity);
    Check(built == nameLength * 2 + 20);
    block.resize(built);
    Utf16Char back[1024];
    const reparse::ReparseInfo info = reparse::ParseReparseData(block.data(), block.size(), back, 1024);
    Check(info.kind == reparse::ReparseKind::MountPoint && info.tag == reparse::kMountPointTag);
    Check(std::memcmp(back, name, (nameLength + 1) * sizeof(Utf16Char)) == 0);
}

void FuzzPathText(const std::uint8_t* data, std::size_t size) {
    std::vector<Utf16Char> units;
    for (std::size_t i = 0; i + 1 < size; i += 2) units.push_back(static_cast<Utf16Char>(data[i] | (data[i + 1] << 8)));
    const std::size_t split = units.empty() ? 0 : units[0] % (units.size() + 1);
    std::vector<Utf16Char> folder(units.begin(), units.begin() + static_cast<std::ptrdiff_t>(split));
    std::vector<Utf16Char> entry(units.begin() + static_cast<std::ptrdiff_t>(split), units.end());
    entry.push_back(0);
    const std::size_t capacity = 32;
    std::vector<Utf16Char> path(capacity, u'#');
    std::size_t length = reparse::TrimmedFolderLength(folder.data(), folder.size());
    if (length >= capacity) return;
    for (std::size_t i = 0; i < length; ++i) path[i] = folder[i];
    path[length] = 0;
    const std::size_t grown = reparse::AppendPathComponent(path.data(), length, capacity, entry.data());
    if (grown != 0) {
        Check(grown < capacity && path[grown] == 0);
    } else {
        Check(path[length] == 0);  // unchanged on refusal
    }
    IsDotEntry(entry.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzParse(data, size);
    FuzzRoundTrip(data, size);
    FuzzPathText(data, size);
    return 0;
}
