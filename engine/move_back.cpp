#include "engine/move_back.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "engine/copy_across.h"
#include "engine/disk_calls.h"
#include "base/debug_log.h"
#include "base/text.h"
#include "base/unique_resource.h"
#include "engine/folder_move.h"
#include "engine/journal_keeper.h"
#include "engine/moved_links.h"
#include "engine/folder_identity.h"
#include "engine/operation_lock.h"
#include "engine/relocation_paths.h"
#include "junction/junction.h"
#include "junction/reparse_platform.h"
#include "junction/link_data.h"

namespace {

using M = RelocationMessage;

constexpr wchar_t kNtPrefix[] = L"\\??\\";
constexpr size_t kNtPrefixLength = 4;

bool IsPlainFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// "D:\..." on a drive of this machine: not a network share, not a volume name, not
// a CD.
bool IsLocalDrivePath(const std::wstring& path) {
    if (path.size() < 3 || path[1] != L':' || path[2] != L'\\') return false;
    const wchar_t letter = path[0];
    if (!((letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z'))) return false;
    const wchar_t root[] = {letter, L':', L'\\', L'\0'};
    switch (::GetDriveTypeW(root)) {
    case DRIVE_FIXED:
    case DRIVE_REMOVABLE:
    case DRIVE_RAMDISK:
        return true;
    default:
        return false;
    }
}

// Whether a rename carries files from one folder to the other.
bool SameVolume(const std::wstring& a, const std::wstring& b) {
    return reparse_platform::CompareVolumes(a.c_str(), b.c_str()) == reparse_platform::VolumeMatch::Same;
}

// The parent folder of `path`, where the plain folder will stand.
std::wstring ParentOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return path;
    return path.substr(0, slash == 2 ? 3 : slash);  // keep "D:\"
}

class MoveBack {
public:
    MoveBack(const MoveBackRequest& request, RelocationObserver& observer)
        : request_(request),
          observer_(observer),
          store_(request.journal != nullptr ? *request.journal : JournalStore::ForCurrentUser()) {}

    MoveBackResult Run() {
        if (!ReadJunction() || !NoJournalPending()) return MoveBackResult::Refused;
        // The scan runs on its worker while the caller's window keeps answering, and
        // totals the bytes: the question names a size that no walk on the caller's
        // thread had to find first. What cannot go ahead is said before anything is
        // asked.
        if (!ScanPasses()) return scanCancelled_ ? MoveBackResult::Declined : MoveBackResult::Refused;
        if (!HasRoom()) return MoveBackResult::Refused;
        if (!observer_.Confirm(Question(), facts_)) return MoveBackResult::Declined;
        if (!SystemFilesAccepted()) return MoveBackResult::Declined;
        if (!ListMovedEntries() || !LinksCanBeCarried() || !NothingSwapped() || !JournalStarted()) {
            return MoveBackResult::Refused;
        }

        // From the junction's removal until everything stands where it ends, a
        // stopped program would leave the files split; the journal then tells the
        // next start where they are.
        observer_.OnFilesMoving(true);
        const MoveBackResult moved = byCopy_ ? CopyBack() : ReplaceAndMove();
        observer_.OnFilesMoving(false);
        if (moved != MoveBackResult::Completed || byCopy_) return moved;

        // Said left only when it is seen there still.
        targetHold_.Release();
        const bool targetRemoved = disk::RemoveFolder(plan_.target) || NothingAt(plan_.target);
        if (!targetRemoved) DebugErrorLine((L"Tressel.Error: removing the emptied folder " + plan_.target).c_str());
        keeper_->Close();
        (void)store_.RemoveMovedRecord(fullJunction_);
        observer_.Report(targetRemoved ? M::MoveBackCompleted : M::MoveBackTargetLeft, facts_);
        return MoveBackResult::Completed;
    }

private:
    bool Refuse(RelocationMessage message) {
        observer_.Report(message, facts_);
        return false;
    }

    bool ReadJunction() {
        std::wstring junction = request_.junction;
        CleanRelocationPath(junction);
        facts_.source = junction;
        if (junction.empty() || junction.size() >= MAX_PATH) return Refuse(M::MoveBackNotJunction);
        DWORD tag = 0;
        if (disk::ReadLink(junction, true, linkData_, tag) != LinkKind::Junction) {
            return Refuse(M::MoveBackNotJunction);
        }
        if (!FullPathWithin(junction, MAX_PATH - 1, fullJunction_)) return Refuse(M::MoveBackNotJunction);
        const std::wstring stored = LinkSubstituteName(linkData_);
        plan_.junction = junction;
        plan_.target = stored.compare(0, kNtPrefixLength, kNtPrefix) == 0 ? stored.substr(kNtPrefixLength) : stored;
        facts_.target = plan_.target;
        // A drive's root holds the drive's own folders and cannot be removed once
        // emptied: what was moved there cannot be told from what was there.
        if (IsLocalDrivePath(plan_.target) && IsDriveRoot(plan_.target)) return Refuse(M::MoveBackTargetIsRoot);
        if (!IsLocalDrivePath(plan_.target) || !IsPlainFolder(disk::Attributes(plan_.target)) ||
            !ReadPlainFolderId(plan_.target, targetId_)) {
            return Refuse(M::MoveBackTargetNotLocal);
        }
        (void)targetHold_.Take(plan_.target, targetId_);
        return JunctionAndTargetSeparate();
    }

    // Entries of the folder that its relocation did not move there (the folder
    // held them before): the question names the first and counts them. Known only
    // where the relocation left its record and the folder is still the one it
    // moved into.
    bool HeldBefore() {
        MovedRecord record;
        std::vector<std::wstring> names;
        if (!store_.ReadMovedRecord(fullJunction_, record) ||
            ::CompareStringOrdinal(record.target.c_str(), -1, plan_.target.c_str(), -1, TRUE) != CSTR_EQUAL ||
            (record.targetId.known() && record.targetId != targetId_) || !ListFolderEntries(plan_.target, names)) {
            return false;
        }
        int count = 0;
        for (const std::wstring& name : names) {
            const bool moved = std::any_of(record.entries.begin(), record.entries.end(), [&](const std::wstring& entry) {
                return ::CompareStringOrdinal(entry.c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL;
            });
            if (moved) continue;
            if (count++ == 0) facts_.name = JoinPath(plan_.target, name);
        }
        facts_.limit = count;
        return count > 0;
    }

    // A junction inside its own folder (the built-in "Application Data" in
    // AppData\Local points at AppData\Local), or a folder inside the junction,
    // would be moved into itself. Told by the paths as written and as the system
    // resolves them, and by the identity of every folder above the junction.
    bool JunctionAndTargetSeparate() {
        const std::wstring parent = ParentOf(fullJunction_);
        const std::wstring name = fullJunction_.substr(fullJunction_.find_last_of(L'\\') + 1);
        const bool separate =
            RelatePaths(fullJunction_, plan_.target) == PathRelation::Separate &&
            RelatePaths(JoinPath(ResolvedPath(parent), name), ResolvedPath(plan_.target)) == PathRelation::Separate &&
            !AnAncestorIs(parent, targetId_);
        return separate || Refuse(M::MoveBackNotSeparate);
    }

    static bool AnAncestorIs(std::wstring folder, const FolderId& id) {
        for (;;) {
            FolderId here;
            if (ReadPlainFolderId(folder, here) && here == id) return true;
            const std::wstring up = ParentOf(folder);
            if (up == folder) return false;
            folder = up;
        }
    }

    // Another junction beside this one that points to the same folder is left
    // pointing at nothing by the move back: the question says so.
    RelocationMessage Question() {
        if (HeldBefore()) return M::MoveBackQuestionHeldBefore;
        const std::wstring parent = ParentOf(fullJunction_);
        WIN32_FIND_DATAW entry;
        UniqueFindHandle listing(::FindFirstFileW(JoinPath(parent, L"*").c_str(), &entry));
        if (!listing) return M::MoveBackQuestion;
        const std::wstring own = fullJunction_.substr(fullJunction_.find_last_of(L'\\') + 1);
        do {
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 || IsDotEntry(entry.cFileName) ||
                ::CompareStringOrdinal(entry.cFileName, -1, own.c_str(), -1, TRUE) == CSTR_EQUAL) {
                continue;
            }
            const std::wstring other = JoinPath(parent, entry.cFileName);
            ReparseBytes data;
            DWORD tag = 0;
            if (ReadLinkData(other.c_str(), true, data, tag) == LinkKind::Junction &&
                ::CompareStringOrdinal(LinkSubstituteName(data).c_str(), -1, LinkSubstituteName(linkData_).c_str(), -1,
                                       TRUE) == CSTR_EQUAL) {
                facts_.name = other;
                return M::MoveBackQuestionSharedTarget;
            }
        } while (::FindNextFileW(listing.get(), &entry));
        return M::MoveBackQuestion;
    }

    // The question may stay open for as long as the user likes: before anything
    // changes, the junction must still hold its bytes and its folder be the one
    // that was scanned.
    bool NothingSwapped() {
        // A look that fails reads as a change: only two in a row say so.
        for (int look = 0; look < 2; ++look) {
            if (JunctionUnchanged() && StillTheSameFolder(plan_.target, targetId_)) return true;
        }
        facts_.name = JunctionUnchanged() ? plan_.target : plan_.junction;
        return Refuse(M::FolderReplaced);
    }

    // Another operation's journal is all that tells where its files are: nothing
    // starts while one is kept.
    bool NoJournalPending() {
        switch (FindPendingJournal(store_, facts_.error)) {
        case PendingJournal::None:
            return true;
        case PendingJournal::Kept:
            facts_.name = store_.path();
            return Refuse(M::JournalPending);
        case PendingJournal::Untrusted:
            facts_.name = store_.folder();
            return Refuse(M::JournalUntrusted);
        case PendingJournal::Unknown:
            break;
        }
        facts_.name = store_.path();
        return Refuse(M::JournalUnreadable);
    }

    // The journal names the junction, its bytes and every entry before anything
    // changes; a move back that could not be finished or undone after a crash does
    // not start. It is written as the undoing of a relocation from the junction's
    // path to its folder, so links are kept in the form they take at the old path.
    bool JournalStarted() {
        DWORD lockError = 0;
        switch (lock_.Take(lockError)) {
        case OperationLock::State::Taken:
            break;
        case OperationLock::State::HeldElsewhere:
            return Refuse(M::OperationRunning);
        case OperationLock::State::Failed:
            facts_.error = lockError;
            return Refuse(M::WorkerFailed);
        }
        RelocationJournal journal;
        journal.kind = JournalKind::MoveBack;
        journal.targetId = targetId_;
        journal.phase = byCopy_ ? JournalPhase::Copying : JournalPhase::RollingBack;
        journal.aside = copyPlace_;
        journal.source = fullJunction_;
        journal.target = plan_.target;
        journal.entries = movedNames_;
        journal.junctionData = linkData_;
        for (const LinkRecord& link : links_) journal.links.push_back({link.relativePath, link.folder, link.data});
        keeper_.emplace(store_, journal);
        const auto holds = [](const std::wstring& folder, const std::wstring& inner) {
            const PathRelation relation = RelatePaths(folder, inner);
            return relation == PathRelation::Same || relation == PathRelation::TargetInsideSource;
        };
        std::wstring storeFolder;
        if (!store_.folder().empty() && FullPathWithin(store_.folder(), 32767, storeFolder) &&
            (holds(fullJunction_, storeFolder) || holds(plan_.target, storeFolder))) {
            facts_.name = store_.folder();
            return Refuse(M::JournalInsideFolders);
        }
        RelocationJournal readable;
        if (!NoJournalPending()) return false;
        if (!ParseJournal(FormatJournal(journal), readable) || !keeper_->Announce(journal.phase)) {
            // A write that failed after its work may have left the journal there:
            // nothing was pending before, so whatever stands there is this one's.
            (void)store_.Remove();
            facts_.name = store_.path();
            return Refuse(M::JournalNotWritten);
        }
        return true;
    }

    bool ScanPasses() {
        // Between drives the files are copied back, which takes paths of any
        // length: decided before the scan, which then tests them all.
        byCopy_ = reparse_platform::CompareVolumes(ParentOf(plan_.junction).c_str(), plan_.target.c_str()) ==
                  reparse_platform::VolumeMatch::Different;
        const AccessScanOutcome outcome =
            RunAccessScan(plan_.target, observer_.ScanProgress(), findings_, byCopy_);
        if (outcome != AccessScanOutcome::NotStarted) observer_.OnScanEnded();
        switch (outcome) {
        case AccessScanOutcome::NotStarted:
            return Refuse(M::WorkerFailed);
        case AccessScanOutcome::Failed:
            // A reparse point that is no link cannot be carried as one, nor moved
            // as a file.
            if (!findings_.foreignReparsePoint.empty()) {
                facts_.name = findings_.foreignReparsePoint;
                return Refuse(M::MoveBackHoldsLink);
            }
            return Refuse(M::MoveBackScanFailed);
        case AccessScanOutcome::Cancelled:
            scanCancelled_ = true;
            return false;  // stopped by the user, nothing changed; the dialog shows it
        case AccessScanOutcome::Passed:
            break;
        }
        plan_.bytes = findings_.totalBytes;
        facts_.needed = plan_.bytes;
        return true;
    }

    bool SystemFilesAccepted() {
        return !findings_.systemFiles || observer_.Confirm(M::SystemFilesQuestion, facts_);
    }

    bool HasRoom() {
        const std::wstring parent = ParentOf(plan_.junction);
        ULARGE_INTEGER available = {};
        if (!::GetDiskFreeSpaceExW(parent.c_str(), &available, nullptr, nullptr)) available.QuadPart = 0;
        facts_.available = available.QuadPart;
        if (!MoveBackHasRoom(plan_.bytes, facts_.available, SameVolume(parent, plan_.target))) {
            return Refuse(M::MoveBackNoRoom);
        }
        if (byCopy_) {
            copyPlace_ = FreeNameBeside(fullJunction_, kCopyBackSuffix);
            if (copyPlace_.empty()) {
                facts_.name = fullJunction_ + kCopyBackSuffix;
                return Refuse(M::AsideNameTaken);
            }
        }
        return true;
    }

    // What goes back, named before it goes: a put back takes exactly these entries.
    // Links among them, at any depth, travel as links (see ReplaceAndMove).
    bool ListMovedEntries() {
        if (!ListFolderEntries(plan_.target, movedNames_)) return Refuse(M::MoveBackScanFailed);
        return true;
    }

    // Each link as it will stand at the old path: a junction that points into the
    // folder points to the same place below the old path once the files are there.
    bool LinksCanBeCarried() {
        links_.clear();
        for (const LinkRecord& link : findings_.links) {
            LinkRecord atOldPath = link;
            if (!RepointJunction(link.data, plan_.target, fullJunction_, atOldPath.data)) {
                facts_.name = JoinPath(plan_.target, link.relativePath);
                return Refuse(M::MoveBackHoldsLink);
            }
            links_.push_back(std::move(atOldPath));
        }
        return true;
    }

    // Links leave the folder before anything moves, so that no move goes through
    // them (or, under Wine, moves the folder they point to), and are made again at
    // the old path once the files are there.
    MoveBackResult ReplaceAndMove() {
        bool putBack = true;
        if (!TakeLinksOut(plan_.target, findings_.links, facts_.name, putBack)) {
            // Nothing has moved; only links that did not come back keep the journal,
            // to name them at the next start.
            if (putBack) keeper_->Close();
            observer_.Report(putBack ? M::MoveBackLinkNotTakenOut : M::MoveBackLinksNotPutBack, facts_);
            return putBack ? MoveBackResult::Refused : MoveBackResult::NotRestored;
        }
        const MoveBackResult replaced = ReplaceJunctionByFolder();
        if (replaced != MoveBackResult::Completed) return replaced;
        // Files leave only the folder that was scanned, for the folder just made.
        if (!StillTheSameFolder(plan_.target, targetId_) || !StillTheSameFolder(plan_.junction, placeId_)) {
            observer_.Report(M::MoveBackNotRestored, facts_);
            return MoveBackResult::NotRestored;
        }
        if (MoveEntriesBack(plan_.target, plan_.junction, movedNames_) && FolderIsEmpty(plan_.target) &&
            PutLinksIn(plan_.junction, findings_.links, plan_.target, fullJunction_, facts_.name)) {
            return MoveBackResult::Completed;
        }
        return PutBack();
    }

    // Between drives: the files are copied back beside the junction and proven,
    // the junction gives way to the copy, and the folder it pointed to is deleted
    // last. Until the junction goes, every original is untouched.
    MoveBackResult CopyBack() {
        CopyBackPlan plan;
        plan.junction = fullJunction_;
        plan.target = plan_.target;
        plan.copyPlace = copyPlace_;
        plan.junctionData = linkData_;
        plan.targetId = targetId_;
        plan.names = movedNames_;
        plan.targetLinks = findings_.links;
        plan.junctionLinks = links_;
        plan.compareContents = request_.compareContents;
        CopyBackSteps steps(plan, *keeper_, observer_, facts_, [&] { targetHold_.Release(); });
        const RelocationResult result = steps.CopyProveAndSwap();
        switch (result) {
        case RelocationResult::Completed:
            (void)store_.RemoveMovedRecord(fullJunction_);
            return MoveBackResult::Completed;
        case RelocationResult::RolledBack:
            return steps.cancelled() ? MoveBackResult::Declined : MoveBackResult::RolledBack;
        case RelocationResult::NotStarted:
            return MoveBackResult::Refused;
        case RelocationResult::NotRestored:
            return MoveBackResult::NotRestored;
        case RelocationResult::Interrupted:
            break;
        }
        return MoveBackResult::Interrupted;
    }

    // The junction stands again: its folder gets its links back. Nothing is whole
    // until they are.
    MoveBackResult JunctionKept(MoveBackResult result) {
        if (!PutLinksBack(plan_.target, findings_.links)) {
            observer_.Report(M::MoveBackNotRestored, facts_);
            return MoveBackResult::NotRestored;
        }
        keeper_->Close();
        Refuse(M::MoveBackJunctionNotReplaced);
        return result;
    }

    // The junction goes, a plain folder takes its name. If that fails, the junction
    // is made again from its own bytes.
    // Completed when the plain folder stands in the junction's place.
    MoveBackResult ReplaceJunctionByFolder() {
        // A call may fail after doing its work (a lost reply): what stands at the
        // path decides, not the call's word.
        // The plain folder takes the permissions that the files had in the folder
        // they come from.
        if (disk::RemoveJunction(plan_.junction) || NothingAt(plan_.junction)) {
            if ((disk::MakeFolder(plan_.junction) || IsPlainFolder(disk::Attributes(plan_.junction))) &&
                CopyFolderPermissions(plan_.target, plan_.junction) && ReadPlainFolderId(plan_.junction, placeId_)) {
                return MoveBackResult::Completed;
            }
            DebugErrorLine((L"Tressel.Error: creating the plain folder " + plan_.junction).c_str());
            (void)disk::RemoveFolder(plan_.junction);
            if (RecreateJunction()) return JunctionKept(MoveBackResult::RolledBack);
        } else if (JunctionUnchanged()) {
            return JunctionKept(MoveBackResult::Refused);
        }
        observer_.Report(M::MoveBackNotRestored, facts_);
        return MoveBackResult::NotRestored;
    }

    static bool NothingAt(const std::wstring& path) {
        return disk::Attributes(path) == INVALID_FILE_ATTRIBUTES && IsNotFoundError(::GetLastError());
    }

    bool JunctionUnchanged() {
        ReparseBytes now;
        DWORD tag = 0;
        return disk::ReadLink(plan_.junction, true, now, tag) == LinkKind::Junction && now == linkData_;
    }

    bool RecreateJunction() {
        return disk::MakeLink(plan_.junction, true, linkData_) && JunctionUnchanged();
    }

    // The move failed part-way: every entry goes back into the target, the plain
    // folder goes, the junction comes back with the bytes it had.
    // Until it is all back, the journal stays: the next start offers to finish.
    MoveBackResult PutBack() {
        // Nothing is taken out of a folder that became a link, nor put into one.
        if (!StillTheSameFolder(plan_.target, targetId_) || !StillTheSameFolder(plan_.junction, placeId_)) {
            observer_.Report(M::MoveBackNotRestored, facts_);
            return MoveBackResult::NotRestored;
        }
        (void)keeper_->Announce(JournalPhase::Moving);
        // In passes that skip what is done: a file held for a moment must not leave
        // the files split.
        const bool filesBack =
            MoveBackWithLinks(plan_.junction, plan_.target, movedNames_, findings_.links, [&] {
                for (const auto& name : movedNames_) {
                    if (!NothingAt(JoinPath(plan_.junction, name))) return false;
                }
                return true;
            });
        const bool restored = filesBack && disk::RemoveFolder(plan_.junction) && RecreateJunction();
        if (restored) keeper_->Close();
        observer_.Report(restored ? M::MoveBackFailedRestored : M::MoveBackNotRestored, facts_);
        return restored ? MoveBackResult::RolledBack : MoveBackResult::NotRestored;
    }

    const MoveBackRequest& request_;
    RelocationObserver& observer_;
    RelocationFacts facts_;
    MoveBackPlan plan_;
    ReparseBytes linkData_;
    AccessScanFindings findings_;
    std::vector<std::wstring> movedNames_;
    std::vector<LinkRecord> links_;  // as they will stand at the old path
    bool scanCancelled_ = false;
    std::wstring fullJunction_;
    JournalStore store_;
    OperationLock lock_;
    std::optional<JournalKeeper> keeper_;
    FolderId targetId_;  // the folder the junction points to
    FolderId placeId_;   // the plain folder made in the junction's place
    FolderHold targetHold_;
    bool byCopy_ = false;     // between drives: copied back, proven, swapped, then deleted
    std::wstring copyPlace_;  // where the copy is made, beside the junction
};

}  // namespace

bool MoveBackHasRoom(std::uint64_t bytes, std::uint64_t freeBytes, bool sameVolume) {
    return sameVolume || bytes <= freeBytes;
}

bool CanMoveBack(const std::wstring& junction, MoveBackPlan& plan) {
    plan = MoveBackPlan{};
    ReparseBytes data;
    DWORD tag = 0;
    if (junction.empty() || disk::ReadLink(junction, true, data, tag) != LinkKind::Junction) return false;
    const std::wstring stored = LinkSubstituteName(data);
    if (stored.compare(0, kNtPrefixLength, kNtPrefix) != 0) return false;
    plan.junction = junction;
    plan.target = stored.substr(kNtPrefixLength);
    return IsLocalDrivePath(plan.target) && IsPlainFolder(disk::Attributes(plan.target));
}

MoveBackResult RunMoveBack(const MoveBackRequest& request, RelocationObserver& observer) {
    try {
        return MoveBack(request, observer).Run();
    } catch (...) {
        DebugLine(L"Tressel.Error: the move back stopped unexpectedly.");
        try {
            observer.Report(RelocationMessage::UnexpectedStop, RelocationFacts{});
        } catch (...) {
        }
        return MoveBackResult::Interrupted;
    }
}
