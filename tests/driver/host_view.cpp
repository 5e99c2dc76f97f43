#include "tests/driver/host_view.h"

#include "junction/wine_host.h"

namespace testing_driver {

namespace {

constexpr char kReparseDataAttribute[] = "system.ntfs_reparse_data";

// The entry itself: a trailing slash would make Linux follow a link.
std::string EntryPath(const std::wstring& windowsPath) {
    std::string path = UnixPathOf(windowsPath);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

void Append16(Bytes& data, std::uint32_t value) {
    data.push_back(static_cast<std::uint8_t>(value));
    data.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Append32(Bytes& data, std::uint32_t value) {
    Append16(data, value & 0xFFFF);
    Append16(data, value >> 16);
}

void AppendName(Bytes& data, const std::wstring& name) {
    for (wchar_t c : name) Append16(data, static_cast<std::uint16_t>(c));
    Append16(data, 0);
}

// The 8-byte header before `body`: tag, ReparseDataLength, Reserved.
Bytes WithHeader(std::uint32_t tag, const Bytes& body) {
    Bytes data;
    Append32(data, tag);
    Append16(data, static_cast<std::uint32_t>(body.size()));
    Append16(data, 0);
    data.insert(data.end(), body.begin(), body.end());
    return data;
}

// Offsets, lengths and the two names; `extra` fields (the symbolic link's flags)
// sit between the lengths and the names.
Bytes NamedBody(const std::wstring& substituteName, const std::wstring& printName, bool printNameFirst,
                const Bytes& extra) {
    const auto substituteBytes = static_cast<std::uint32_t>(substituteName.size() * 2);
    const auto printBytes = static_cast<std::uint32_t>(printName.size() * 2);
    Bytes body;
    Append16(body, printNameFirst ? printBytes + 2 : 0);
    Append16(body, substituteBytes);
    Append16(body, printNameFirst ? 0 : substituteBytes + 2);
    Append16(body, printBytes);
    body.insert(body.end(), extra.begin(), extra.end());
    if (printNameFirst) {
        AppendName(body, printName);
        AppendName(body, substituteName);
    } else {
        AppendName(body, substituteName);
        AppendName(body, printName);
    }
    return body;
}

}  // namespace

std::string UnixPathOf(const std::wstring& windowsPath) {
    char path[4096];
    if (!wine_host::UnixPathOf(windowsPath.c_str(), path, sizeof path)) return std::string();
    return path;
}

std::optional<Bytes> ReadNtfsReparseData(const std::wstring& windowsPath) {
    const std::string path = EntryPath(windowsPath);
    Bytes data(16384);
    const long length = wine_host::LGetXattr(path.c_str(), kReparseDataAttribute, data.data(), data.size());
    if (path.empty() || length < 0) return std::nullopt;
    data.resize(static_cast<std::size_t>(length));
    return data;
}

long WriteNtfsReparseData(const std::wstring& windowsPath, const Bytes& data) {
    const std::string path = EntryPath(windowsPath);
    if (path.empty()) return -wine_host::kErrorNoEntry;
    const long result = wine_host::LSetXattr(path.c_str(), kReparseDataAttribute, data.data(), data.size());
    // FUSE keeps the entry as the folder it was until something looks at it once.
    wine_host::UnixFileStatus status;
    wine_host::LStat(path.c_str(), status);
    return result;
}

std::optional<std::string> HostLinkTarget(const std::wstring& windowsPath) {
    const std::string path = EntryPath(windowsPath);
    char target[4096];
    const long length = wine_host::ReadLink(path.c_str(), target, sizeof target - 1);
    if (path.empty() || length < 0) return std::nullopt;
    return std::string(target, static_cast<std::size_t>(length));
}

std::optional<std::string> HostResolvedPath(const std::wstring& windowsPath) {
    const std::string path = UnixPathOf(windowsPath);
    char resolved[4096];
    if (path.empty() || wine_host::CanonicalPath(path.c_str(), resolved, sizeof resolved) < 0) return std::nullopt;
    return std::string(resolved);
}

HostType HostTypeOf(const std::wstring& windowsPath) {
    const std::string path = EntryPath(windowsPath);
    wine_host::UnixFileStatus status;
    if (path.empty() || wine_host::LStat(path.c_str(), status) != 0) return HostType::Missing;
    switch (status.mode & wine_host::kUnixTypeMask) {
    case wine_host::kUnixDirectory:
        return HostType::Directory;
    case wine_host::kUnixSymlink:
        return HostType::Symlink;
    case 0100000:
        return HostType::File;
    default:
        return HostType::Other;
    }
}

Bytes MountPointData(const std::wstring& substituteName, const std::wstring& printName, bool printNameFirst) {
    return WithHeader(0xA0000003, NamedBody(substituteName, printName, printNameFirst, Bytes()));
}

Bytes SymbolicLinkData(const std::wstring& substituteName, const std::wstring& printName, bool relative) {
    Bytes flags;
    Append32(flags, relative ? 1 : 0);
    return WithHeader(0xA000000C, NamedBody(substituteName, printName, false, flags));
}

Bytes ThirdPartyData(std::uint32_t tag, const Bytes& payload) {
    // REPARSE_GUID_DATA_BUFFER: the GUID follows the header but is not counted
    // in ReparseDataLength.
    Bytes data;
    Append32(data, tag);
    Append16(data, static_cast<std::uint32_t>(payload.size()));
    Append16(data, 0);
    for (std::uint8_t i = 0; i < 16; ++i) data.push_back(static_cast<std::uint8_t>(0x11 * (i + 1)));
    data.insert(data.end(), payload.begin(), payload.end());
    return data;
}

void Poke16(Bytes& data, std::size_t offset, std::uint16_t value) {
    data.at(offset) = static_cast<std::uint8_t>(value);
    data.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace testing_driver
