#include "engine/relocation_engine.h"

#include <shellapi.h>

#include <optional>

#include "base/debug_log.h"
#include "junction/junction.h"
#include "engine/folder_move.h"
#include "engine/journal_keeper.h"
#include "engine/in_use_probe.h"
#include "engine/relocation_paths.h"

namespace {

constexpr wchar_t kProgressTitle[] = L"Moving folder contents to new destination ...";

// One relocation, from the request to its end. Each step either goes on or
// reports why it stops.
class Relocation {
public:
    Relocation(const RelocationRequest& request, RelocationObserver& observer)
        : request_(request),
          observer_(observer),
          store_(request.journal != nullptr ? *request.journal : JournalStore::ForCurrentUser()) {}

    RelocationResult Run() {
        if (!ReadRequest() || !RequestCanEndWell() || !ScanPasses() || !SystemFilesAccepted() ||
            !SourceIsFolder() || !ClearBlockingAttributes() || !SourceNotInUse() || !ListMovedEntries() ||
            !JournalStarted()) {
            return RelocationResult::NotStarted;
        }
        // A relocation that ended split between the two folders keeps its journal:
        // the next start offers to finish it or move it back. A whole one drops it
        // before the user is told, so that no journal outlives the last message.
        const RelocationResult result = MoveAndLink();
        if (result == RelocationResult::Completed) {
            keeper_->Close();
            observer_.Report(RelocationMessage::Completed, facts_);
        } else if (result == RelocationResult::RolledBack) {
            keeper_->Close();
        }
        return result;
    }

private:
    RelocationResult MoveAndLink() {
        ::CreateDirectoryW(facts_.target.c_str(), nullptr);
        if (!MoveContent()) return RollBackFailedMove();
        // A journal that no longer follows the steps could not guide a recovery:
        // the relocation goes no further than it can record.
        if (!keeper_->Announce(JournalPhase::Moved)) {
            observer_.Report(RelocationMessage::MoveFailed, facts_);
            return RollBack();
        }

        // A folder that cannot be removed (something appeared in it meanwhile) cannot
        // become the junction either.
        if (!keeper_->Announce(JournalPhase::SourceRemoved) || !::RemoveDirectoryW(facts_.source.c_str()) ||
            !CreateJunction(facts_.source.c_str(), facts_.target.c_str())) {
            (void)keeper_->Announce(JournalPhase::RollingBack);
            return RestoreAfterJunctionFailure(facts_.source, facts_.target, movedNames_, observer_)
                       ? RelocationResult::RolledBack
                       : RelocationResult::NotRestored;
        }
        (void)keeper_->Announce(JournalPhase::JunctionMade);
        return RelocationResult::Completed;
    }

    // The journal names what is about to move before anything moves; a relocation
    // that could not be finished or undone after a crash does not start.
    bool JournalStarted() {
        RelocationJournal journal;
        journal.source = fullSource_;
        journal.target = fullTarget_;
        journal.phase = JournalPhase::Moving;
        journal.entries = movedNames_;
        keeper_.emplace(store_, journal);
        // Another relocation's journal is never overwritten: it is all that tells
        // where that relocation's files are.
        RelocationJournal pending;
        if (store_.Read(pending) != JournalStore::ReadResult::None) {
            facts_.name = store_.path();
            return Refuse(RelocationMessage::JournalPending);
        }
        RelocationJournal readable;
        if (!ParseJournal(FormatJournal(journal), readable) || !keeper_->Announce(JournalPhase::Moving)) {
            facts_.name = store_.path();
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
        return true;
    }

    bool RequestCanEndWell() {
        switch (RelatePaths(fullSource_, fullTarget_)) {
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

    bool ScanPasses() {
        const AccessScanOutcome outcome = RunAccessScan(facts_.source, observer_.ScanProgress(), findings_);
        if (outcome != AccessScanOutcome::NotStarted) observer_.OnScanEnded();
        switch (outcome) {
        case AccessScanOutcome::NotStarted:
            return Refuse(RelocationMessage::WorkerFailed);
        case AccessScanOutcome::Failed:
            return Refuse(RelocationMessage::ScanFailed);
        case AccessScanOutcome::Passed:
            break;
        }
        return true;
    }

    bool SystemFilesAccepted() {
        return !findings_.systemFiles || observer_.Confirm(RelocationMessage::SystemFilesQuestion, facts_);
    }

    bool SourceIsFolder() {
        const DWORD attributes = ::GetFileAttributesW(facts_.source.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return Refuse(RelocationMessage::SourceNotFolder);
        }
        return true;
    }

    // Clears `flag` on the source folder itself; false when it stays set.
    bool ClearFolderAttribute(DWORD& attributes, DWORD flag) {
        if ((attributes & flag) == 0) return true;
        ::SetFileAttributesW(facts_.source.c_str(), attributes & ~flag);
        attributes = ::GetFileAttributesW(facts_.source.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & flag) == 0;
    }

    bool ClearBlockingAttributes() {
        DWORD attributes = ::GetFileAttributesW(facts_.source.c_str());
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
        if (::GetFileAttributesW(facts_.probe.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return Refuse(RelocationMessage::ProbeNameTaken);
        }
        switch (ProbeFolderInUse(facts_.source, facts_.probe)) {
        case ProbeOutcome::InUse:
            return Refuse(RelocationMessage::SourceInUse);
        case ProbeOutcome::StuckUnderProbeName:
            return Refuse(RelocationMessage::StuckUnderProbeName);
        case ProbeOutcome::NotInUse:
            break;
        }
        return true;
    }

    // What goes to the destination, named before it goes: a roll back takes exactly
    // these entries back, and leaves alone whatever the destination already held.
    bool ListMovedEntries() {
        if (!ListFolderEntries(facts_.source, movedNames_)) return Refuse(RelocationMessage::ScanFailed);
        facts_.name = FirstNameAlsoIn(movedNames_, facts_.target);
        if (!facts_.name.empty()) return Refuse(RelocationMessage::NameClash);
        return true;
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
        const int result = ::SHFileOperationW(&operation);
        if (result != 0 || operation.fAnyOperationsAborted) {
            DebugLineF(L"Tressel.Error: moving the files failed (%d, aborted %d).", result,
                       operation.fAnyOperationsAborted ? 1 : 0);
            return false;
        }
        if (!FolderIsEmpty(facts_.source)) {
            DebugLineF(L"Tressel.Error: the move left items behind in %s", facts_.source.c_str());
            return false;
        }
        return true;
    }

    // Moves the entries that came from the source back into it. What the
    // destination held before is never touched.
    RelocationResult RollBackFailedMove() {
        observer_.Report(RelocationMessage::MoveFailed, facts_);
        return RollBack();
    }

    RelocationResult RollBack() {
        // Moving back is the way to safety: it goes on even when the journal cannot
        // say so, and the journal stays to tell the next start.
        (void)keeper_->Announce(JournalPhase::RollingBack);
        if (MoveEntriesBack(facts_.target, facts_.source, movedNames_)) {
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
    JournalStore store_;
    std::optional<JournalKeeper> keeper_;
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

bool RestoreAfterJunctionFailure(const std::wstring& source, const std::wstring& target,
                                 const std::vector<std::wstring>& movedNames, RelocationObserver& observer) {
    DWORD attributes = ::GetFileAttributesW(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        ::CreateDirectoryW(source.c_str(), nullptr);
        attributes = ::GetFileAttributesW(source.c_str());
    }
    // Whatever stands at the old path now must be a plain folder to take the files.
    const bool sourceUsable = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                              (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    const bool restored = sourceUsable && MoveEntriesBack(target, source, movedNames);

    RelocationFacts facts;
    facts.source = source;
    facts.target = target;
    observer.Report(restored ? RelocationMessage::JunctionFailedRestored : RelocationMessage::JunctionFailedNotRestored,
                    facts);
    return restored;
}
