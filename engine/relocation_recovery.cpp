#include "engine/relocation_recovery.h"

#include <windows.h>

#include "engine/disk_calls.h"
#include "base/debug_log.h"
#include "engine/folder_move.h"
#include "engine/journal_keeper.h"
#include "engine/moved_links.h"
#include "engine/folder_identity.h"
#include "engine/operation_lock.h"
#include "engine/copy_across.h"
#include "junction/junction.h"

namespace {

using M = RelocationMessage;

constexpr int kJunctionAttempts = 3;
constexpr DWORD kJunctionPauseMs = 100;

bool Exists(const std::wstring& path) { return disk::Attributes(path) != INVALID_FILE_ATTRIBUTES; }

// A plain folder that is not the one the journal knows (when it knows one) is
// another folder: the journal says nothing of what it holds.
FolderKind KindOf(const std::wstring& path, const std::wstring& junctionTarget, const FolderId& id = FolderId()) {
    const DWORD attributes = disk::Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return FolderKind::Missing;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return FolderKind::Other;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return !id.known() || StillTheSameFolder(path, id) ? FolderKind::PlainFolder : FolderKind::Other;
    }
    if (junctionTarget.empty()) return FolderKind::Other;
    wchar_t stored[kJunctionPathCapacity] = L"";
    DWORD tag = 0;
    const std::wstring expected = L"\\??\\" + junctionTarget;
    if (disk::ReadJunction(path, stored, tag) && tag == IO_REPARSE_TAG_MOUNT_POINT &&
        ::CompareStringOrdinal(stored, -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL) {
        return FolderKind::JunctionToTarget;
    }
    return FolderKind::Other;
}

std::wstring Child(const std::wstring& folder, const std::wstring& name) {
    return folder.back() == L'\\' ? folder + name : folder + L'\\' + name;
}

// True when none of the entries is left in the destination. Only "not found" says
// an entry is gone: one that cannot be looked at may still be there.
bool AllBackInSource(const RelocationJournal& journal) {
    for (const auto& name : journal.entries) {
        if (disk::Attributes(Child(journal.target, name)) != INVALID_FILE_ATTRIBUTES ||
            !IsNotFoundError(::GetLastError())) {
            return false;
        }
    }
    return true;
}

std::vector<LinkRecord> LinksOf(const RelocationJournal& journal) {
    std::vector<LinkRecord> links;
    for (const JournalLink& link : journal.links) links.push_back({link.relativePath, link.folder, link.reparseData});
    return links;
}

// Those of `links` that do not stand below `root`: a recovery may find some of
// them made already.
std::vector<LinkRecord> MissingBelow(const std::wstring& root, const std::vector<LinkRecord>& links) {
    std::vector<LinkRecord> missing;
    for (const LinkRecord& link : links) {
        if (!Exists(Child(root, link.relativePath))) missing.push_back(link);
    }
    return missing;
}

// Hands everything on to `inner`, saying each message in the words of the kind of
// journal: the same steps tell a move back's story differently.
class KindObserver : public RelocationObserver {
public:
    KindObserver(JournalKind kind, RelocationObserver& inner) : kind_(kind), inner_(inner) {}
    AccessScanProgress& ScanProgress() override { return inner_.ScanProgress(); }
    void OnScanEnded() override { inner_.OnScanEnded(); }
    bool Confirm(RelocationMessage question, const RelocationFacts& facts) override {
        return inner_.Confirm(RecoveryMessageFor(kind_, question), facts);
    }
    void Report(RelocationMessage message, const RelocationFacts& facts) override {
        inner_.Report(RecoveryMessageFor(kind_, message), facts);
    }
    void OnFilesMoving(bool moving) override { inner_.OnFilesMoving(moving); }

private:
    JournalKind kind_;
    RelocationObserver& inner_;
};

class Recovery {
public:
    Recovery(const RelocationJournal& journal, const JournalStore& store, RelocationObserver& observer)
        : journal_(journal),
          links_(LinksOf(journal)),
          keeper_(store, journal),
          observer_(journal.kind, observer),
          facts_(RecoveryFacts(journal)) {}

    RelocationResult Finish() {
        if (IsCopyPhase(journal_.phase)) {
            return journal_.kind == JournalKind::Relocation ? FinishCopy() : UndoCopyBack();
        }
        if (!Unswapped() || !Announce(JournalPhase::Moving)) return RelocationResult::NotStarted;
        const FolderKind source = KindOf(journal_.source, journal_.target, journal_.sourceId);
        if (source != FolderKind::JunctionToTarget) {
            // Moving the files only to find that no junction can stand at the old
            // path would break every program that uses it.
            if (!VolumeSupportsReparsePoints(journal_.source.c_str())) {
                observer_.Report(M::NoReparseSupport, facts_);
                return RelocationResult::NotStarted;
            }
            // A destination made anew gets the permissions of the folder whose
            // files move in.
            if (disk::MakeFolder(journal_.target)) {
                FolderId made;
                if (source != FolderKind::PlainFolder || !CopyFolderPermissions(journal_.source, journal_.target) ||
                    !ReadPlainFolderId(journal_.target, made)) {
                    observer_.Report(M::MoveFailed, facts_);
                    return MoveBackAfterFailure();
                }
                keeper_.NoteFolders(journal_.sourceId, made);
            }
            // Links still in the source go as links, never through a move.
            if (source == FolderKind::PlainFolder && (!RemoveLinksFrom(journal_.source, links_) ||
                                                      !MoveEntriesBack(journal_.source, journal_.target, journal_.entries))) {
                observer_.Report(M::MoveFailed, facts_);
                return MoveBackAfterFailure();
            }
            if (!keeper_.Announce(JournalPhase::Moved)) {
                observer_.Report(M::MoveFailed, facts_);
                return MoveBackAfterFailure();
            }
            if (!PutLinksIn(journal_.target, MissingBelow(journal_.target, links_), journal_.source, journal_.target,
                            facts_.name)) {
                observer_.Report(M::LinkNotRecreated, facts_);
                return MoveBackAfterFailure();
            }
            keeper_.NoteFolders(FolderId(), keeper_.journal().targetId);
            if (!keeper_.Announce(JournalPhase::SourceRemoved) ||
                (source == FolderKind::PlainFolder && !disk::RemoveFolder(journal_.source)) || !MakeTheJunction()) {
                (void)keeper_.Announce(JournalPhase::RollingBack);
                return Closed(RestoreAfterJunctionFailure(journal_.source, journal_.target, journal_.entries, observer_,
                                                          MissingBelow(journal_.source, links_))
                                  ? RelocationResult::RolledBack
                                  : RelocationResult::NotRestored);
            }
            (void)keeper_.Announce(JournalPhase::JunctionMade);
        } else if (!PutLinksIn(journal_.target, MissingBelow(journal_.target, links_), journal_.source, journal_.target,
                               facts_.name)) {
            // The junction stood already; links that were taken out of its folder
            // are all that is missing, and the journal keeps naming them.
            observer_.Report(M::NotRestored, facts_);
            return RelocationResult::NotRestored;
        }
        keeper_.Close();
        observer_.Report(M::Completed, facts_);
        return RelocationResult::Completed;
    }

    RelocationResult MoveBack() {
        if (IsCopyPhase(journal_.phase)) {
            return journal_.kind == JournalKind::Relocation ? DiscardCopy() : FinishCopyBack();
        }
        if (!Unswapped() || !Announce(JournalPhase::RollingBack)) return RelocationResult::NotStarted;
        if (!TakeJunctionAway()) {
            observer_.Report(M::NotRestored, facts_);
            return RelocationResult::NotRestored;
        }
        return MoveBackAfterFailure();
    }

private:
    // A look that fails reads as "missing": where anything seems missing, the disk
    // is looked at once more before a step is chosen by it.
    RecoveryDiskView LookTwiceWhereMissing() const {
        RecoveryDiskView view = LookAtDisk(journal_);
        const bool missing = view.source == FolderKind::Missing || view.target == FolderKind::Missing ||
                             (!journal_.aside.empty() && view.aside == FolderKind::Missing);
        if (!missing) return view;
        // What either look found is there.
        const RecoveryDiskView second = LookAtDisk(journal_);
        if (view.source == FolderKind::Missing) view.source = second.source;
        if (view.target == FolderKind::Missing) view.target = second.target;
        if (view.aside == FolderKind::Missing) view.aside = second.aside;
        return view;
    }

    CopyAcrossRequest CopyOfJournal() const {
        CopyAcrossRequest copy;
        copy.source = journal_.source;
        copy.target = journal_.target;
        copy.names = journal_.entries;
        copy.links = links_;
        return copy;
    }

    // Between drives, from wherever the relocation stopped: a source still whole
    // is copied again from the start (what an earlier copy left is removed
    // first: nobody proved it), a proven copy gets its junction, and a source
    // renamed aside is deleted.
    RelocationResult FinishCopy() {
        if (!Unswapped()) return RelocationResult::NotStarted;
        const RecoveryDiskView view = LookTwiceWhereMissing();
        const CopyAcrossRequest copy = CopyOfJournal();
        CopySwapSteps steps(copy, journal_.aside, journal_.target, keeper_, observer_, facts_);
        RelocationResult result = RelocationResult::NotStarted;
        if (view.source == FolderKind::PlainFolder) {
            if (!VolumeSupportsReparsePoints(journal_.source.c_str())) {
                observer_.Report(M::NoReparseSupport, facts_);
                return RelocationResult::NotStarted;
            }
            std::wstring left;
            if (!Announce(JournalPhase::Copying)) return RelocationResult::NotStarted;
            if (!RemoveCopy(copy, left)) {
                facts_.name = left;
                observer_.Report(M::CopyLeft, facts_);
                return RelocationResult::NotRestored;
            }
            if (view.target == FolderKind::Missing && !MakeTargetLike(journal_.source)) {
                facts_.name = journal_.target;
                facts_.error = ::GetLastError();
                return steps.EndUnchanged(M::CopyTargetFailed);
            }
            result = steps.CopyProveAndSwap(journal_.sourceId);
        } else if (view.source == FolderKind::Missing && view.aside == FolderKind::PlainFolder) {
            if (!Announce(JournalPhase::Verified)) return RelocationResult::NotStarted;
            result = steps.SwapAndDelete(journal_.sourceId);
        } else if (view.source == FolderKind::JunctionToTarget) {
            result = steps.DeleteSource(journal_.sourceId);
        } else {
            observer_.Report(M::NotRestored, facts_);
            return RelocationResult::NotRestored;
        }
        if (result == RelocationResult::Completed) {
            keeper_.Close();
            observer_.Report(steps.doneMessage(), facts_);
        }
        return result;
    }

    // Between drives, before the swap: the copy goes, and the source, renamed
    // aside already, gets its name back. After the swap there is no way back:
    // the source may be half deleted.
    RelocationResult DiscardCopy() {
        if (!Unswapped()) return RelocationResult::NotStarted;
        const RecoveryDiskView view = LookTwiceWhereMissing();
        const CopyAcrossRequest copy = CopyOfJournal();
        CopySwapSteps steps(copy, journal_.aside, journal_.target, keeper_, observer_, facts_);
        if (view.source == FolderKind::Missing && view.aside == FolderKind::PlainFolder) {
            if (!disk::Move(journal_.aside, journal_.source, 0) || !StillTheSameFolder(journal_.source, journal_.sourceId)) {
                facts_.name = journal_.aside;
                observer_.Report(M::SwapStuckAside, facts_);
                return RelocationResult::NotRestored;
            }
        } else if (view.source != FolderKind::PlainFolder) {
            observer_.Report(M::NotRestored, facts_);
            return RelocationResult::NotRestored;
        }
        return steps.RemoveCopyAndEnd(M::Restored);
    }

    CopyBackPlan CopyBackOfJournal() const {
        CopyBackPlan plan;
        plan.junction = journal_.source;
        plan.target = journal_.target;
        plan.copyPlace = journal_.aside;
        plan.junctionData = journal_.junctionData;
        plan.targetId = journal_.targetId;
        plan.copyId = journal_.sourceId;
        plan.names = journal_.entries;
        plan.junctionLinks = links_;
        return plan;
    }

    // A move back between drives, from wherever it stopped: with the junction
    // still standing, the copy is made again from the start; a proven copy takes
    // the junction's place; once it stands there, the originals are deleted.
    RelocationResult FinishCopyBack() {
        if (!Unswapped()) return RelocationResult::NotStarted;
        const RecoveryDiskView view = LookTwiceWhereMissing();
        CopyBackSteps steps(CopyBackOfJournal(), keeper_, observer_, facts_);
        if (view.source == FolderKind::JunctionToTarget) {
            if (!Announce(JournalPhase::Copying)) return RelocationResult::NotStarted;
            return steps.CopyProveAndSwap();
        }
        if (view.source == FolderKind::Missing && view.aside == FolderKind::PlainFolder) return steps.MoveCopyIn();
        if (view.source == FolderKind::PlainFolder) return steps.DeleteOriginals();
        observer_.Report(M::NotRestored, facts_);
        return RelocationResult::NotRestored;
    }

    // Before the copy took the junction's place: the junction as it was, the copy
    // removed. After it there is no way back.
    RelocationResult UndoCopyBack() {
        if (!Unswapped()) return RelocationResult::NotStarted;
        const RecoveryDiskView view = LookTwiceWhereMissing();
        if (view.source == FolderKind::JunctionToTarget ||
            (view.source == FolderKind::Missing && view.aside == FolderKind::PlainFolder)) {
            return CopyBackSteps(CopyBackOfJournal(), keeper_, observer_, facts_).Undo();
        }
        observer_.Report(M::NotRestored, facts_);
        return RelocationResult::NotRestored;
    }

    // A destination made anew gets the permissions of the folder whose files
    // move in.
    bool MakeTargetLike(const std::wstring& model) {
        FolderId made;
        if (!disk::MakeFolder(journal_.target) || !CopyFolderPermissions(model, journal_.target) ||
            !ReadPlainFolderId(journal_.target, made)) {
            return false;
        }
        keeper_.NoteFolders(journal_.sourceId, made);
        return keeper_.Rewrite();
    }

    // A relocation's junction is made new; a move back's is made again from the
    // bytes it had, so that it is exactly the junction the user had before. What
    // stands there decides, not the call's word (a call can fail after its work is
    // done); a look that fails once is looked again.
    bool MakeTheJunction() {
        if (journal_.kind == JournalKind::Relocation) {
            return disk::MakeJunction(journal_.source, journal_.target) || IsJunctionTo(journal_.source, journal_.target);
        }
        (void)disk::MakeLink(journal_.source, true, journal_.junctionData);
        for (int look = 0; look < 2; ++look) {
            ReparseBytes made;
            DWORD tag = 0;
            if (disk::ReadLink(journal_.source, true, made, tag) == LinkKind::Junction) return made == journal_.junctionData;
        }
        return false;
    }

    // Once every file is back, the folder a move back emptied goes too, as the
    // move back itself would have removed it; anything new in it keeps it there.
    void ReportAllBack() {
        if (journal_.kind == JournalKind::Relocation) {
            observer_.Report(M::Restored, facts_);
            return;
        }
        // Only "not found" says it is gone; a look that fails says nothing.
        const auto gone = [&] {
            return disk::Attributes(journal_.target) == INVALID_FILE_ATTRIBUTES && IsNotFoundError(::GetLastError());
        };
        const bool targetGone =
            gone() || (FolderIsEmpty(journal_.target) && disk::RemoveFolder(journal_.target)) || gone();
        observer_.Report(targetGone ? M::MoveBackCompleted : M::MoveBackTargetLeft, facts_);
    }

    // The question before this may have stayed open for long: another Dirshift
    // must not be at work, and neither folder may have been swapped for another
    // or a link since the disk was described.
    bool Unswapped() {
        DWORD error = 0;
        if (lock_.Take(error) != OperationLock::State::Taken) {
            facts_.error = error;
            observer_.Report(M::OperationRunning, facts_);
            return false;
        }
        // A look that fails reads as "something else": only two in a row say so.
        RecoveryDiskView view;
        for (int look = 0; look < 2; ++look) {
            view = LookAtDisk(journal_);
            if (view.source != FolderKind::Other && view.target != FolderKind::Other && view.aside != FolderKind::Other) {
                return true;
            }
        }
        facts_.name = view.source == FolderKind::Other   ? journal_.source
                      : view.target == FolderKind::Other ? journal_.target
                                                         : journal_.aside;
        observer_.Report(M::FolderReplaced, facts_);
        return false;
    }

    bool Announce(JournalPhase phase) {
        if (keeper_.Announce(phase)) return true;
        facts_.name = keeper_.path();
        observer_.Report(M::JournalNotWritten, facts_);
        return false;
    }

    // The junction to the destination, where one stands at the old path, goes. A
    // look or a removal that fails is tried again: taken for "no junction", the
    // files could not move back into its place. False while it stands.
    bool TakeJunctionAway() {
        for (int attempt = 0; attempt < kJunctionAttempts; ++attempt) {
            if (attempt > 0) ::Sleep(kJunctionPauseMs);
            const FolderKind kind = KindOf(journal_.source, journal_.target);
            if (kind == FolderKind::Missing && IsNotFoundError(::GetLastError())) return true;
            if (kind == FolderKind::PlainFolder) return true;
            if (kind == FolderKind::JunctionToTarget) (void)disk::RemoveJunction(journal_.source);
        }
        return KindOf(journal_.source, journal_.target) != FolderKind::JunctionToTarget;
    }

    RelocationResult MoveBackAfterFailure() {
        (void)keeper_.Announce(JournalPhase::RollingBack);
        if (MakePlainFolder(journal_.source, journal_.target, journal_.sourceId) && MoveBackWithLinks(journal_.target, journal_.source, journal_.entries, links_,
                                              [&] { return AllBackInSource(journal_); })) {
            keeper_.Close();
            ReportAllBack();
            return RelocationResult::RolledBack;
        }
        observer_.Report(M::NotRestored, facts_);
        return RelocationResult::NotRestored;
    }

    RelocationResult Closed(RelocationResult result) {
        if (result == RelocationResult::Completed || result == RelocationResult::RolledBack) keeper_.Close();
        return result;
    }

    OperationLock lock_;
    const RelocationJournal& journal_;
    const std::vector<LinkRecord> links_;
    JournalKeeper keeper_;
    KindObserver observer_;
    RelocationFacts facts_;
};

template <typename Step>
RelocationResult Guarded(RelocationObserver& observer, Step step) {
    try {
        return step();
    } catch (...) {
        DebugLine(L"Tressel.Error: the recovery stopped unexpectedly.");
        try {
            observer.Report(M::UnexpectedStop, RelocationFacts{});
        } catch (...) {
        }
        return RelocationResult::Interrupted;
    }
}

}  // namespace

RecoveryDiskView LookAtDisk(const RelocationJournal& journal) {
    RecoveryDiskView view;
    view.source = KindOf(journal.source, journal.target, journal.sourceId);
    view.target = KindOf(journal.target, std::wstring(), journal.targetId);
    if (!journal.aside.empty()) view.aside = KindOf(journal.aside, std::wstring(), journal.sourceId);
    const bool sourceHolds = view.source == FolderKind::PlainFolder;
    const bool targetHolds = view.target == FolderKind::PlainFolder;
    for (const auto& name : journal.entries) {
        const bool inSource = sourceHolds && Exists(Child(journal.source, name));
        const bool inTarget = targetHolds && Exists(Child(journal.target, name));
        if (inSource && inTarget) {
            ++view.inBoth;
        } else if (inSource) {
            ++view.inSource;
        } else if (inTarget) {
            ++view.inTarget;
        } else {
            ++view.nowhere;
        }
    }
    return view;
}

RecoveryAssessment AssessRecovery(const RelocationJournal& journal, const RecoveryDiskView& view) {
    if (view.source == FolderKind::Other || view.target == FolderKind::Other || view.aside == FolderKind::Other) {
        return {M::RecoveryFoldersChanged, false};
    }
    if (IsCopyPhase(journal.phase) && journal.kind == JournalKind::MoveBack) {
        // Where the junction's copy is decides.
        if (view.source == FolderKind::JunctionToTarget) return {M::RecoveryMoveBackCopyCutShort, true};
        if (view.source == FolderKind::Missing && view.aside == FolderKind::PlainFolder) {
            return {M::RecoveryMoveBackCopySwapCutShort, true};
        }
        if (view.source == FolderKind::PlainFolder) return {M::RecoveryMoveBackDeleting, true, true};
        return {M::RecoveryFoldersGone, false};
    }
    if (IsCopyPhase(journal.phase)) {
        // Where the source folder is decides; the copy is only trusted once proven.
        if (view.source == FolderKind::PlainFolder) return {M::RecoveryCopyCutShort, true};
        if (view.source == FolderKind::JunctionToTarget) {
            return {view.aside == FolderKind::PlainFolder ? M::RecoveryDeletingSource : M::RecoveryCopyDone, true, true};
        }
        if (view.aside == FolderKind::PlainFolder && view.target == FolderKind::PlainFolder) {
            return {M::RecoveryCopySwapCutShort, true};
        }
        return {M::RecoveryFoldersGone, false};
    }
    const int found = view.inSource + view.inTarget + view.inBoth;
    const bool noFolder = view.source == FolderKind::Missing && view.target == FolderKind::Missing;
    if (noFolder || (found == 0 && !journal.entries.empty())) return {M::RecoveryFoldersGone, false};
    if (journal.kind == JournalKind::MoveBack) {
        // Which step it stopped at matters less than where the files are now.
        if (view.source == FolderKind::JunctionToTarget) return {M::RecoveryMoveBackNotStarted, true};
        if (view.inSource == 0 && view.inBoth == 0 && view.inTarget > 0) return {M::RecoveryMoveBackJunctionGone, true};
        if (view.inTarget == 0 && view.inBoth == 0) return {M::RecoveryMoveBackAllBack, true};
        return {M::RecoveryMoveBackPartly, true};
    }
    if (view.source == FolderKind::JunctionToTarget) return {M::RecoveryJunctionMade, true};
    if (journal.phase == JournalPhase::RollingBack && view.inTarget + view.inBoth > 0) {
        return {M::RecoveryRollingBack, true};
    }
    if (view.inTarget == 0 && view.inBoth == 0) return {M::RecoveryNothingMoved, true};
    if (view.inSource == 0 && view.inBoth == 0) {
        return {view.source == FolderKind::Missing ? M::RecoverySourceRemoved : M::RecoveryAllMoved, true};
    }
    return {M::RecoveryPartlyMoved, true};
}

RelocationResult FinishRelocation(const RelocationJournal& journal, const JournalStore& store,
                                  RelocationObserver& observer) {
    return Guarded(observer, [&] { return Recovery(journal, store, observer).Finish(); });
}

RelocationResult MoveRelocationBack(const RelocationJournal& journal, const JournalStore& store,
                                    RelocationObserver& observer) {
    return Guarded(observer, [&] { return Recovery(journal, store, observer).MoveBack(); });
}

RelocationMessage RecoveryMessageFor(JournalKind kind, RelocationMessage message) {
    if (kind == JournalKind::Relocation) return message;
    switch (message) {
    case M::Completed:
        return M::MoveBackUndone;
    case M::MoveFailed:
    case M::LinkNotRecreated:
        return M::MoveBackUndoFailed;
    case M::Restored:
        return M::MoveBackCompleted;
    case M::JunctionFailedRestored:
        return M::MoveBackJunctionNotMade;
    case M::NotRestored:
    case M::JunctionFailedNotRestored:
        return M::MoveBackNotRestored;
    default:
        return message;
    }
}

RelocationFacts RecoveryFacts(const RelocationJournal& journal) {
    RelocationFacts facts;
    facts.source = journal.source;
    facts.target = journal.target;
    facts.name = journal.aside;
    return facts;
}
