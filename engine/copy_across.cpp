#include "engine/copy_across.h"

#include <memory>

#include "base/debug_log.h"
#include "base/unique_resource.h"
#include "engine/disk_calls.h"
#include "engine/folder_move.h"
#include "engine/moved_links.h"
#include "engine/relocation_paths.h"

namespace {

constexpr int kFreeNameNumbers = 99;
constexpr int kRemovalPasses = 2;
constexpr DWORD kRemovalPauseMs = 200;

// What the copy's worker needs, and what it leaves behind for the waiting thread.
struct CopyJob {
    const CopyAcrossRequest* request = nullptr;
    RelocationObserver* observer = nullptr;
    std::atomic<bool> cancel{false};
    CopyAcrossOutcome outcome;
};

DWORD WINAPI CopyWorker(void* parameter) {
    auto* job = static_cast<CopyJob*>(parameter);
    try {
        TreeCopyRequest copy;
        copy.source = job->request->source;
        copy.target = job->request->target;
        copy.names = job->request->names;
        for (const LinkRecord& link : job->request->links) copy.links.push_back(link.relativePath);
        copy.compareContents = job->request->compareContents;
        copy.cancel = &job->cancel;
        RelocationObserver* observer = job->observer;
        copy.progress = [observer](const TreeCopyProgress& progress) { observer->OnCopyProgress(progress); };
        job->outcome.copy = CopyTree(copy);
    } catch (...) {
        job->outcome.copy.result = TreeCopyResult::Failed;
        job->outcome.copy.fault = TreeCopyFault::TargetWrite;
        job->outcome.copy.path = job->request->target;
        job->outcome.copy.error = ERROR_NOT_ENOUGH_MEMORY;
    }
    // The partial copy goes on this thread too, so that the dialog keeps answering
    // while a large one is removed.
    if (job->outcome.copy.result != TreeCopyResult::Copied) {
        try {
            job->outcome.removed = RemoveCopy(*job->request, job->outcome.left);
        } catch (...) {
            job->outcome.removed = false;
            job->outcome.left = job->request->target;
        }
    }
    return 0;
}

}  // namespace

CopyAcrossOutcome CopyAcross(const CopyAcrossRequest& request, RelocationObserver& observer) {
    auto job = std::make_unique<CopyJob>();
    job->request = &request;
    job->observer = &observer;
    UniqueHandle worker(::CreateThread(nullptr, 0, CopyWorker, job.get(), 0, nullptr));
    if (!worker) {
        job->outcome.copy.result = TreeCopyResult::Failed;
        job->outcome.copy.fault = TreeCopyFault::TargetWrite;
        job->outcome.copy.path = request.target;
        job->outcome.copy.error = ::GetLastError();
        return job->outcome;
    }
    try {
        observer.WaitForCopy(worker.get(), job->cancel);
    } catch (...) {
        job->cancel = true;  // out of memory while waiting: nothing is kept half-done
    }
    // Whatever the wait did, the worker must end before its job does.
    ::WaitForSingleObject(worker.get(), INFINITE);
    return job->outcome;
}

bool RemoveCopy(const CopyAcrossRequest& request, std::wstring& left) {
    // A pass that fails is tried once more a moment later: a file held for a
    // moment (a virus scanner looking at a new file) should not leave a copy.
    for (int pass = 0; pass < kRemovalPasses; ++pass) {
        if (pass > 0) ::Sleep(kRemovalPauseMs);
        left.clear();
        // Links first, by their records: some hosts do not list a link whose
        // target is missing, and its folder would then never be empty.
        const bool links = RemoveLinksFrom(request.target, request.links, request.source, request.target);
        const bool entries = RemoveCopiedEntries(request.target, request.names, left);
        if (!links && left.empty()) left = request.target;
        if (links && entries) return true;
    }
    return false;
}

RelocationMessage CopyFaultMessage(TreeCopyFault fault) {
    switch (fault) {
    case TreeCopyFault::SourceUnreadable:
    case TreeCopyFault::LinkInside:
        return RelocationMessage::CopySourceUnreadable;
    case TreeCopyFault::SourceChanged:
        return RelocationMessage::CopySourceChanged;
    case TreeCopyFault::CopyDiffers:
        return RelocationMessage::CopyDiffers;
    case TreeCopyFault::None:
    case TreeCopyFault::TargetWrite:
        break;
    }
    return RelocationMessage::CopyTargetFailed;
}

std::wstring FreeNameBeside(const std::wstring& path, const wchar_t* suffix) {
    for (int number = 1; number <= kFreeNameNumbers; ++number) {
        std::wstring beside = path + suffix;
        if (number > 1) beside += L"-" + std::to_wstring(number);
        if (disk::Attributes(beside) == INVALID_FILE_ATTRIBUTES && IsNotFoundError(::GetLastError())) return beside;
    }
    return std::wstring();
}

SwapOutcome SwapSourceForJunction(const std::wstring& source, const std::wstring& aside, const std::wstring& target,
                                  const FolderId& sourceId, DWORD& error) {
    error = ERROR_SUCCESS;
    // A swap cut short by a crash may have renamed the source already.
    if (!StillTheSameFolder(aside, sourceId)) {
        if (!StillTheSameFolder(source, sourceId)) return SwapOutcome::Replaced;
        if (!disk::Move(source, aside, 0)) {
            error = ::GetLastError();
            // A rename reported as failed may have happened all the same.
            if (!StillTheSameFolder(aside, sourceId)) return SwapOutcome::SourceKept;
        }
        // Whatever was renamed must be the source: a folder put in its place in
        // the moment between the look and the rename goes back where it was.
        if (!StillTheSameFolder(aside, sourceId)) {
            if (disk::Move(aside, source, 0)) return SwapOutcome::Replaced;
            DebugLineF(L"Tressel.Error: %s, renamed by mistake, could not be renamed back.", aside.c_str());
            return SwapOutcome::StuckAside;
        }
    }
    if (disk::MakeJunction(source, target) || IsJunctionTo(source, target)) return SwapOutcome::Swapped;
    error = ::GetLastError();
    DebugLineF(L"Tressel.Error: the junction %s could not be made (%lu).", source.c_str(), error);
    // A junction that was begun leaves an empty folder or a link behind: neither
    // holds anything of the user's, and the source needs its name back.
    const DWORD attributes = disk::Attributes(source);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            (void)disk::RemoveJunction(source);
        } else {
            (void)disk::RemoveFolder(source);  // only ever removes an empty folder
        }
    }
    (void)disk::Move(aside, source, 0);
    return StillTheSameFolder(source, sourceId) ? SwapOutcome::NoJunction : SwapOutcome::StuckAside;
}

TreeDeleteResult DeleteAsideSource(const std::wstring& aside, const FolderId& sourceId, const std::wstring& target,
                                   const std::vector<LinkRecord>& links, std::wstring& left) {
    left.clear();
    if (!StillTheSameFolder(aside, sourceId)) {
        if (disk::Attributes(aside) == INVALID_FILE_ATTRIBUTES && IsNotFoundError(::GetLastError())) {
            return TreeDeleteResult::Deleted;
        }
        return TreeDeleteResult::NotTheFolder;
    }
    TreeDeleteResult result = TreeDeleteResult::PartlyLeft;
    for (int pass = 0; pass < kRemovalPasses && result == TreeDeleteResult::PartlyLeft; ++pass) {
        if (pass > 0) ::Sleep(kRemovalPauseMs);
        // The links stand in the renamed source as they were read there.
        (void)RemoveLinksFrom(aside, links);
        result = DeleteCopiedOriginals(aside, sourceId, target, left);
    }
    return result;
}

CopySwapSteps::CopySwapSteps(const CopyAcrossRequest& copy, std::wstring aside, std::wstring junctionTarget,
                             JournalKeeper& keeper, RelocationObserver& observer, RelocationFacts& facts,
                             std::function<void()> releaseHolds)
    : copy_(copy),
      aside_(std::move(aside)),
      junctionTarget_(std::move(junctionTarget)),
      keeper_(keeper),
      observer_(observer),
      facts_(facts),
      releaseHolds_(std::move(releaseHolds)) {}

RelocationResult CopySwapSteps::CopyProveAndSwap(const FolderId& sourceId) {
    const CopyAcrossOutcome copied = CopyAcross(copy_, observer_);
    if (copied.copy.result != TreeCopyResult::Copied) {
        RelocationMessage message = RelocationMessage::CopyCancelled;
        if (copied.copy.result == TreeCopyResult::Failed) {
            facts_.name = copied.copy.path;
            facts_.error = copied.copy.error;
            message = CopyFaultMessage(copied.copy.fault);
        }
        return copied.removed ? EndUnchanged(message) : CopyLeftBehind(copied.left, message);
    }
    if (!PutLinksIn(copy_.target, copy_.links, copy_.source, junctionTarget_, facts_.name)) {
        return RemoveCopyAndEnd(RelocationMessage::CopyLinkNotMade);
    }
    if (!keeper_.Announce(JournalPhase::Verified)) {
        facts_.name = keeper_.path();
        return RemoveCopyAndEnd(RelocationMessage::JournalNotWritten);
    }
    return SwapAndDelete(sourceId);
}

RelocationResult CopySwapSteps::SwapAndDelete(const FolderId& sourceId) {
    observer_.OnSwapping(true);
    if (releaseHolds_) releaseHolds_();
    DWORD error = 0;
    const SwapOutcome swap = SwapSourceForJunction(copy_.source, aside_, junctionTarget_, sourceId, error);
    observer_.OnSwapping(false);
    switch (swap) {
    case SwapOutcome::Swapped:
        break;
    case SwapOutcome::SourceKept:
        facts_.error = error;
        return RemoveCopyAndEnd(RelocationMessage::SourceNotRenamed);
    case SwapOutcome::NoJunction:
        facts_.error = error;
        return RemoveCopyAndEnd(RelocationMessage::JunctionFailedRestored);
    case SwapOutcome::Replaced:
        facts_.name = copy_.source;
        return RemoveCopyAndEnd(RelocationMessage::FolderReplaced);
    case SwapOutcome::StuckAside:
        // The journal stays: the next start offers to finish or to undo it.
        facts_.name = aside_;
        observer_.Report(RelocationMessage::SwapStuckAside, facts_);
        return RelocationResult::NotRestored;
    }
    // The junction stands: the relocation is done whatever the rest brings, and
    // only the original is left to delete.
    (void)keeper_.Announce(JournalPhase::Swapped);
    return DeleteSource(sourceId);
}

RelocationResult CopySwapSteps::DeleteSource(const FolderId& sourceId) {
    (void)keeper_.Announce(JournalPhase::DeletingSource);
    std::wstring left;
    if (DeleteAsideSource(aside_, sourceId, copy_.target, copy_.links, left) != TreeDeleteResult::Deleted) {
        facts_.name = aside_;
        doneMessage_ = RelocationMessage::CompletedSourceLeft;
        DebugLineF(L"Tressel.Warning: the original could not be deleted completely; %s is left.", left.c_str());
    }
    return RelocationResult::Completed;
}

RelocationResult CopySwapSteps::EndUnchanged(RelocationMessage message) {
    if (removeTarget_) {
        if (releaseHolds_) releaseHolds_();
        (void)disk::RemoveFolder(copy_.target);  // only ever removes an empty folder
    }
    keeper_.Close();
    observer_.Report(message, facts_);
    return RelocationResult::RolledBack;
}

RelocationResult CopySwapSteps::RemoveCopyAndEnd(RelocationMessage message) {
    std::wstring left;
    if (RemoveCopy(copy_, left)) return EndUnchanged(message);
    return CopyLeftBehind(left, message);
}

RelocationResult CopySwapSteps::CopyLeftBehind(const std::wstring& left, RelocationMessage first) {
    keeper_.Close();
    // A cancel needs no box of its own: the one about what is left tells it.
    if (first != RelocationMessage::CopyCancelled) observer_.Report(first, facts_);
    facts_.name = left;
    observer_.Report(RelocationMessage::CopyLeft, facts_);
    return RelocationResult::RolledBack;
}

namespace {

// Only "not found" says that nothing is there; a look that fails otherwise is
// taken once more before it counts.
bool NothingAt(const std::wstring& path) {
    for (int look = 0; look < 2; ++look) {
        if (disk::Attributes(path) != INVALID_FILE_ATTRIBUTES) return false;
        if (IsNotFoundError(::GetLastError())) return true;
    }
    return false;
}

bool IsCopyFault(RelocationMessage message) {
    return message == RelocationMessage::CopyTargetFailed || message == RelocationMessage::CopySourceUnreadable ||
           message == RelocationMessage::CopySourceChanged || message == RelocationMessage::CopyDiffers;
}

}  // namespace

CopyBackSteps::CopyBackSteps(CopyBackPlan plan, JournalKeeper& keeper, RelocationObserver& observer,
                             RelocationFacts& facts, std::function<void()> releaseHolds)
    : plan_(std::move(plan)), keeper_(keeper), observer_(observer), facts_(facts), releaseHolds_(std::move(releaseHolds)) {}

CopyAcrossRequest CopyBackSteps::CopyRequest() const {
    CopyAcrossRequest copy;
    copy.source = plan_.target;
    copy.target = plan_.copyPlace;
    copy.names = plan_.names;
    copy.links = plan_.junctionLinks;
    copy.compareContents = plan_.compareContents;
    return copy;
}

// A look that fails is taken once more before the junction counts as changed.
bool CopyBackSteps::JunctionAsItWas() const {
    for (int look = 0; look < 2; ++look) {
        ReparseBytes now;
        DWORD tag = 0;
        if (disk::ReadLink(plan_.junction, true, now, tag) == LinkKind::Junction && now == plan_.junctionData) {
            return true;
        }
    }
    return false;
}

// What stands there decides, not the call's word: a call can fail after its work.
bool CopyBackSteps::MakeJunctionAgain() const {
    if (JunctionAsItWas()) return true;
    (void)disk::MakeLink(plan_.junction, true, plan_.junctionData);
    return JunctionAsItWas();
}

// The copy's folder, with the permissions the files have where they come from;
// known by its identity from here on.
bool CopyBackSteps::MakeCopyFolder() {
    if (!disk::MakeFolder(plan_.copyPlace) || !CopyFolderPermissions(plan_.target, plan_.copyPlace) ||
        !ReadPlainFolderId(plan_.copyPlace, plan_.copyId)) {
        return false;
    }
    keeper_.NoteFolders(plan_.copyId, plan_.targetId);
    return keeper_.Rewrite();
}

RelocationResult CopyBackSteps::CopyProveAndSwap() {
    const CopyAcrossRequest copy = CopyRequest();
    std::wstring left;
    // A copy an earlier try left is nobody's proof: it goes, folder and all.
    if (!RemoveCopy(copy, left) || (!disk::RemoveFolder(plan_.copyPlace) && !NothingAt(plan_.copyPlace))) {
        facts_.name = plan_.copyPlace;
        facts_.error = ::GetLastError();
        return EndWithoutCopy(RelocationMessage::CopyTargetFailed, true, left.empty() ? plan_.copyPlace : left);
    }
    if (!MakeCopyFolder()) {
        facts_.name = plan_.copyPlace;
        facts_.error = ::GetLastError();
        return EndWithoutCopy(RelocationMessage::CopyTargetFailed);
    }
    const CopyAcrossOutcome copied = CopyAcross(copy, observer_);
    if (copied.copy.result != TreeCopyResult::Copied) {
        cancelled_ = copied.copy.result == TreeCopyResult::Cancelled;
        RelocationMessage message = RelocationMessage::CopyCancelled;
        if (!cancelled_) {
            facts_.name = copied.copy.path;
            facts_.error = copied.copy.error;
            message = CopyFaultMessage(copied.copy.fault);
        }
        return EndWithoutCopy(message, true, copied.removed ? std::wstring() : copied.left);
    }
    if (!PutLinksIn(plan_.copyPlace, plan_.junctionLinks, plan_.junction, plan_.junction, facts_.name)) {
        return EndWithoutCopy(RelocationMessage::CopyLinkNotMade);
    }
    if (!keeper_.Announce(JournalPhase::Verified)) {
        facts_.name = keeper_.path();
        return EndWithoutCopy(RelocationMessage::JournalNotWritten);
    }
    return PutCopyInPlace();
}

// The junction goes and the proven copy takes its name; when the copy cannot,
// the junction is made again from its own bytes and the copy removed.
RelocationResult CopyBackSteps::PutCopyInPlace() {
    observer_.OnSwapping(true);
    if (!JunctionAsItWas() || !StillTheSameFolder(plan_.copyPlace, plan_.copyId)) {
        observer_.OnSwapping(false);
        facts_.name = JunctionAsItWas() ? plan_.copyPlace : plan_.junction;
        return EndWithoutCopy(RelocationMessage::FolderReplaced);
    }
    if (!disk::RemoveJunction(plan_.junction) && !NothingAt(plan_.junction)) {
        observer_.OnSwapping(false);
        return EndWithoutCopy(RelocationMessage::MoveBackJunctionNotReplaced);
    }
    const RelocationResult result = MoveCopyIn();
    observer_.OnSwapping(false);
    return result;
}

RelocationResult CopyBackSteps::MoveCopyIn() {
    if (disk::Move(plan_.copyPlace, plan_.junction, 0) || StillTheSameFolder(plan_.junction, plan_.copyId)) {
        if (StillTheSameFolder(plan_.junction, plan_.copyId)) {
            (void)keeper_.Announce(JournalPhase::Swapped);
            return DeleteOriginals();
        }
    }
    DebugLineF(L"Tressel.Error: the copy could not take the junction's place at %s.", plan_.junction.c_str());
    if (StillTheSameFolder(plan_.copyPlace, plan_.copyId) && MakeJunctionAgain()) {
        return EndWithoutCopy(RelocationMessage::MoveBackFailedRestored);
    }
    // The originals and their proven copy both stand whole: the journal stays, to
    // finish or undo this at the next start.
    facts_.name = plan_.copyPlace;
    observer_.Report(RelocationMessage::MoveBackSwapStuck, facts_);
    return RelocationResult::NotRestored;
}

RelocationResult CopyBackSteps::DeleteOriginals() {
    (void)keeper_.Announce(JournalPhase::DeletingSource);
    if (releaseHolds_) releaseHolds_();
    // Links inside stand in the folder as they were read there, which the journal
    // keeps in the form they took at the old path.
    (void)RemoveLinksFrom(plan_.target, plan_.junctionLinks, plan_.junction, plan_.target);
    std::wstring left;
    const TreeDeleteResult deleted =
        DeleteAsideSource(plan_.target, plan_.targetId, plan_.junction, plan_.targetLinks, left);
    keeper_.Close();
    if (deleted == TreeDeleteResult::Deleted) {
        observer_.Report(RelocationMessage::MoveBackCompleted, facts_);
    } else {
        facts_.name = left.empty() ? plan_.target : left;
        observer_.Report(RelocationMessage::MoveBackOriginalLeft, facts_);
    }
    return RelocationResult::Completed;
}

RelocationResult CopyBackSteps::Undo() {
    if (!MakeJunctionAgain()) {
        observer_.Report(RelocationMessage::MoveBackNotRestored, facts_);
        return RelocationResult::NotRestored;
    }
    return EndWithoutCopy(RelocationMessage::MoveBackUndone);
}

// The copy is removed again (and its folder); the junction and its files are as
// they were. With `removedAlready`, the copy's own end removed it and `leftAlready`
// names what it left.
RelocationResult CopyBackSteps::EndWithoutCopy(RelocationMessage message, bool removedAlready,
                                               const std::wstring& leftAlready) {
    std::wstring left = leftAlready;
    bool removed = removedAlready ? left.empty() : RemoveCopy(CopyRequest(), left);
    if (removed && !disk::RemoveFolder(plan_.copyPlace) && !NothingAt(plan_.copyPlace)) {
        removed = false;
        left = plan_.copyPlace;
    }
    keeper_.Close();
    const std::wstring target = facts_.target;
    // A copy that failed says where it was going.
    if (IsCopyFault(message)) facts_.target = plan_.copyPlace;
    if (message != RelocationMessage::CopyCancelled || removed) observer_.Report(message, facts_);
    if (!removed) {
        facts_.target = plan_.copyPlace;
        facts_.name = left;
        observer_.Report(RelocationMessage::CopyLeft, facts_);
    }
    facts_.target = target;
    return RelocationResult::RolledBack;
}
