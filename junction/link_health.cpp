#include "junction/link_health.h"

#include "junction/junction.h"

#include <cwctype>

namespace {

// How many links a chain is followed through before it counts as a loop.
constexpr int kMaxChainLinks = 32;

std::wstring WithoutTrailingBackslash(const std::wstring& path) {
    std::wstring trimmed = path;
    while (trimmed.size() > 3 && trimmed.back() == L'\\') trimmed.pop_back();
    return trimmed;
}

bool StartsWithIgnoringCase(const std::wstring& text, const wchar_t* prefix) {
    const std::size_t length = std::char_traits<wchar_t>::length(prefix);
    return text.size() >= length &&
           ::CompareStringOrdinal(text.c_str(), static_cast<int>(length), prefix, static_cast<int>(length), TRUE) ==
               CSTR_EQUAL;
}

// Follows the links from `target` on: PointsIntoItself when they lead back into
// `junction`, TargetIsLink otherwise.
LinkHealth FollowChain(const std::wstring& junction, std::wstring target) {
    for (int link = 0; link < kMaxChainLinks; ++link) {
        wchar_t stored[kJunctionPathCapacity] = L"";
        DWORD tag = 0;
        if (!ReadReparsePoint(target.c_str(), stored, tag) || tag != IO_REPARSE_TAG_MOUNT_POINT) {
            return LinkHealth::TargetIsLink;
        }
        target = WithoutNtPrefix(stored);
        if (IsSameOrInside(junction, target)) return LinkHealth::PointsIntoItself;
    }
    return LinkHealth::PointsIntoItself;  // round and round among other links
}

}  // namespace

const wchar_t* LinkHealthText(LinkHealth health) {
    switch (health) {
    case LinkHealth::Ok:
        return L"OK";
    case LinkHealth::TargetMissing:
        return L"Target missing";
    case LinkHealth::TargetNotFolder:
        return L"Target is not a folder";
    case LinkHealth::TargetIsLink:
        return L"Target is a link";
    case LinkHealth::PointsIntoItself:
        return L"Points into itself";
    case LinkHealth::DriveNotThere:
        return L"Target on a drive that is not there";
    case LinkHealth::OnAnotherComputer:
        return L"Target on another computer";
    case LinkHealth::NotAJunction:
        return L"Not a junction";
    }
    return L"";
}

bool IsNetworkTarget(const std::wstring& target) {
    return StartsWithIgnoringCase(target, L"UNC\\") || target.compare(0, 2, L"\\\\") == 0;
}

bool IsSameOrInside(const std::wstring& path, const std::wstring& folder) {
    const std::wstring inner = WithoutTrailingBackslash(path);
    const std::wstring outer = WithoutTrailingBackslash(folder);
    if (outer.empty() || inner.size() < outer.size()) return false;
    if (::CompareStringOrdinal(inner.c_str(), static_cast<int>(outer.size()), outer.c_str(),
                               static_cast<int>(outer.size()), TRUE) != CSTR_EQUAL) {
        return false;
    }
    // On a whole name: the rest starts a new one, or the folder is a root ("D:\").
    return inner.size() == outer.size() || inner[outer.size()] == L'\\' || outer.back() == L'\\';
}

wchar_t TargetDriveLetter(const std::wstring& target) {
    if (target.size() < 2 || target[1] != L':' || !std::iswalpha(target[0]) || target[0] > L'z') return 0;
    if (target.size() > 2 && target[2] != L'\\') return 0;
    return static_cast<wchar_t>(std::towupper(target[0]));
}

UINT DriveTypes::Of(wchar_t letter) {
    const wchar_t root[] = {letter, L':', L'\\', 0};
    if (letter < L'A' || letter > L'Z') return ::GetDriveTypeW(root);
    std::atomic<UINT>& known = types_[letter - L'A'];
    UINT type = known.load(std::memory_order_relaxed);
    if (type == 0) {
        type = ::GetDriveTypeW(root);
        known.store(type, std::memory_order_relaxed);
    }
    return type;
}

LinkHealth CheckLinkHealth(const std::wstring& junction, const std::wstring& target, DriveTypes* drives) {
    if (target.empty()) return LinkHealth::NotAJunction;
    if (IsNetworkTarget(target)) return LinkHealth::OnAnotherComputer;
    if (const wchar_t letter = TargetDriveLetter(target)) {
        const wchar_t root[] = {letter, L':', L'\\', 0};
        switch (drives != nullptr ? drives->Of(letter) : ::GetDriveTypeW(root)) {
        case DRIVE_REMOTE:
            return LinkHealth::OnAnotherComputer;
        case DRIVE_NO_ROOT_DIR:
            return LinkHealth::DriveNotThere;
        default:
            break;
        }
    }
    if (IsSameOrInside(junction, target)) return LinkHealth::PointsIntoItself;

    // One look at the target answers for most links; a link is read further.
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    const DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : ERROR_SUCCESS;
    wchar_t stored[kJunctionPathCapacity] = L"";
    DWORD tag = 0;
    const bool mayBeLink = attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    // (Under Wine a junction whose own target is gone looks missing: read it.)
    if (mayBeLink && ReadReparsePoint(target.c_str(), stored, tag)) return FollowChain(junction, target);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // A target that is there but may not be looked at (no rights) is still there.
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
                       error == ERROR_BAD_PATHNAME || error == ERROR_INVALID_DRIVE
                   ? LinkHealth::TargetMissing
                   : LinkHealth::Ok;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return LinkHealth::TargetIsLink;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return LinkHealth::TargetNotFolder;
    return LinkHealth::Ok;
}
