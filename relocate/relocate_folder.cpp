#include "relocate/relocate_folder.h"

#include "base/debug_log.h"
#include "engine/relocation_engine.h"
#include "ui/relocation_reporter.h"
#include "resources/resource.h"
#include "ui/dialog_support.h"

void RelocateFolder(HWND dialog) {
    try {
        // The fields are read whole: the engine refuses a path too long for it
        // rather than work on a cut one.
        RelocationRequest request;
        request.source = ReadWholeControlText(dialog, IDC_SOURCE_PATH);
        request.target = ReadWholeControlText(dialog, IDC_TARGET_PATH);
        request.shellOwner = dialog;
        DialogRelocationReporter reporter(dialog);
        if (RunRelocation(request, reporter) == RelocationResult::Completed) ::EndDialog(dialog, 0);
    } catch (...) {
        // Reading the fields ran out of memory: nothing was started.
        DebugLine(L"Tressel.Error: the relocation could not start.");
    }
}
