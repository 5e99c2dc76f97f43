#include "engine/relocation_engine.h"

#include <shellapi.h>

#include <algorithm>
#include <optional>

#include "engine/disk_calls.h"
#include "base/debug_log.h"
#include "base/unique_resource.h"
#include "junction/junction.h"
#include "junction/reparse_platform.h"
#include "engine/folder_move.h"
#include "engine/journal_keeper.h"
#include "engine/in_use_probe.h"
#include "engine/moved_links.h"
#include "engine/relocation_paths.h"
#include "engine/folder_identity.h"
#include "engine/folder_security.h"
#include "engine/operation_lock.h"
#include "engine/copy_across.h"

namespace {

constexpr wchar_t kProgressTitle[] = L"Moving folder contents to new destination ...";
// How long a removed source folder may linger before the relocation is undone.
constexpr int kLingerChecks = 50;
constexpr DWORD kLingerPauseMs = 100;

// The observer hears that files are moving for as long as this lives.
class MovingFiles {
public:
    explicit MovingFiles(RelocationObserver& observer) : observer_(observer) { observer_.OnFilesMoving(true); }
    ~MovingFiles() { observer_.OnFilesMoving(false); }
    MovingFiles(const MovingFiles&) = delete;
    MovingFiles& operator=(const MovingFiles&) = delete;

private:
    RelocationObserver& observer_;
};

// `fullPath` itself or its nearest ancestor that exists; empty when none does.
std::wstring NearestExistingFolder(std::wstring fullPath) {
    while (!fullPath.empty()) {
        const DWORD attributes = disk::Attributes(fullPath);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return fullPath;
        if (IsDriveRoot(fullPath)) break;
        const size_t slash = fullPath.find_last_of(L'\\');
        if (slash == std::wstring::npos) break;
        fullPath.resize(slash == 2 && fullPath[1] == L':' ? 3 : slash);
    }
    return std::wstring();
}

// One relocation, from the request to its end. Each step either goes on or
// reports why it stops.
class Relocation {
public:
    Relocation(const RelocationRequest& request, RelocationObserver& observer)
        : request_(request),
          observer_(observer),
          store_(request.journal != nullptr ? request.journal : nullptr) {}

    RelocationResult Run() {
        if (!ReadRequest() || !RequestCanEndWell() || !SourceIsPlainFolder() || !TargetIsUsable() ||
            !ChooseHowToMove() || !ChooseAside() || !ScanPasses() ||
            !SystemFilesAccepted() || !SourceIsFolder() || !PathsFitInTarget() || !TargetCanHoldLinks() || !TargetHasRoom() ||
            !ClearBlockingAttributes() || !SourceNotInUse() || !ListMovedEntries() || !JournalStarted()) {
            return RelocationResult::NotStarted;
        }
        // A relocation that ended split between the two folders keeps its journal:
        // the next start offers to finish it or move it back. A whole one drops it
        // before the user is told, so that no journal outlives the last message.
        MovingFiles moving(observer_);
        const RelocationResult result = byCopy_ ? CopyAndSwap() : MoveAndLink();
        if (result == RelocationResult::Completed) {
            keeper_->Close();
            // What moved is kept for the move back, which then tells anything the
            // destination held before from the relocation's own.
            if (!store_->WriteMovedRecord({fullSource_, fullTarget_, targetId_, movedNames_})) {
                DebugLine(L"Tressel.Warning: what the relocation moved could not be recorded.");
            }
            observer_.Report(doneMessage_, facts_);
        } else if (result == RelocationResult::RolledBack) {
            keeper_->Close();
        }
        return result;
    }

private:
    RelocationResult MoveAndLink() {
        if (!TakeLinksOutOfSource()) return RelocationResult::NotStarted;
        // A journal that no longer follows the steps could not guide a recovery:
        // the relocation goes no further than it can record.
        if (!MakeTargetFolder()) {
            observer_.Report(RelocationMessage::MoveFailed, facts_);
            return targetId_.known() ? RollBack() : PutLinksBackUnmoved();
        }
        // Either folder swapped since it was checked (for a link to elsewhere)
        // would send the files, or take them, where nobody asked.
        if (!StillTheSameFolder(facts_.source, sourceId_) || !StillTheSameFolder(facts_.target, targetId_)) {
            return StopBeforeMoving();
        }
        if (!MoveContent() || !keeper_->Announce(JournalPhase::Moved)) {
            observer_.Report(RelocationMessage::MoveFailed, facts_);
            return RollBack();
        }
        if (!PutLinksIn(facts_.target, findings_.links, fullSource_, fullTarget_, facts_.name)) {
            observer_.Report(RelocationMessage::LinkNotRecreated, facts_);
            return RollBack();
        }

        // A folder that cannot be removed (something appeared in it meanwhile) cannot
        // become the junction either.
        // A junction reported as failed may stand all the same (the answer lost): one
        // that points at the destination is the relocation's end.
        // The emptied source is removed only while it is still the folder it was:
        // whatever took its place is not the relocation's to remove.
        if (!StillTheSameFolder(facts_.source, sourceId_)) {
            observer_.Report(RelocationMessage::NotRestored, facts_);
            return RelocationResult::NotRestored;
        }
        sourceHold_.Release();
        // From here the source folder is gone or going: its identity no longer says
        // anything.
        keeper_->NoteFolders(FolderId(), targetId_);
        if (!keeper_->Announce(JournalPhase::SourceRemoved) || !RemoveSourceFolder() ||
            (!disk::MakeJunction(facts_.source, fullTarget_) && !IsJunctionTo(facts_.source, fullTarget_))) {
            (void)keeper_->Announce(JournalPhase::RollingBack);
            return RestoreAfterJunctionFailure(facts_.source, facts_.target, movedNames_, observer_, findings_.links)
                       ? RelocationResult::RolledBack
                       : RelocationResult::NotRestored;
        }
        (void)keeper_->Announce(JournalPhase::JunctionMade);
        return RelocationResult::Completed;
    }

    // Between drives: every original stays untouched until its copy is proven,
    // then the source is swapped for the junction, and it is deleted last.
    RelocationResult CopyAndSwap() {
        CopyAcrossRequest copy;
        copy.source = fullSource_;
        copy.target = fullTarget_;
        copy.names = movedNames_;
        copy.links = findings_.links;
        copy.compareContents = request_.compareContents;
        // The folders are held against swapping until the source must be renamed
        // (or a destination made here removed again).
        CopySwapSteps steps(copy, aside_, fullTarget_, *keeper_, observer_, facts_, [&] {
            sourceHold_.Release();
            targetHold_.Release();
        });
        if (!MakeTargetFolder()) {
            facts_.name = facts_.target;
            facts_.error = ::GetLastError();
            return steps.EndUnchanged(RelocationMessage::CopyTargetFailed);
        }
        steps.RemoveTargetWhenEmpty(madeTarget_);
        if (!StillTheSameFolder(facts_.source, sourceId_) || !StillTheSameFolder(facts_.target, targetId_)) {
            facts_.name = StillTheSameFolder(facts_.source, sourceId_) ? facts_.target : facts_.source;
            return steps.EndUnchanged(RelocationMessage::FolderReplaced);
        }
        const RelocationResult result = steps.CopyProveAndSwap(sourceId_);
        doneMessage_ = steps.doneMessage();
        return result;
    }

    // The journal names what is about to move before anything moves; a relocation
    // that could not be finished or undone after a crash does not start.
    bool JournalStarted() {
        DWORD lockError = 0;
        switch (lock_.Take(lockError)) {
        case OperationLock::State::Taken:
            break;
        case OperationLock::State::HeldElsewhere:
            return Refuse(RelocationMessage::OperationRunning);
        case OperationLock::State::Failed:
            facts_.error = lockError;
            return Refuse(RelocationMessage::WorkerFailed);
        }
        RelocationJournal journal;
        journal.source = fullSource_;
        journal.target = fullTarget_;
        journal.sourceId = sourceId_;
        journal.targetId = targetId_;
        journal.phase = byCopy_ ? JournalPhase::Copying : JournalPhase::Moving;
        journal.aside = aside_;
        journal.entries = movedNames_;
        for (const LinkRecord& link : findings_.links) journal.links.push_back({link.relativePath, link.folder, link.data});
        // The user's store is found only now: looking up its folders costs the
        // dialog's thread a moment that the checks before the scan need not pay.
        if (store_ == nullptr) store_ = &userStore_.emplace(JournalStore::ForCurrentUser());
        keeper_.emplace(*store_, journal);
        switch (FindPendingJournal(*store_, facts_.error)) {
        case PendingJournal::None:
            break;
        case PendingJournal::Kept:
            facts_.name = store_->path();
            return Refuse(RelocationMessage::JournalPending);
        case PendingJournal::Unknown:
            facts_.name = store_->path();
            return Refuse(RelocationMessage::JournalUnreadable);
        case PendingJournal::Untrusted:
            facts_.name = store_->folder();
            return Refuse(RelocationMessage::JournalUntrusted);
        }
        // The journal must outlive whatever happens to the two folders.
        const auto holds = [](const std::wstring& folder, const std::wstring& inner) {
            const PathRelation relation = RelatePaths(folder, inner);
            return relation == PathRelation::Same || relation == PathRelation::TargetInsideSource;
        };
        std::wstring storeFolder;
        if (!store_->folder().empty() && FullPathWithin(store_->folder(), 32767, storeFolder) &&
            (holds(fullSource_, storeFolder) || holds(fullTarget_, storeFolder))) {
            facts_.name = store_->folder();
            return Refuse(RelocationMessage::JournalInsideFolders);
        }
        RelocationJournal readable;
        if (!ParseJournal(FormatJournal(journal), readable) || !keeper_->Announce(journal.phase)) {
            // A write reported as failed may have put the journal there all the same;
            // nothing moves, so none may stay to hold up the next relocation.
            keeper_->Close();
            facts_.name = store_->path();
            return Refuse(RelocationMessage::JournalNotWritten);
        }
        return true;
    }

    bool Refuse(RelocationMessage message) {
        observer_.Report(message, facts_);
        return false;
    }

    // A field whose text does not fit the dialog's buffer is never cut: it reads as
    // too long.
    static bool CleanField(const std::wstring& typed, std::wstring& path) {
        const bool fits = typed.size() < MAX_PATH;
        path = fits ? typed : std::wstring();
        CleanRelocationPath(path);
        return fits;
    }

    bool ReadRequest() {
        const bool sourceFits = CleanField(request_.source, facts_.source);
        const bool targetFits = CleanField(request_.target, facts_.target);
        if (sourceFits && facts_.source.empty()) return Refuse(RelocationMessage::NoSource);
        if (!sourceFits || !FullPathWithin(facts_.source, kMaxSourceLength, fullSource_)) {
            facts_.limit = kMaxSourceLength;
            return Refuse(RelocationMessage::SourceTooLong);
        }
        if (targetFits && facts_.target.empty()) return Refuse(RelocationMessage::NoTarget);
        if (!targetFits || !FullPathWithin(facts_.target, kMaxTargetLength, fullTarget_)) {
            facts_.limit = kMaxTargetLength;
            return Refuse(RelocationMessage::TargetTooLong);
        }
        // A subst drive exists only in the logon session that made it: the
        // junction names the folder it stands for.
        fullTarget_ = WithoutSubstDrive(fullTarget_);
        if (fullTarget_.size() >= static_cast<size_t>(kMaxTargetLength)) {
            facts_.limit = kMaxTargetLength;
            return Refuse(RelocationMessage::TargetTooLong);
        }
        return true;
    }

    bool RequestCanEndWell() {
        // A drive cannot be moved away; said before it reads as "holds the destination".
        if (IsDriveRoot(facts_.source)) return Refuse(RelocationMessage::SourceIsDriveRoot);
        // Compared as written, then as the system resolves them: a short name, a
        // junction on the way or a subst drive must not hide that one holds the
        // other.
        PathRelation relation = RelatePaths(fullSource_, fullTarget_);
        if (relation == PathRelation::Separate) relation = RelatePaths(ResolvedPath(fullSource_), ResolvedPath(fullTarget_));
        switch (relation) {
        case PathRelation::Same:
            return Refuse(RelocationMessage::SameFolder);
        case PathRelation::TargetInsideSource:
            return Refuse(RelocationMessage::TargetInsideSource);
        case PathRelation::SourceInsideTarget:
            return Refuse(RelocationMessage::SourceInsideTarget);
        case PathRelation::Separate:
            break;
        }
        // Moving the files first and finding out afterwards that no junction can
        // stand in their place would break every program that uses the old path.
        if (!VolumeSupportsReparsePoints(fullSource_.c_str())) return Refuse(RelocationMessage::NoReparseSupport);
        return true;
    }

    // A link's files are not its own: what the source is, is settled before
    // anything reads or renames it.
    bool SourceIsPlainFolder() {
        const DWORD attributes = disk::Attributes(facts_.source);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return Refuse(RelocationMessage::SourceIsLink);
        }
        return true;
    }

    // The destination must be missing (it is then made) or a plain folder on a
    // local drive: a junction cannot point at a network folder, and a file or link
    // there would be overwritten or followed by the move.
    bool TargetIsUsable() {
        if (fullTarget_.compare(0, 4, L"\\\\.\\") == 0) return Refuse(RelocationMessage::TargetIsDevice);
        const bool unc = fullTarget_.compare(0, 2, L"\\\\") == 0 &&
                         (fullTarget_.compare(0, 4, L"\\\\?\\") != 0 ||
                          ::CompareStringOrdinal(fullTarget_.c_str(), 8, L"\\\\?\\UNC\\", 8, TRUE) == CSTR_EQUAL);
        if (unc) return Refuse(RelocationMessage::TargetNotLocal);
        const std::wstring root = fullTarget_.substr(0, 3);
        if (root.size() == 3 && root[1] == L':' && ::GetDriveTypeW(root.c_str()) == DRIVE_REMOTE) {
            return Refuse(RelocationMessage::TargetNotLocal);
        }
        const DWORD attributes = disk::Attributes(facts_.target);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            facts_.error = ::GetLastError();
            return IsNotFoundError(facts_.error) || Refuse(RelocationMessage::TargetUnreadable);
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return Refuse(RelocationMessage::TargetIsFile);
        // Wine shows a drive that is a Linux mount point as a reparse folder; a
        // drive's root is never a link.
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && !IsDriveRoot(facts_.target)) {
            return Refuse(RelocationMessage::TargetIsLink);
        }
        return TargetKeepsOthersOut();
    }

    // An existing destination keeps its own permissions: once moved there, the
    // files could be changed by whoever may change it. Nobody may gain that.
    bool TargetKeepsOthersOut() {
        SecurityBytes sourceSecurity;
        SecurityBytes targetSecurity;
        bool link = false;  // settled by the checks before this one
        if (!ReadPathSecurity(facts_.source, sourceSecurity, link) ||
            !ReadPathSecurity(facts_.target, targetSecurity, link)) {
            facts_.error = ::GetLastError();
            return Refuse(RelocationMessage::TargetUnreadable);
        }
        if (!WritersBeyond(WritersOf(targetSecurity), WritersOf(sourceSecurity)).empty()) {
            return Refuse(RelocationMessage::TargetLetsOthersWrite);
        }
        return true;
    }

    // Between drives the files are copied and proven before the source goes:
    // decided before the scan, which then tests paths of any length (the copy
    // takes them all). Within one volume they are renamed.
    bool ChooseHowToMove() {
        const std::wstring existing = NearestExistingFolder(fullTarget_);
        byCopy_ = !existing.empty() && reparse_platform::CompareVolumes(facts_.source.c_str(), existing.c_str()) ==
                                           reparse_platform::VolumeMatch::Different;
        return true;
    }

    bool ScanPasses() {
        const AccessScanOutcome outcome =
            RunAccessScan(byCopy_ ? fullSource_ : facts_.source, observer_.ScanProgress(), findings_, byCopy_);
        if (outcome != AccessScanOutcome::NotStarted) observer_.OnScanEnded();
        switch (outcome) {
        case AccessScanOutcome::NotStarted:
            return Refuse(RelocationMessage::WorkerFailed);
        case AccessScanOutcome::Failed:
            if (!findings_.foreignReparsePoint.empty()) {
                facts_.name = findings_.foreignReparsePoint;
                return Refuse(RelocationMessage::ForeignReparsePoint);
            }
            if (!findings_.pathTooLong.empty()) {
                facts_.name = findings_.pathTooLong;
                facts_.limit = MAX_PATH - 1;
                return Refuse(RelocationMessage::PathTooLongInside);
            }
            return Refuse(RelocationMessage::ScanFailed);
        case AccessScanOutcome::Cancelled:
            return false;  // stopped by the user, nothing changed; the dialog shows it
        case AccessScanOutcome::Passed:
            break;
        }
        return true;
    }

    // The shell cannot move a path of MAX_PATH characters or more: what fits in the
    // source may not fit below a longer destination. A copy takes paths of any
    // length; only its links, made again from their records, must fit, below the
    // destination and below the source's place aside.
    bool PathsFitInTarget() {
        if (byCopy_) {
            for (const LinkRecord& link : findings_.links) {
                for (const std::wstring& root : {fullTarget_, aside_}) {
                    const std::wstring path = JoinPath(root, link.relativePath);
                    if (path.size() < MAX_PATH) continue;
                    facts_.name = path;
                    facts_.limit = MAX_PATH - 1;
                    return Refuse(RelocationMessage::PathTooLongInTarget);
                }
            }
            return true;
        }
        if (findings_.longestRelativePath.empty()) return true;
        const std::wstring deepest = JoinPath(fullTarget_, findings_.longestRelativePath);
        if (deepest.size() < MAX_PATH) return true;
        facts_.name = deepest;
        facts_.limit = MAX_PATH - 1;
        return Refuse(RelocationMessage::PathTooLongInTarget);
    }

    // Links travel as links: a destination drive that cannot hold them would only
    // be found out after every file had been copied there.
    bool TargetCanHoldLinks() {
        if (findings_.links.empty() || VolumeSupportsReparsePoints(fullTarget_.c_str())) return true;
        facts_.name = JoinPath(facts_.source, findings_.links.front().relativePath);
        return Refuse(RelocationMessage::LinksNeedReparseTarget);
    }

    // Between volumes the files are copied: the destination's drive must have room
    // for all of them. Within one volume they are only renamed. When either figure
    // cannot be read, the move itself will tell, and is undone.
    bool TargetHasRoom() {
        if (!byCopy_) return true;
        const std::wstring existing = NearestExistingFolder(fullTarget_);
        ULARGE_INTEGER available;
        if (!::GetDiskFreeSpaceExW(existing.c_str(), &available, nullptr, nullptr)) return true;
        if (available.QuadPart >= findings_.totalBytes) return true;
        facts_.needed = findings_.totalBytes;
        facts_.available = available.QuadPart;
        return Refuse(RelocationMessage::NotEnoughRoom);
    }

    bool SystemFilesAccepted() {
        return !findings_.systemFiles || observer_.Confirm(RelocationMessage::SystemFilesQuestion, facts_);
    }

    bool SourceIsFolder() {
        const DWORD attributes = disk::Attributes(facts_.source);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return Refuse(RelocationMessage::SourceNotFolder);
        }
        return true;
    }

    // Clears `flag` on the source folder itself; false when it stays set.
    bool ClearFolderAttribute(DWORD& attributes, DWORD flag) {
        if ((attributes & flag) == 0) return true;
        disk::SetAttributes(facts_.source, attributes & ~flag);
        attributes = disk::Attributes(facts_.source);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & flag) == 0;
    }

    bool ClearBlockingAttributes() {
        DWORD attributes = disk::Attributes(facts_.source);
        if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // the probe that follows will tell
        if (!ClearFolderAttribute(attributes, FILE_ATTRIBUTE_READONLY) ||
            !ClearFolderAttribute(attributes, FILE_ATTRIBUTE_SYSTEM)) {
            return Refuse(RelocationMessage::ReadOnlySource);
        }
        return true;
    }

    bool SourceNotInUse() {
        // A probe name that is taken would read as "in use" and send the user looking
        // for an open file that does not exist.
        facts_.probe = ProbeName(facts_.source);
        if (disk::Attributes(facts_.probe) != INVALID_FILE_ATTRIBUTES) {
            return Refuse(RelocationMessage::ProbeNameTaken);
        }
        switch (ProbeFolderInUse(facts_.source, facts_.probe, disk::ProbeRename)) {
        case ProbeOutcome::InUse:
            return Refuse(RelocationMessage::SourceInUse);
        case ProbeOutcome::StuckUnderProbeName:
            return Refuse(RelocationMessage::StuckUnderProbeName);
        case ProbeOutcome::NotInUse:
            break;
        }
        // From here on the source is known by its identity, and held so that it
        // cannot be swapped until it is emptied.
        if (!ReadPlainFolderId(facts_.source, sourceId_)) return Refuse(RelocationMessage::SourceNotFolder);
        (void)sourceHold_.Take(facts_.source, sourceId_);
        if (ReadPlainFolderId(facts_.target, targetId_)) (void)targetHold_.Take(facts_.target, targetId_);
        return true;
    }

    // What goes to the destination, named before it goes: a roll back takes exactly
    // these entries back, and leaves alone whatever the destination already held.
    bool ListMovedEntries() {
        if (!ListFolderEntries(facts_.source, movedNames_)) return Refuse(RelocationMessage::ScanFailed);
        switch (FirstNameAlsoIn(movedNames_, facts_.target, facts_.name, facts_.error)) {
        case NameCheck::Shared:
            return Refuse(RelocationMessage::NameClash);
        case NameCheck::Unreadable:
            return Refuse(RelocationMessage::NameUnreadable);
        case NameCheck::NoneShared:
            break;
        }
        return true;
    }

    // Where the source goes once its copy is proven: a free name beside it.
    bool ChooseAside() {
        if (!byCopy_) return true;
        aside_ = FreeNameBeside(fullSource_, kAsideSuffix);
        if (!aside_.empty()) return true;
        facts_.name = fullSource_ + kAsideSuffix;
        return Refuse(RelocationMessage::AsideNameTaken);
    }

    bool TakeLinksOutOfSource() {
        bool putBack = true;
        if (TakeLinksOut(facts_.source, findings_.links, facts_.name, putBack)) return true;
        // Nothing has moved; only links that did not come back leave the journal
        // standing, to name them at the next start.
        if (putBack) keeper_->Close();
        observer_.Report(putBack ? RelocationMessage::LinkNotTakenOut : RelocationMessage::LinksNotPutBack, facts_);
        return false;
    }

    // The emptied source folder is removed; the junction takes its name only once
    // the name is really free. A folder that another program still holds open (with
    // delete sharing) lingers after its removal until that program lets go.
    bool RemoveSourceFolder() {
        if (!disk::RemoveFolder(facts_.source)) return false;
        for (int attempt = 0; attempt < kLingerChecks; ++attempt) {
            if (disk::Attributes(facts_.source) == INVALID_FILE_ATTRIBUTES &&
                IsNotFoundError(::GetLastError())) {
                return true;
            }
            ::Sleep(kLingerPauseMs);
        }
        DebugLineF(L"Tressel.Error: %s is still there after its removal.", facts_.source.c_str());
        return false;
    }

    // The shell's move needs its destination folder: told to move several items to a
    // name that does not exist, it may make one of them that folder instead.
    // A destination made here gets the source folder's owner and access list, so
    // that whoever could not change the files before cannot change them there. It
    // is known by its identity from then on, as one that existed already is.
    bool MakeTargetFolder() {
        if (targetId_.known()) return true;
        if (disk::MakeFolder(facts_.target)) {
            if (!CopyFolderPermissions(facts_.source, facts_.target) || !ReadPlainFolderId(facts_.target, targetId_)) {
                DebugLineF(L"Tressel.Error: the destination folder %s could not be given the source's permissions.",
                           facts_.target.c_str());
                return false;
            }
            (void)targetHold_.Take(facts_.target, targetId_);
            madeTarget_ = true;
            keeper_->NoteFolders(sourceId_, targetId_);
            return keeper_->Rewrite();
        }
        const DWORD error = ::GetLastError();
        DebugLineF(L"Tressel.Error: the destination folder %s could not be made (%lu).", facts_.target.c_str(), error);
        return false;
    }

    // A folder was swapped after it was checked: nothing has moved, and the links
    // taken out go back into the source while it is still the source.
    RelocationResult StopBeforeMoving() {
        const bool sourceKept = StillTheSameFolder(facts_.source, sourceId_);
        facts_.name = sourceKept ? facts_.target : facts_.source;
        if (findings_.links.empty() || (sourceKept && PutLinksBack(facts_.source, findings_.links))) {
            keeper_->Close();
            observer_.Report(RelocationMessage::FolderReplaced, facts_);
            return RelocationResult::NotStarted;
        }
        // Links that did not come back keep the journal, which names them.
        observer_.Report(RelocationMessage::NotRestored, facts_);
        return RelocationResult::NotRestored;
    }

    // The shell's move. Its result alone proves nothing: it can report success with
    // items left behind (between file systems under Wine, or after the user
    // cancelled its progress window on Windows), so the source must really be empty
    // afterwards.
    bool MoveContent() {
        const std::wstring from = ShellPathList(facts_.source, true);
        const std::wstring to = ShellPathList(facts_.target, false);
        SHFILEOPSTRUCTW operation = {};
        operation.hwnd = request_.shellOwner;
        operation.wFunc = FO_MOVE;
        operation.pFrom = from.c_str();
        operation.pTo = to.c_str();
        operation.fFlags = FOF_NOCONFIRMMKDIR;
        operation.lpszProgressTitle = kProgressTitle;
        const int result = disk::ShellMove(operation);
        if (result != 0 || operation.fAnyOperationsAborted) {
            DebugLineF(L"Tressel.Error: moving the files failed (%d, aborted %d).", result,
                       operation.fAnyOperationsAborted ? 1 : 0);
            return false;
        }
        if (!FolderIsEmpty(facts_.source)) {
            DebugLineF(L"Tressel.Error: the move left items behind in %s", facts_.source.c_str());
            return false;
        }
        // Links were taken out before the move: they are made in the destination next.
        std::vector<std::wstring> arriving;
        for (const auto& name : movedNames_) {
            const bool link = std::any_of(findings_.links.begin(), findings_.links.end(),
                                          [&](const LinkRecord& l) { return l.relativePath == name; });
            if (!link) arriving.push_back(name);
        }
        if (!AllNamesIn(arriving, facts_.target)) {
            DebugLineF(L"Tressel.Error: not every item arrived in %s", facts_.target.c_str());
            return false;
        }
        return true;
    }

    // Moves the entries that came from the source back into it and makes its links
    // again. What the destination held before is never touched. "Restored" is said
    // only once every entry is seen back in its place. Moving back is the way to
    // safety: it goes on even when the journal cannot say so, and the journal then
    // stays to tell the next start.
    // No destination was made that is known to be the one: nothing went there, and
    // nothing is taken from whatever stands at its path. Only the links come back.
    RelocationResult PutLinksBackUnmoved() {
        if (StillTheSameFolder(facts_.source, sourceId_) && PutLinksBack(facts_.source, findings_.links)) {
            keeper_->Close();
            observer_.Report(RelocationMessage::Restored, facts_);
            return RelocationResult::RolledBack;
        }
        observer_.Report(RelocationMessage::NotRestored, facts_);
        return RelocationResult::NotRestored;
    }

    RelocationResult RollBack() {
        // Nothing is taken out of a folder that is no longer the destination, nor
        // put into one that is no longer the source.
        if ((targetId_.known() && !StillTheSameFolder(facts_.target, targetId_)) ||
            !StillTheSameFolder(facts_.source, sourceId_)) {
            observer_.Report(RelocationMessage::NotRestored, facts_);
            return RelocationResult::NotRestored;
        }
        (void)keeper_->Announce(JournalPhase::RollingBack);
        if (MoveBackWithLinks(facts_.target, facts_.source, movedNames_, findings_.links,
                              [&] { return AllNamesIn(movedNames_, facts_.source); })) {
            keeper_->Close();
            observer_.Report(RelocationMessage::Restored, facts_);
            return RelocationResult::RolledBack;
        }
        observer_.Report(RelocationMessage::NotRestored, facts_);
        return RelocationResult::NotRestored;
    }

    const RelocationRequest& request_;
    RelocationObserver& observer_;
    RelocationFacts facts_;
    std::wstring fullSource_;  // full forms, only to compare the two
    std::wstring fullTarget_;
    AccessScanFindings findings_;
    std::vector<std::wstring> movedNames_;
    const JournalStore* store_;
    std::optional<JournalStore> userStore_;
    OperationLock lock_;
    std::optional<JournalKeeper> keeper_;
    FolderId sourceId_;
    FolderId targetId_;
    FolderHold sourceHold_;
    FolderHold targetHold_;
    bool madeTarget_ = false;  // the destination folder was made by this relocation
    bool byCopy_ = false;      // between drives: copied, proven, swapped, then deleted
    std::wstring aside_;   // where the source goes once its copy is proven
    RelocationMessage doneMessage_ = RelocationMessage::Completed;
};

}  // namespace

RelocationResult RunRelocation(const RelocationRequest& request, RelocationObserver& observer) {
    try {
        return Relocation(request, observer).Run();
    } catch (...) {
        // Out of memory part way: the user must look at both folders.
        DebugLine(L"Tressel.Error: the relocation stopped unexpectedly.");
        try {
            observer.Report(RelocationMessage::UnexpectedStop, RelocationFacts{});
        } catch (...) {
        }
        return RelocationResult::Interrupted;
    }
}

bool IsJunctionTo(const std::wstring& link, const std::wstring& fullTarget) {
    const DWORD attributes = disk::Attributes(link);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
    wchar_t stored[kJunctionPathCapacity] = L"";
    DWORD tag = 0;
    const std::wstring expected = L"\\??\\" + fullTarget;
    return disk::ReadJunction(link, stored, tag) && tag == IO_REPARSE_TAG_MOUNT_POINT &&
           ::CompareStringOrdinal(stored, -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool RestoreAfterJunctionFailure(const std::wstring& source, const std::wstring& target,
                                 const std::vector<std::wstring>& movedNames, RelocationObserver& observer,
                                 const std::vector<LinkRecord>& links) {
    // Whatever stands at the old path now must be a plain folder to take the files.
    // A folder found there (the junction's attempt, or anything else) is given the
    // permissions the files had before they go in.
    bool restored = false;
    if (MakePlainFolder(source, target)) {
        restored = MoveBackWithLinks(target, source, movedNames, links, [&] { return AllNamesIn(movedNames, source); });
    }

    RelocationFacts facts;
    facts.source = source;
    facts.target = target;
    observer.Report(restored ? RelocationMessage::JunctionFailedRestored : RelocationMessage::JunctionFailedNotRestored,
                    facts);
    return restored;
}
