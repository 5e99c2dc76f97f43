#include "junction/junction.h"

#include "base/debug_log.h"
#include "base/text.h"
#include "base/unique_resource.h"
#include "base/work_pool.h"
#include "junction/reparse_buffer.h"
#include "junction/reparse_platform.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr DWORD kOpenReparseFolderFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD kReparseFolderAttributes = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;

bool IsReparseFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & kReparseFolderAttributes) == kReparseFolderAttributes;
}

// GetFullPathNameW reports a path that does not fit by the size it would need,
// without filling the buffer: only a result below the capacity is a path.
bool ExpandPath(const wchar_t* path, wchar_t (&full)[reparse::kFullPathCapacity]) {
    full[0] = 0;
    const DWORD length = ::GetFullPathNameW(path, reparse::kFullPathCapacity, full, nullptr);
    return length != 0 && length < reparse::kFullPathCapacity;
}

// A junction that only Linux shows (see reparse_platform::ListHiddenLinks): read
// as the walk reads any junction. Other data is no junction and is not reported.
bool ReadHiddenJunction(const wchar_t* path, wchar_t (&target)[kJunctionPathCapacity], DWORD& tag) {
    alignas(8) BYTE block[reparse::kReparseBlockSize];
    DWORD returned = 0;
    if (!reparse_platform::ReadHiddenLinkData(path, block, sizeof block, returned)) return false;
    if (returned > sizeof block) returned = sizeof block;
    wchar_t stored[kJunctionPathCapacity] = L"";
    const reparse::ReparseInfo info = reparse::ParseReparseData(block, returned, stored, kJunctionPathCapacity);
    if (info.kind != reparse::ReparseKind::MountPoint) return false;
    ::lstrcpynW(target, stored, kJunctionPathCapacity);
    tag = info.tag;
    return true;
}

}  // namespace

const wchar_t* WithoutNtPrefix(const wchar_t* path) {
    constexpr wchar_t kPrefix[] = L"\\??\\";
    for (int i = 0; i < 4; ++i) {
        if (path[i] != kPrefix[i]) return path;  // also stops at a short path's terminator
    }
    return path + 4;
}

bool VolumeSupportsReparsePoints(const wchar_t* path) {
    // The root is formed from the first character alone; a path without one
    // names no volume.
    wchar_t root[8] = {};
    if (path != nullptr && path[0] != 0) ::wsprintfW(root, L"%c:\\", path[0]);
    const reparse_platform::VolumeSupport support =
        root[0] != 0 ? reparse_platform::QueryVolumeSupport(root) : reparse_platform::VolumeSupport::Unreadable;
    switch (support) {
    case reparse_platform::VolumeSupport::Supported:
        return true;
    case reparse_platform::VolumeSupport::Unsupported:
        DebugLine(L"TRESSEL.Error: File system doesn't support reparse points.");
        return false;
    case reparse_platform::VolumeSupport::Unreadable:
        break;
    }
    DebugLine(L"TRESSEL.Error: GetVolumeInformation.");
    return false;
}

bool CreateJunction(const wchar_t* linkPath, const wchar_t* targetPath) {
    wchar_t fullLink[reparse::kFullPathCapacity];
    wchar_t fullTarget[reparse::kFullPathCapacity];
    if (!ExpandPath(linkPath, fullLink)) {
        DebugLine(L"TRESSEL.Error: Path expansion.");
        return false;
    }
    if (!ExpandPath(targetPath, fullTarget)) {
        DebugLine(L"TRESSEL.Error: Path expansion (2).");
        return false;
    }
    if (!VolumeSupportsReparsePoints(fullLink)) return false;

    // Either folder may already exist and is then used as it is.
    ::CreateDirectoryW(fullLink, nullptr);
    ::CreateDirectoryW(fullTarget, nullptr);

    // A full path holds at most 259 characters, so "\??\" and it always fit.
    wchar_t substituteName[reparse::kSubstituteNameCapacity];
    reparse::FormSubstituteName(fullTarget, substituteName, reparse::kSubstituteNameCapacity);

    UniqueFileHandle link(::CreateFileW(linkPath, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, kOpenReparseFolderFlags,
                                        nullptr));
    if (!link) {
        DebugLine(L"TRESSEL.Error: Opening host path.");
        return false;
    }

    alignas(8) BYTE block[reparse::kReparseBlockSize];
    const std::size_t size = reparse::BuildMountPointBuffer(substituteName, block, sizeof block);
    const bool set = size != 0 && reparse_platform::SetReparseData(link.get(), fullLink, fullTarget, block,
                                                                   static_cast<DWORD>(size));
    link.reset();
    if (!set) {
        DebugLine(L"TRESSEL.Error: Error creating reparse point.");
        return false;
    }
    return true;
}

bool RemoveJunction(const wchar_t* linkPath) {
    // The list the caller works from may be stale: whatever stands at the path now
    // is removed only while it still carries a reparse point. A plain folder that
    // took its place (with the user's files in it) is never touched.
    // A volume's root is never a junction, whatever the platform shows for it.
    const bool driveRoot = linkPath[0] != 0 && linkPath[1] == L':' &&
                           (linkPath[2] == 0 || (linkPath[2] == L'\\' && linkPath[3] == 0));
    wchar_t hiddenTarget[kJunctionPathCapacity];
    DWORD hiddenTag = 0;
    if (driveRoot ||
        (!IsReparseFolder(::GetFileAttributesW(linkPath)) && !ReadHiddenJunction(linkPath, hiddenTarget, hiddenTag))) {
        DebugLine(L"TRESSEL.Error: Not a reparse point (folder kept).");
        return false;
    }
    if (!reparse_platform::RemoveReparseFolder(linkPath)) {
        DebugLine(L"TRESSEL.Error: Removing reparse point (deleting folder).");
        return false;
    }
    return true;
}

namespace {

// ReadReparsePoint once the folder's attributes are known (the walk has them
// from its listing already).
bool ReadReparseFolder(const wchar_t* path, DWORD attributes, wchar_t (&target)[kJunctionPathCapacity], DWORD& tag) {
    if (!IsReparseFolder(attributes)) return false;
    UniqueFileHandle folder(::CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                          kOpenReparseFolderFlags, nullptr));
    if (!folder) return false;

    alignas(8) BYTE block[reparse::kReparseBlockSize];
    DWORD returned = 0;
    // Data that cannot be read still leaves a reparse folder: reported without a
    // target and without a line.
    if (!reparse_platform::GetReparseData(folder.get(), path, block, sizeof block, returned)) return true;
    if (returned > sizeof block) returned = sizeof block;

    const reparse::ReparseInfo info = reparse::ParseReparseData(block, returned, target, kJunctionPathCapacity);
    switch (info.kind) {
    case reparse::ReparseKind::MountPoint:
        tag = info.tag;
        break;
    case reparse::ReparseKind::ThirdParty:
        DebugLine(L"TRESSEL.Warning: Third-party reparse point not handled.");
        break;
    case reparse::ReparseKind::OtherMicrosoft: {
        wchar_t line[256];
        ::wsprintfW(line, L"TRESSEL.Warning: Unhandled reparse point tag. %X", info.tag);
        DebugLine(line);
        break;
    }
    case reparse::ReparseKind::MalformedJunction:
        // A name outside the data or too long for the target is not shown cut
        // short: the junction is reported without a target.
        DebugLine(L"TRESSEL.Warning: Malformed junction data.");
        break;
    case reparse::ReparseKind::Unreadable:
        break;
    }
    return true;
}

}  // namespace

bool ReadReparsePoint(const wchar_t* path, wchar_t (&target)[kJunctionPathCapacity], DWORD& tag) {
    const DWORD attributes = ::GetFileAttributesW(path);
    if (IsReparseFolder(attributes)) return ReadReparseFolder(path, attributes, target, tag);
    return ReadHiddenJunction(path, target, tag);
}

namespace {

bool SameTarget(const wchar_t* left, const wchar_t* right) {
    return ::CompareStringOrdinal(WithoutNtPrefix(left), -1, WithoutNtPrefix(right), -1, TRUE) == CSTR_EQUAL;
}

// True when `path` is a junction whose stored target is `expected`.
bool StoresTarget(const wchar_t* path, const wchar_t* expected) {
    wchar_t stored[kJunctionPathCapacity] = L"";
    DWORD tag = 0;
    return ReadReparsePoint(path, stored, tag) && tag == IO_REPARSE_TAG_MOUNT_POINT && SameTarget(stored, expected);
}

}  // namespace

bool RepointJunctionAt(const wchar_t* linkPath, const wchar_t* expectedTarget, const wchar_t* newTarget) {
    wchar_t fullLink[reparse::kFullPathCapacity];
    wchar_t fullTarget[reparse::kFullPathCapacity];
    wchar_t substituteName[reparse::kSubstituteNameCapacity];
    alignas(8) BYTE block[reparse::kReparseBlockSize];
    std::size_t size = 0;
    if (!ExpandPath(linkPath, fullLink) || !ExpandPath(newTarget, fullTarget) ||
        !reparse::FormSubstituteName(fullTarget, substituteName, reparse::kSubstituteNameCapacity) ||
        (size = reparse::BuildMountPointBuffer(substituteName, block, sizeof block)) == 0) {
        DebugLine(L"TRESSEL.Error: Path expansion.");
        return false;
    }

    bool set = false;
    if (IsReparseFolder(::GetFileAttributesW(linkPath))) {
        // Held without sharing from the check to the change, so nobody else can
        // point it elsewhere in between.
        UniqueFileHandle link(::CreateFileW(linkPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                            kOpenReparseFolderFlags, nullptr));
        if (!link) {
            DebugLine(L"TRESSEL.Error: Opening host path.");
            return false;
        }
        // Read through the held handle: the path cannot be opened again meanwhile.
        alignas(8) BYTE current[reparse::kReparseBlockSize];
        DWORD returned = 0;
        wchar_t stored[kJunctionPathCapacity] = L"";
        if (!reparse_platform::GetReparseData(link.get(), linkPath, current, sizeof current, returned) ||
            reparse::ParseReparseData(current, returned > sizeof current ? sizeof current : returned, stored,
                                      kJunctionPathCapacity)
                    .kind != reparse::ReparseKind::MountPoint ||
            !SameTarget(stored, expectedTarget)) {
            DebugLine(L"TRESSEL.Error: Not the junction expected (kept as it is).");
            return false;
        }
        set = reparse_platform::SetReparseData(link.get(), fullLink, fullTarget, block, static_cast<DWORD>(size));
    } else {
        if (!StoresTarget(linkPath, expectedTarget)) {
            DebugLine(L"TRESSEL.Error: Not the junction expected (kept as it is).");
            return false;
        }
        set = reparse_platform::SetHiddenLinkData(fullLink, fullTarget, block, static_cast<DWORD>(size));
    }
    if (!set || !StoresTarget(linkPath, substituteName)) {
        DebugLine(L"TRESSEL.Error: Error creating reparse point.");
        return false;
    }
    return true;
}

namespace {

constexpr int kStopped = -1;

struct HiddenNames {
    std::vector<std::wstring> names;
};

void CollectHiddenName(void* context, const wchar_t* name) {
    try {
        static_cast<HiddenNames*>(context)->names.emplace_back(name);
    } catch (...) {
        // Out of memory: the link goes unreported, as any folder that cannot be listed.
    }
}

int VisitHiddenJunctions(const reparse_platform::HiddenLinkFinder& finder, wchar_t* path, std::size_t length,
                         wchar_t (&target)[kJunctionPathCapacity], JunctionVisitor visitor, std::uintptr_t context) {
    HiddenNames hidden;
    finder.List(path, CollectHiddenName, &hidden);
    int found = 0;
    for (const std::wstring& name : hidden.names) {
        if (reparse::AppendPathComponent(path, length, kJunctionPathCapacity, name.c_str()) == 0) continue;
        target[0] = 0;
        DWORD tag = 0;
        if (ReadHiddenJunction(path, target, tag)) {
            ++found;
            if (!visitor(context, path, target, tag)) {
                path[length] = 0;
                return kStopped;
            }
        }
        path[length] = 0;
    }
    return found;
}

// Under Wine, an entry of a folder listed through Linux, in `path`: a link is
// read and reported, and a folder is polled for (`walkInto` then says to go into
// it). False once the visitor stops the walk.
bool VisitHostEntry(reparse_platform::HostEntryKind kind, const wchar_t* path,
                    wchar_t (&target)[kJunctionPathCapacity], JunctionVisitor visitor, std::uintptr_t context,
                    long& found, bool& walkInto) {
    walkInto = false;
    target[0] = 0;
    DWORD tag = 0;
    if (kind == reparse_platform::HostEntryKind::HiddenLink) {
        if (!ReadHiddenJunction(path, target, tag)) return true;
        ++found;
        return visitor(context, path, target, tag);
    }
    const DWORD attributes = FILE_ATTRIBUTE_DIRECTORY |
                             (kind == reparse_platform::HostEntryKind::FolderLink ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    if (ReadReparseFolder(path, attributes, target, tag)) {
        ++found;
        return visitor(context, path, target, tag);
    }
    walkInto = true;
    return visitor(context, nullptr, nullptr, 0);
}

// Everything the walk needs that is not tied to one level. A level keeps only its
// listing handle and the length of its own path in `path`: the path is grown for
// a sub-folder and cut back when the walk returns, and the listing entry is used
// up before the walk goes deeper. So the stack grows by a few dozen bytes per
// level, and the depth is bounded by the path's own capacity: each level adds a
// backslash and at least one character, so 1023 characters allow at most 511.
struct WalkState {
    const reparse_platform::HiddenLinkFinder* finder;
    JunctionVisitor visitor;
    std::uintptr_t context;
    bool recurse;
    wchar_t path[kJunctionPathCapacity];
    wchar_t target[kJunctionPathCapacity];
    WIN32_FIND_DATAW entry;
};

// Lists the folder held in state.path[0, length). Returns kStopped or the number
// of Found calls made for its direct sub-folders.
int WalkFolder(WalkState& state, std::size_t length);

// The folder in state.path[0, length) as one Linux listing showed it (see
// WalkFolder).
int WalkListedFolder(WalkState& state, std::size_t length, const std::vector<reparse_platform::HostEntry>& entries) {
    long found = 0;
    for (const reparse_platform::HostEntry& entry : entries) {
        const std::size_t childLength =
            reparse::AppendPathComponent(state.path, length, kJunctionPathCapacity, entry.name.c_str());
        if (childLength == 0) {
            DebugLine(L"TRESSEL.Warning: Path too long, folder skipped.");
            continue;
        }
        DebugLine(state.path);
        bool walkInto = false;
        if (!VisitHostEntry(entry.kind, state.path, state.target, state.visitor, state.context, found, walkInto)) {
            return kStopped;
        }
        if (walkInto && state.recurse && WalkFolder(state, childLength) == kStopped) return kStopped;
        state.path[length] = 0;
    }
    return static_cast<int>(found);
}

int WalkFolder(WalkState& state, std::size_t length) {
    // A folder without room for its listing's pattern is not listed, whichever
    // way it would be.
    if (reparse::AppendPathComponent(state.path, length, kJunctionPathCapacity, L"*.*") == 0) return 0;
    state.path[length] = 0;
    // Under Wine one Linux listing shows the folders and every link, the ones
    // Wine leaves out included; otherwise the folder is listed as on Windows.
    {
        std::vector<reparse_platform::HostEntry> entries;
        if (state.finder->ListFoldersAndLinks(state.path, entries)) return WalkListedFolder(state, length, entries);
    }
    reparse::AppendPathComponent(state.path, length, kJunctionPathCapacity, L"*.*");
    UniqueFindHandle listing(::FindFirstFileW(state.path, &state.entry));
    state.path[length] = 0;
    // A folder whose listing cannot be opened (no rights, a path too long) has
    // no entries to visit; the walk goes on with its siblings.
    if (!listing) return 0;

    int found = 0;
    do {
        if ((state.entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
        if (IsDotEntry(state.entry.cFileName)) continue;

        const std::size_t childLength =
            reparse::AppendPathComponent(state.path, length, kJunctionPathCapacity, state.entry.cFileName);
        if (childLength == 0) {
            DebugLine(L"TRESSEL.Warning: Path too long, folder skipped.");
            continue;
        }
        DebugLine(state.path);

        // The listing already holds the folder's attributes: only a folder it
        // shows as a reparse point is opened.
        state.target[0] = 0;
        DWORD tag = 0;
        if (ReadReparseFolder(state.path, state.entry.dwFileAttributes, state.target, tag)) {
            ++found;
            if (!state.visitor(state.context, state.path, state.target, tag)) return kStopped;
        } else {
            if (!state.visitor(state.context, nullptr, nullptr, 0)) return kStopped;
            if (state.recurse && WalkFolder(state, childLength) == kStopped) return kStopped;
        }
        state.path[length] = 0;
    } while (::FindNextFileW(listing.get(), &state.entry));
    const int hidden = VisitHiddenJunctions(*state.finder, state.path, length, state.target, state.visitor,
                                            state.context);
    return hidden == kStopped ? kStopped : found + hidden;
}

// Copies the walk's start folder into `path` without its trailing backslash and
// reports it when it is itself a reparse point. Returns false when the walk is
// over before it lists anything: the path does not fit, or the visitor stopped
// (then `stopped` is set).
bool StartWalk(const wchar_t* folder, JunctionVisitor visitor, std::uintptr_t context,
               wchar_t (&path)[kJunctionPathCapacity], std::size_t& length, int& found, bool& stopped) {
    found = 0;
    stopped = false;
    const std::size_t given = reparse::BoundedLength(folder, kJunctionPathCapacity);
    if (given >= kJunctionPathCapacity) {
        DebugLine(L"TRESSEL.Error: Folder path too long.");
        return false;
    }
    length = reparse::TrimmedFolderLength(folder, given);
    for (std::size_t i = 0; i < length; ++i) path[i] = folder[i];
    path[length] = 0;

    // A drive root is walked as "D:" so that sub-folders read "D:\name". The root
    // of a volume is never a junction (Wine shows a drive that is a Linux mount
    // point as a reparse folder, which it is not on Windows), so it is not read.
    const bool driveRoot = length == 2 && folder[1] == L':';
    wchar_t target[kJunctionPathCapacity] = L"";
    DWORD tag = 0;
    if (!driveRoot && ReadReparsePoint(path, target, tag)) {
        ++found;
        if (!visitor(context, path, target, tag)) {
            stopped = true;
            return false;
        }
    }
    return true;
}

}  // namespace

int FindJunctions(const wchar_t* folder, JunctionVisitor visitor, std::uintptr_t context, bool recurse) {
    if (folder == nullptr || visitor == nullptr) return 0;
    WalkState state;
    state.visitor = visitor;
    state.context = context;
    state.recurse = recurse;

    std::size_t length = 0;
    int found = 0;
    bool stopped = false;
    if (!StartWalk(folder, visitor, context, state.path, length, found, stopped)) return stopped ? kStopped : 0;
    const reparse_platform::HiddenLinkFinder finder(state.path);
    state.finder = &finder;
    const int walked = WalkFolder(state, length);
    return walked == kStopped ? kStopped : found + walked;
}

namespace {

// What one thread of the pooled walk works in, kept off its small stack.
struct WorkerBuffers {
    wchar_t path[kJunctionPathCapacity];
    wchar_t target[kJunctionPathCapacity];
    WIN32_FIND_DATAW entry;
    std::vector<reparse_platform::HostEntry> listed;
};

// Lists one folder per call, on any thread of the pool: reports its reparse-point
// sub-folders, polls before each ordinary one and hands those to the pool.
class PooledWalk {
public:
    PooledWalk(WorkPool<std::wstring>& pool, const reparse_platform::HiddenLinkFinder& finder, JunctionVisitor visitor,
               std::uintptr_t context, bool recurse, int threads)
        : pool_(pool), finder_(finder), visitor_(visitor), context_(context), recurse_(recurse),
          buffers_(std::make_unique<WorkerBuffers[]>(static_cast<std::size_t>(threads))) {}

    long Found() const { return found_.load(); }

    void operator()(const std::wstring& folder, int worker) {
        WorkerBuffers& own = buffers_[static_cast<std::size_t>(worker)];
        // Every folder in the pool was built in a path buffer, so it fits one.
        const std::size_t length = folder.size();
        folder.copy(own.path, length);
        own.path[length] = 0;

        // A folder without room for its listing's pattern is not listed, whichever
        // way it would be.
        if (reparse::AppendPathComponent(own.path, length, kJunctionPathCapacity, L"*.*") == 0) return;
        own.path[length] = 0;
        // Under Wine one Linux listing shows the folders and every link.
        if (finder_.ListFoldersAndLinks(own.path, own.listed)) {
            WalkListed(own, length);
            return;
        }
        reparse::AppendPathComponent(own.path, length, kJunctionPathCapacity, L"*.*");
        UniqueFindHandle listing(::FindFirstFileW(own.path, &own.entry));
        own.path[length] = 0;
        // A folder whose listing cannot be opened has no entries to visit.
        if (!listing) return;
        do {
            if (pool_.StopRequested()) return;
            if ((own.entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
            if (IsDotEntry(own.entry.cFileName)) continue;
            const std::size_t childLength =
                reparse::AppendPathComponent(own.path, length, kJunctionPathCapacity, own.entry.cFileName);
            if (childLength == 0) {
                DebugLine(L"TRESSEL.Warning: Path too long, folder skipped.");
                continue;
            }
            if (!VisitSubFolder(own, childLength)) {
                pool_.Stop();
                return;
            }
            own.path[length] = 0;
        } while (::FindNextFileW(listing.get(), &own.entry));
        const int hidden = VisitHiddenJunctions(finder_, own.path, length, own.target, visitor_, context_);
        if (hidden == kStopped) {
            pool_.Stop();
            return;
        }
        found_ += hidden;
    }

private:
    void WalkListed(WorkerBuffers& own, std::size_t length) {
        long found = 0;
        for (const reparse_platform::HostEntry& entry : own.listed) {
            if (pool_.StopRequested()) break;
            const std::size_t childLength =
                reparse::AppendPathComponent(own.path, length, kJunctionPathCapacity, entry.name.c_str());
            if (childLength == 0) {
                DebugLine(L"TRESSEL.Warning: Path too long, folder skipped.");
                continue;
            }
            DebugLine(own.path);
            bool walkInto = false;
            if (!VisitHostEntry(entry.kind, own.path, own.target, visitor_, context_, found, walkInto)) {
                pool_.Stop();
                break;
            }
            if (walkInto && recurse_) pool_.Add(std::wstring(own.path, childLength));
            own.path[length] = 0;
        }
        found_ += found;
    }

    // The sub-folder in own.path: false once the visitor stops the walk.
    bool VisitSubFolder(WorkerBuffers& own, std::size_t childLength) {
        DebugLine(own.path);
        own.target[0] = 0;
        DWORD tag = 0;
        if (ReadReparseFolder(own.path, own.entry.dwFileAttributes, own.target, tag)) {
            ++found_;
            return visitor_(context_, own.path, own.target, tag);
        }
        if (!visitor_(context_, nullptr, nullptr, 0)) return false;
        if (recurse_) pool_.Add(std::wstring(own.path, childLength));
        return true;
    }

    WorkPool<std::wstring>& pool_;
    const reparse_platform::HiddenLinkFinder& finder_;
    JunctionVisitor visitor_;
    std::uintptr_t context_;
    bool recurse_;
    std::unique_ptr<WorkerBuffers[]> buffers_;
    std::atomic<long> found_{0};
};

}  // namespace

int FindJunctionsPooled(const wchar_t* folder, JunctionVisitor visitor, std::uintptr_t context, bool recurse,
                        int threads) {
    if (folder == nullptr || visitor == nullptr) return 0;
    if (threads <= 0) threads = PoolThreadCount();
    if (threads > kMaxPoolThreads) threads = kMaxPoolThreads;
    try {
        wchar_t path[kJunctionPathCapacity];
        std::size_t length = 0;
        int found = 0;
        bool stopped = false;
        if (!StartWalk(folder, visitor, context, path, length, found, stopped)) return stopped ? kStopped : 0;

        WorkPool<std::wstring> pool;
        const reparse_platform::HiddenLinkFinder finder(path);
        PooledWalk walk(pool, finder, visitor, context, recurse, threads);
        pool.Add(std::wstring(path, length));
        switch (pool.Run(threads, walk)) {
        case PoolOutcome::Finished:
            return found + static_cast<int>(walk.Found());
        case PoolOutcome::Stopped:
            return kStopped;
        case PoolOutcome::Failed:
            break;
        }
    } catch (...) {
        // Out of memory before the pool ran.
    }
    DebugLine(L"TRESSEL.Error: Out of memory, walk stopped.");
    return kStopped;
}
