#include "relocate/relocate_folder.h"

#include <atomic>

#include "base/debug_log.h"
#include "engine/relocation_engine.h"
#include "ui/relocation_reporter.h"
#include "resources/resource.h"
#include "ui/dialog_support.h"

namespace {

// Only the dialog's thread runs relocations; the flag is atomic all the same.
std::atomic<bool> Running{false};

// Marks a relocation as running for as long as it lives.
class RunningRelocation {
public:
    RunningRelocation() { Running = true; }
    ~RunningRelocation() { Running = false; }
    RunningRelocation(const RunningRelocation&) = delete;
    RunningRelocation& operator=(const RunningRelocation&) = delete;
};

}  // namespace

bool RelocationRunning() { return Running; }

void RelocateFolder(HWND dialog) {
    if (Running) return;  // pressed again from within the first one's message box
    RunningRelocation running;
    try {
        // The fields are read whole: the engine refuses a path too long for it
        // rather than work on a cut one.
        RelocationRequest request;
        request.source = ReadWholeControlText(dialog, IDC_SOURCE_PATH);
        request.target = ReadWholeControlText(dialog, IDC_TARGET_PATH);
        request.shellOwner = dialog;
        request.compareContents = ::IsDlgButtonChecked(dialog, IDC_COMPARE_CONTENTS) == BST_CHECKED;
        DialogRelocationReporter reporter(dialog);
        if (RunRelocation(request, reporter) == RelocationResult::Completed) ::EndDialog(dialog, 0);
    } catch (...) {
        // Reading the fields ran out of memory: nothing was started.
        DebugLine(L"Tressel.Error: the relocation could not start.");
    }
}
