#include "ui/relocation_reporter.h"

#include <atomic>

#include "base/text.h"
#include "promptbox/prompt_box.h"
#include "ui/scan_status.h"
#include "engine/relocation_messages.h"
#include "ui/app_globals.h"
#include "ui/dialog_support.h"
#include "resources/resource.h"

namespace {

constexpr wchar_t kShutdownReason[] =
    L"Dirshift is moving a folder. Stopping now could leave its files split between two places.";

// Only the dialog's thread runs relocations and answers the session's end; the
// flag is atomic all the same.
std::atomic<bool> Moving{false};

}  // namespace

bool FilesMoving() { return Moving; }
void SetFilesMoving(bool moving) { Moving = moving; }

void DialogRelocationReporter::OnFilesMoving(bool moving) {
    SetFilesMoving(moving);
    if (dialog_ == nullptr) return;
    if (moving) {
        ::ShutdownBlockReasonCreate(dialog_, kShutdownReason);
    } else {
        ::ShutdownBlockReasonDestroy(dialog_);
    }
}

// The live progress posts nothing; texts an older scan may have posted go now.
void DialogRelocationReporter::OnScanEnded() { DeliverScanProgress(); }

bool DialogRelocationReporter::Confirm(RelocationMessage question, const RelocationFacts& facts) {
    return Show(question, facts) == IDYES;
}

void DialogRelocationReporter::Report(RelocationMessage message, const RelocationFacts& facts) {
    Show(message, facts);
}

int DialogRelocationReporter::Show(RelocationMessage message, const RelocationFacts& facts) {
    const RelocationMessageStyle& row = StyleOf(message);
    const std::wstring text =
        ComposeRelocationText(message, facts, [](UINT id) { return LoadResourceString(AppInstance, id); });
    if (row.kind == MessageBoxKind::Status) {
        if (dialog_ != nullptr) SetStatusText(::GetDlgItem(dialog_, IDC_STATUS_BAR), text.c_str());
        return IDOK;
    }
    HWND owner = row.ownedByDialog ? dialog_ : nullptr;
    const wchar_t* caption = row.caption != nullptr ? row.caption : AppCaption;
    if (row.kind == MessageBoxKind::Prompt) return LOWORD(PromptBox(owner, text.c_str(), caption, row.style));
    return ::MessageBoxW(owner, text.c_str(), caption, row.style);
}
