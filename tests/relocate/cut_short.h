// The states that a relocation cut short leaves on the disk (the program killed,
// the power gone), made by hand for the recovery tests: which entries are where,
// and the journal the relocation had written at that moment.
#pragma once

#include <string>

#include "engine/relocation_journal.h"

namespace relocation_testing {

enum class CutAt { Moving, MovingPartly, Moved, SourceRemoved, JunctionMade, RollingBackPartly };

// Leaves `source` (a plain folder holding at least two entries) and `target` as a
// relocation cut at `cut` leaves them, and fills `journal` with what it had
// written then: full paths, the entries in name order, the phase. The journal is
// not stored. False when a step on the disk failed.
[[nodiscard]] bool LeaveCutShort(const std::wstring& source, const std::wstring& target, CutAt cut,
                                 RelocationJournal& journal);

}  // namespace relocation_testing
