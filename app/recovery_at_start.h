// At start, after the warning and before either face opens: a relocation that did
// not end is described as the disk shows it, and the user finishes it, moves it
// back, or leaves it for later. A journal that cannot be acted on is reported and
// may be discarded; nothing is changed on its word.
#pragma once

#include "engine/relocation_journal.h"

void OfferRecoveryAtStart(const JournalStore& store);
