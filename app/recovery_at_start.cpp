#include "app/recovery_at_start.h"

#include <windows.h>

#include "base/debug_log.h"
#include "base/text.h"
#include "engine/relocation_messages.h"
#include "engine/operation_lock.h"
#include "engine/relocation_recovery.h"
#include "promptbox/prompt_box.h"
#include "ui/app_globals.h"
#include "ui/relocation_reporter.h"

namespace {

// The message box takes custom labels only from its process-wide defaults: they
// hold the labels for one box and are put back as they were.
class CustomButtons {
public:
    explicit CustomButtons(const wchar_t* labels) {
        ::lstrcpynW(saved_, PromptBoxDefaults.customButtons, kPromptFieldLength);
        ::lstrcpynW(PromptBoxDefaults.customButtons, labels, kPromptFieldLength);
    }
    ~CustomButtons() { ::lstrcpynW(PromptBoxDefaults.customButtons, saved_, kPromptFieldLength); }
    CustomButtons(const CustomButtons&) = delete;
    CustomButtons& operator=(const CustomButtons&) = delete;

private:
    wchar_t saved_[kPromptFieldLength];
};

int Ask(RelocationMessage message, const RelocationFacts& facts) {
    const RelocationMessageStyle& row = StyleOf(message);
    const std::wstring text =
        ComposeRelocationText(message, facts, [](UINT id) { return LoadResourceString(AppInstance, id); });
    return LOWORD(PromptBox(nullptr, text.c_str(), row.caption != nullptr ? row.caption : AppCaption, row.style));
}

void OfferDiscarding(const JournalStore& store, RelocationMessage message, const RelocationFacts& facts) {
    if (Ask(message, facts) == IDYES && !store.Remove()) {
        DebugErrorLine((L"Tressel.Error: the journal could not be discarded: " + store.path()).c_str());
    }
}

// The journal of an earlier version lived where every program of the user could
// have written it: it is named to the user, never acted on.
void OfferDiscardingEarlierJournal() {
    RelocationFacts facts;
    facts.name = JournalStore::EarlierJournalPath();
    if (facts.name.empty() || ::GetFileAttributesW(facts.name.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    if (Ask(RelocationMessage::EarlierJournalFound, facts) == IDYES && !JournalStore::DeleteEarlierJournal(facts.name)) {
        DebugErrorLine((L"Tressel.Error: the earlier journal could not be discarded: " + facts.name).c_str());
    }
}

}  // namespace

void OfferRecoveryAtStart(const JournalStore& store) {
    OfferDiscardingEarlierJournal();
    // Held until the recovery has ended: a second Dirshift started meanwhile must
    // not offer to recover what this one is recovering, nor this one what another
    // is still doing.
    OperationLock lock;
    DWORD lockError = 0;
    const OperationLock::State lockState = lock.Take(lockError);
    RelocationJournal journal;
    const JournalStore::ReadResult read = store.Read(journal);
    if (read != JournalStore::ReadResult::None && lockState != OperationLock::State::Taken) {
        RelocationFacts facts;
        facts.name = store.path();
        (void)Ask(RelocationMessage::RecoveryBusy, facts);
        return;
    }
    switch (read) {
    case JournalStore::ReadResult::None:
        return;
    case JournalStore::ReadResult::Untrusted: {
        RelocationFacts facts;
        facts.name = store.folder();
        (void)Ask(RelocationMessage::RecoveryJournalUntrusted, facts);
        return;
    }
    case JournalStore::ReadResult::Damaged: {
        RelocationFacts facts;
        facts.name = store.path();
        OfferDiscarding(store, RelocationMessage::RecoveryJournalDamaged, facts);
        return;
    }
    case JournalStore::ReadResult::Found:
        break;
    }

    const RecoveryAssessment assessment = AssessRecovery(journal, LookAtDisk(journal));
    const RelocationFacts facts = RecoveryFacts(journal);
    if (!assessment.canAct) {
        OfferDiscarding(store, assessment.message, facts);
        return;
    }
    // The first button finishes what the user had started, the second undoes it.
    const bool moveBack = journal.kind == JournalKind::MoveBack;
    int choice;
    {
        CustomButtons buttons(assessment.finishOnly ? kFinishOnlyChoiceLabels
                              : moveBack            ? kMoveBackRecoveryChoiceLabels
                                                    : kRecoveryChoiceLabels);
        choice = Ask(assessment.message, facts);
    }
    // With no way back, the second button is "decide later".
    if (assessment.finishOnly && choice != PB_IDCUSTOM1) return;
    DialogRelocationReporter reporter(nullptr);
    const bool toTarget = (choice == PB_IDCUSTOM1 && !moveBack) || (choice == PB_IDCUSTOM2 && moveBack);
    const bool toSource = (choice == PB_IDCUSTOM2 && !moveBack) || (choice == PB_IDCUSTOM1 && moveBack);
    if (toTarget) {
        (void)FinishRelocation(journal, store, reporter);
    } else if (toSource) {
        (void)MoveRelocationBack(journal, store, reporter);
    }
}
