// The relocation itself, apart from any window: check the request, scan, probe,
// move, verify, leave a junction, or roll back. It reports what happens through a
// RelocationObserver, which decides how the user sees it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/access_scan.h"
#include "engine/relocation_journal.h"
#include "engine/tree_copy.h"

// Everything the user may be told or asked during a relocation.
enum class RelocationMessage {
    NoSource,
    NoTarget,
    SourceTooLong,
    TargetTooLong,
    SameFolder,
    TargetInsideSource,
    SourceInsideTarget,
    NoReparseSupport,
    SourceIsDriveRoot,
    SourceIsLink,
    TargetIsFile,
    TargetIsLink,
    TargetIsDevice,
    TargetNotLocal,
    TargetUnreadable,
    WorkerFailed,
    ScanFailed,
    ForeignReparsePoint,
    PathTooLongInside,
    PathTooLongInTarget,
    LinksNeedReparseTarget,
    NotEnoughRoom,
    SystemFilesQuestion,
    SourceNotFolder,
    ReadOnlySource,
    ProbeNameTaken,
    SourceInUse,
    StuckUnderProbeName,
    NameClash,
    NameUnreadable,
    LinkNotTakenOut,
    LinksNotPutBack,
    MoveFailed,
    LinkNotRecreated,
    Restored,
    NotRestored,
    JunctionFailedRestored,
    JunctionFailedNotRestored,
    Completed,
    UnexpectedStop,
    // Moving a relocated folder's files back into the junction's place.
    MoveBackQuestion,
    MoveBackNotJunction,
    MoveBackTargetNotLocal,
    MoveBackScanFailed,
    MoveBackNoRoom,
    MoveBackHoldsLink,
    MoveBackJunctionNotReplaced,
    MoveBackFailedRestored,
    MoveBackNotRestored,
    MoveBackCompleted,
    MoveBackTargetLeft,
    JournalNotWritten,
    JournalPending,
    JournalInsideFolders,
    // At the next start, after a relocation that did not end: what is on the disk,
    // and the question what to do.
    RecoveryNothingMoved,
    RecoveryPartlyMoved,
    RecoveryAllMoved,
    RecoverySourceRemoved,
    RecoveryRollingBack,
    RecoveryJunctionMade,
    // A journal that cannot be acted on, and the question whether to discard it.
    RecoveryJournalDamaged,
    RecoveryFoldersGone,
    RecoveryFoldersChanged,
    // At the next start, after a move back that did not end: what is on the disk.
    RecoveryMoveBackNotStarted,
    RecoveryMoveBackJunctionGone,
    RecoveryMoveBackPartly,
    RecoveryMoveBackAllBack,
    // How the undoing of a move back ended.
    MoveBackUndone,
    MoveBackUndoFailed,
    MoveBackJunctionNotMade,
    // A link inside the junction's folder, on its way back.
    MoveBackLinkNotTakenOut,
    MoveBackLinksNotPutBack,
    // The journal's place could not be read: whether another operation is still
    // to be finished cannot be told.
    JournalUnreadable,
    // Nobody but administrators may steer what Dirshift moves: the journal's place,
    // the destination's permissions, another Dirshift at work, a folder swapped
    // after it was checked.
    JournalUntrusted,
    OperationRunning,
    TargetLetsOthersWrite,
    FolderReplaced,
    RecoveryJournalUntrusted,
    RecoveryBusy,
    EarlierJournalFound,
    // A junction to a drive's root: the drive's own folders are not the user's to
    // move back.
    MoveBackTargetIsRoot,
    // A junction inside the folder it points to (or that folder inside it).
    MoveBackNotSeparate,
    // The move back's question when another junction beside it points to the same
    // folder ({name}).
    MoveBackQuestionSharedTarget,
    // The move back's question when the folder holds {limit} entries, such as
    // {name}, that its relocation did not move there.
    MoveBackQuestionHeldBefore,
    // Between drives the files are copied and proven before the source goes. A
    // copy that failed at {name} ({error}) was removed again; the source is as it
    // was.
    CopyTargetFailed,
    CopySourceUnreadable,
    CopySourceChanged,
    CopyDiffers,
    // The user's Cancel stopped the copy, and the partial copy is gone.
    CopyCancelled,
    // The partial copy could not be removed completely: {name} is left of it.
    CopyLeft,
    // The copy is proven, but the source could not be renamed aside ({error}).
    SourceNotRenamed,
    // The junction could not be made and the source could not be renamed back
    // from {name}, where every file still is.
    SwapStuckAside,
    // Done, but of the source, renamed aside, {name} could not be deleted.
    CompletedSourceLeft,
    // A link could not be made in the copy; the source is as it was.
    CopyLinkNotMade,
    // No free name beside the source ({name} and the numbered ones) to rename it
    // to once its copy is proven.
    AsideNameTaken,
    // At the next start, after a relocation between drives that did not end.
    RecoveryCopyCutShort,      // the source is whole; the copy may not be
    RecoveryCopySwapCutShort,  // the copy is proven; the source is renamed aside, no junction yet
    RecoveryDeletingSource,    // the junction stands; the source, renamed aside, is not deleted yet
    RecoveryCopyDone,          // everything is done but closing the journal
    // A move back between drives: the originals could not all be deleted
    // ({name} is left of them), or the proven copy ({name}) could not take the
    // junction's place nor the junction be made again.
    MoveBackOriginalLeft,
    MoveBackSwapStuck,
    // At the next start, after a move back between drives that did not end.
    RecoveryMoveBackCopyCutShort,      // the junction stands; the copy beside it may not be whole
    RecoveryMoveBackCopySwapCutShort,  // the copy is proven, the junction gone, the copy not in place yet
    RecoveryMoveBackDeleting,          // the copy stands at the old path; the originals are not all deleted
};
// The enumeration's last message; the message table has one row for each up to it.
constexpr RelocationMessage kLastRelocationMessage = RelocationMessage::RecoveryMoveBackDeleting;

// What a message names.
struct RelocationFacts {
    std::wstring source;  // as the user named them
    std::wstring target;
    std::wstring probe;  // the in-use probe's name
    std::wstring name;   // the entry concerned: one both folders hold, a link, a long path
    int limit = 0;       // the longest path accepted
    std::uint64_t needed = 0;     // bytes to move
    std::uint64_t available = 0;  // bytes free for this user on the destination's drive
    DWORD error = 0;              // the system's error code, where one is shown
};

class RelocationObserver {
public:
    virtual ~RelocationObserver() = default;
    // Where the access scan reports; called on the scan's worker thread.
    virtual AccessScanProgress& ScanProgress() = 0;
    // The scan's worker has ended; back on the relocation's thread.
    virtual void OnScanEnded() = 0;
    // A question; true when the user answered Yes.
    virtual bool Confirm(RelocationMessage question, const RelocationFacts& facts) = 0;
    // A message; returns once the user has seen it.
    virtual void Report(RelocationMessage message, const RelocationFacts& facts) = 0;
    // Files are about to move (true), or are where they will stay (false): in
    // between, stopping the program (a log-off) would leave them split.
    virtual void OnFilesMoving(bool /*moving*/) {}
    // Between drives: the copy's figures, from the copy's threads, at most ten
    // times a second and never two at once.
    virtual void OnCopyProgress(const TreeCopyProgress& /*progress*/) {}
    // Returns once the copy's worker has ended. Setting `cancel` meanwhile (the
    // user's Cancel) stops the copy, which is then removed. A dialog keeps
    // answering by pumping its messages.
    virtual void WaitForCopy(HANDLE worker, std::atomic<bool>& /*cancel*/) { ::WaitForSingleObject(worker, INFINITE); }
    // The source is being swapped for the junction (true) until that is done
    // (false): it takes a moment, and nothing can stop it half-way.
    virtual void OnSwapping(bool /*swapping*/) {}
};

struct RelocationRequest {
    // The two fields as typed; a text of MAX_PATH characters or more is too long.
    std::wstring source;
    std::wstring target;
    // The window that the shell's progress window and questions belong to; the
    // engine only hands it on. May be null.
    HWND shellOwner = nullptr;
    // Where the relocation keeps its journal; null: the user's own store.
    const JournalStore* journal = nullptr;
    // Between drives, every copied byte is compared with its original, not only
    // each file's size and time.
    bool compareContents = false;
};

enum class RelocationResult {
    Completed,     // the files are in the destination, a junction at the old path
    NotStarted,    // refused or declined before anything moved
    RolledBack,    // the files are back at the old path
    NotRestored,   // some files could not go back; the user was told where they are
    Interrupted,   // stopped unexpectedly (out of memory); the user was told to look
};

// Runs one relocation from start to end on the calling thread.
[[nodiscard]] RelocationResult RunRelocation(const RelocationRequest& request, RelocationObserver& observer);

// The files were moved but no junction could take the old path's place: every
// program using that path would break. Removes the `links` made in `target`, moves
// the entries `movedNames` back from `target` into `source` (re-created as a plain
// folder when missing), makes the links again there and reports it. True when all
// came back.
[[nodiscard]] bool RestoreAfterJunctionFailure(const std::wstring& source, const std::wstring& target,
                                               const std::vector<std::wstring>& movedNames,
                                               RelocationObserver& observer,
                                               const std::vector<LinkRecord>& links = {});

// True when `link` is a junction whose stored target is `fullTarget`.
[[nodiscard]] bool IsJunctionTo(const std::wstring& link, const std::wstring& fullTarget);
