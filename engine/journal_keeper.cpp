#include "engine/journal_keeper.h"

#include <atomic>
#include <utility>

#include "base/debug_log.h"
#include "engine/disk_calls.h"
#include "engine/folder_move.h"

namespace {

std::atomic<RelocationPhaseHook> phaseHook{nullptr};
constexpr int kCloseAttempts = 3;
constexpr DWORD kClosePauseMs = 100;

}  // namespace

void SetRelocationPhaseHook(RelocationPhaseHook hook) { phaseHook = hook; }

PendingJournal FindPendingJournal(const JournalStore& store, DWORD& error) {
    RelocationJournal journal;
    switch (store.Read(journal)) {
    case JournalStore::ReadResult::None:
        return PendingJournal::None;
    case JournalStore::ReadResult::Found:
        return PendingJournal::Kept;
    case JournalStore::ReadResult::Untrusted:
        return PendingJournal::Untrusted;
    case JournalStore::ReadResult::Damaged:
        break;
    }
    // A journal that did not open may be no journal at all: saying that one is kept
    // would send the user looking for an operation that never was.
    if (disk::Attributes(store.path()) != INVALID_FILE_ATTRIBUTES) return PendingJournal::Kept;
    error = ::GetLastError();
    return IsNotFoundError(error) ? PendingJournal::None : PendingJournal::Unknown;
}

JournalKeeper::JournalKeeper(const JournalStore& store, RelocationJournal journal)
    : store_(store), journal_(std::move(journal)) {}

bool JournalKeeper::Announce(JournalPhase phase) {
    journal_.phase = phase;
    if (!store_.Write(journal_)) return false;
    if (const RelocationPhaseHook hook = phaseHook.load()) hook(phase, journal_);
    return true;
}

bool JournalKeeper::Close() {
    // A journal left behind would greet the next start with a relocation that has
    // ended: a removal that fails (the file held for a moment) is tried again.
    for (int attempt = 0; attempt < kCloseAttempts; ++attempt) {
        if (attempt > 0) ::Sleep(kClosePauseMs);
        if (store_.Remove()) return true;
    }
    DebugErrorLine((L"Tressel.Error: the journal could not be removed: " + store_.path()).c_str());
    return false;
}
