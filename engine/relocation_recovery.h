// Recovery of a relocation that did not end (the program killed, the power gone):
// what the disk holds compared with the journal, what the user is told, and the
// two ways out - finish the relocation or move everything back - with the same
// promise as a relocation: the files end in one whole place.
#pragma once

#include <string>

#include "engine/relocation_engine.h"
#include "engine/relocation_journal.h"

// What stands at one of the journal's two paths.
enum class FolderKind {
    Missing,
    PlainFolder,
    JunctionToTarget,  // a junction that points at the journal's destination
    Other,             // a file, or a link to anywhere else
};

// What the disk holds, as far as the journal's entries go.
struct RecoveryDiskView {
    FolderKind source = FolderKind::Missing;
    FolderKind target = FolderKind::Missing;
    int inSource = 0;  // entries found in the source folder only
    int inTarget = 0;  // in the destination only
    int inBoth = 0;    // in both (a copy cut short between two drives)
    int nowhere = 0;   // in neither
    // Between drives: what stands at the name the source goes to once its copy is
    // proven (a plain folder only when it is the source itself).
    FolderKind aside = FolderKind::Missing;
};

// Looks at the journal's two paths and at each of its entries in both.
RecoveryDiskView LookAtDisk(const RelocationJournal& journal);

struct RecoveryAssessment {
    RelocationMessage message;  // what the user is told and asked
    bool canAct = false;        // finish and move back are offered; else only discarding
    bool finishOnly = false;    // with canAct: only finishing is offered (there is no way back)
};

// What to tell the user about `view`, a pure function of the journal's phase and
// the disk.
RecoveryAssessment AssessRecovery(const RelocationJournal& journal, const RecoveryDiskView& view);

// Moves what is left into the destination and makes the junction, journalled like
// a relocation; on a failure it moves everything back. Reports the end as a
// relocation does and removes the journal when the files are in one whole place.
// For a move back's journal this undoes the move back: the junction is made again
// from its recorded bytes.
RelocationResult FinishRelocation(const RelocationJournal& journal, const JournalStore& store,
                                  RelocationObserver& observer);

// Takes the junction away (when one stands at the old path) and moves every entry
// back into the source folder, journalled. Reports "Files restored." or where the
// files are, and removes the journal once every entry is back. For a move back's
// journal this finishes the move back, the emptied folder removed as well.
RelocationResult MoveRelocationBack(const RelocationJournal& journal, const JournalStore& store,
                                    RelocationObserver& observer);

// The message that tells `message`'s news for a journal of `kind`: a relocation's
// words where a move back was cut short would tell the user the wrong story.
RelocationMessage RecoveryMessageFor(JournalKind kind, RelocationMessage message);

// The facts that recovery messages name: the journal's two paths.
RelocationFacts RecoveryFacts(const RelocationJournal& journal);
