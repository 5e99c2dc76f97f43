#include "engine/moved_links.h"

#include <windows.h>

#include "engine/disk_calls.h"
#include "base/debug_log.h"
#include "junction/link_data.h"
#include "engine/folder_move.h"
#include "engine/relocation_paths.h"

namespace {

constexpr int kMoveBackPasses = 3;
constexpr DWORD kMoveBackPauseMs = 100;
constexpr int kLongestLinkFolder = 32767;

// True when nothing stands at `path` any more; an entry that cannot be read is
// still there as far as anyone can tell.
bool IsGone(const std::wstring& path) {
    return disk::Attributes(path) == INVALID_FILE_ATTRIBUTES && IsNotFoundError(::GetLastError());
}

bool IsLinkEntry(const std::wstring& path) {
    const DWORD attributes = disk::Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The data a link may carry where it stands: as recorded, or re-pointed when it
// was made in another folder than the one it was read in.
std::vector<ReparseBytes> AcceptedData(const LinkRecord& link, const std::wstring& madeFrom,
                                       const std::wstring& madeIn) {
    std::vector<ReparseBytes> accepted{link.data};
    // Junctions store full paths: the folders are compared in the same form.
    std::wstring fullFrom;
    std::wstring fullIn;
    ReparseBytes repointed;
    if (!madeFrom.empty() && FullPathWithin(madeFrom, kLongestLinkFolder, fullFrom) &&
        FullPathWithin(madeIn, kLongestLinkFolder, fullIn) && RepointJunction(link.data, fullFrom, fullIn, repointed) &&
        repointed != link.data) {
        accepted.push_back(std::move(repointed));
    }
    return accepted;
}

bool RemoveLink(const std::wstring& path, const LinkRecord& link, const std::wstring& madeFrom = std::wstring(),
                const std::wstring& madeIn = std::wstring()) {
    return IsLinkEntry(path) && disk::RemoveLink(path, link.folder, AcceptedData(link, madeFrom, madeIn)) &&
           IsGone(path);
}

std::vector<LinkRecord> FirstLinks(const std::vector<LinkRecord>& links, size_t count) {
    return std::vector<LinkRecord>(links.begin(), links.begin() + static_cast<std::ptrdiff_t>(count));
}

}  // namespace

bool TakeLinksOut(const std::wstring& root, const std::vector<LinkRecord>& links, std::wstring& failedPath,
                  bool& putBack) {
    putBack = true;
    for (size_t i = 0; i < links.size(); ++i) {
        const std::wstring path = JoinPath(root, links[i].relativePath);
        if (RemoveLink(path, links[i])) continue;
        failedPath = path;
        // The failed one may be gone all the same (its removal done, the check after
        // it failed): it is made again with the others unless it still stands.
        putBack = PutLinksBack(root, FirstLinks(links, i + 1));
        return false;
    }
    return true;
}

bool PutLinksIn(const std::wstring& root, const std::vector<LinkRecord>& links, const std::wstring& oldFolder,
                const std::wstring& newFolder, std::wstring& failedPath) {
    for (size_t i = 0; i < links.size(); ++i) {
        const std::wstring path = JoinPath(root, links[i].relativePath);
        ReparseBytes data;
        if (RepointJunction(links[i].data, oldFolder, newFolder, data) &&
            disk::MakeLink(path, links[i].folder, data)) {
            continue;
        }
        DebugLineF(L"Tressel.Error: could not make the link %s", path.c_str());
        failedPath = path;
        if (!RemoveLinksFrom(root, FirstLinks(links, i), oldFolder, newFolder)) {
            DebugLine(L"Tressel.Error: links made in the destination could not all be removed again.");
        }
        return false;
    }
    return true;
}

bool PutLinksBack(const std::wstring& root, const std::vector<LinkRecord>& links) {
    bool all = true;
    for (const auto& link : links) {
        const std::wstring path = JoinPath(root, link.relativePath);
        if (IsLinkEntry(path)) continue;  // still (or again) there
        if (!disk::MakeLink(path, link.folder, link.data)) {
            DebugLineF(L"Tressel.Error: could not put the link %s back", path.c_str());
            all = false;
        }
    }
    return all;
}

bool RemoveLinksFrom(const std::wstring& root, const std::vector<LinkRecord>& links, const std::wstring& madeFrom,
                     const std::wstring& madeIn) {
    bool all = true;
    for (const auto& link : links) {
        const std::wstring path = JoinPath(root, link.relativePath);
        if (IsGone(path)) continue;
        if (!RemoveLink(path, link, madeFrom, madeIn)) all = false;
    }
    return all;
}

bool MoveBackWithLinks(const std::wstring& from, const std::wstring& to, const std::vector<std::wstring>& names,
                       const std::vector<LinkRecord>& links, const std::function<bool()>& allBack) {
    for (int pass = 0; pass < kMoveBackPasses; ++pass) {
        if (pass > 0) ::Sleep(kMoveBackPauseMs);
        // The links in `from` were made there from records read in `to`.
        const bool linksRemoved = RemoveLinksFrom(from, links, to, from);
        const bool moved = MoveEntriesBack(from, to, names);
        const bool linksBack = PutLinksBack(to, links);
        if (linksRemoved && moved && linksBack && allBack()) return true;
        DebugLineF(L"Tressel.Warning: not everything is back in %s yet (pass %d).", to.c_str(), pass + 1);
    }
    return false;
}
