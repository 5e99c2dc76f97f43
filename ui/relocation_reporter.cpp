#include "ui/relocation_reporter.h"

#include "base/text.h"
#include "promptbox/prompt_box.h"
#include "engine/relocation_messages.h"
#include "ui/app_globals.h"

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
    HWND owner = row.ownedByDialog ? dialog_ : nullptr;
    const wchar_t* caption = row.caption != nullptr ? row.caption : AppCaption;
    if (row.kind == MessageBoxKind::Prompt) return LOWORD(PromptBox(owner, text.c_str(), caption, row.style));
    return ::MessageBoxW(owner, text.c_str(), caption, row.style);
}
