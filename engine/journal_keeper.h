// Keeps a relocation's journal in step with the relocation: each phase is on the
// disk before the step it announces starts, and the journal goes once the
// relocation has ended with the files in one whole place.
#pragma once

#include "engine/relocation_journal.h"

// Called right after each phase reached the disk. Null in the program; a test
// build sets it to stop the process at a chosen phase, as a crash would.
using RelocationPhaseHook = void (*)(JournalPhase phase, const RelocationJournal& journal);
void SetRelocationPhaseHook(RelocationPhaseHook hook);

// Whether another operation's journal is kept in `store`, which nothing may
// overwrite: it is all that tells where that operation's files are.
enum class PendingJournal {
    None,
    Kept,       // whole or damaged, it is there
    Unknown,    // its place could not be read (`error`)
    Untrusted,  // its place may be changed by others than administrators

};
PendingJournal FindPendingJournal(const JournalStore& store, DWORD& error);

class JournalKeeper {
public:
    // `store` must outlive the keeper. Nothing is written yet.
    JournalKeeper(const JournalStore& store, RelocationJournal journal);

    const RelocationJournal& journal() const { return journal_; }
    const std::wstring& path() const { return store_.path(); }

    // The folders' identities, written with the next phase.
    void NoteFolders(const FolderId& source, const FolderId& target) {
        journal_.sourceId = source;
        journal_.targetId = target;
    }

    // Writes the journal again in its current phase (after NoteFolders); true once
    // it is on the disk.
    [[nodiscard]] bool Rewrite() { return store_.Write(journal_); }

    // Writes `phase`; true once it is on the disk.
    [[nodiscard]] bool Announce(JournalPhase phase);

    // The relocation ended in one whole place: the journal goes. True when no
    // journal is left.
    bool Close();

private:
    const JournalStore& store_;
    RelocationJournal journal_;
};
