#include "app/entry.h"

#include <windows.h>

#include <string>

#include "ui/app_globals.h"
#include "app/recovery_at_start.h"
#include "app/startup.h"
#include "app/startup_warning.h"
#include "engine/move_back.h"
#include "ui/relocation_reporter.h"
#include "ui/settings.h"
#include "manager/junction_manager_dialog.h"
#include "relocate/relocation_dialog.h"
#include "resources/resource.h"

int RunDirshift(int argc, wchar_t** argv) {
    InitAppGlobals();
    RunStartupWarning();
    OfferRecoveryAtStart(JournalStore::ForCurrentUser());

    // The dialog reads the path while it initialises; the string outlives the dialog.
    const std::wstring startupPath = StartupPathFromArguments(argc, argv);
    const LPARAM parameter = reinterpret_cast<LPARAM>(startupPath.c_str());

    if (CommandLineSelectsMoveBack(::GetCommandLineW())) {
        // The same confirmation and messages as the manager's button, without a
        // dialog behind them.
        MoveBackRequest request;
        request.junction = MoveBackPathFromArguments(argc, argv);
        request.compareContents = ReadCompareContentsSetting();
        DialogRelocationReporter reporter(nullptr);
        return MoveBackExitCode(RunMoveBack(request, reporter));
    }

    INT_PTR result;
    if (CommandLineSelectsRelocation(::GetCommandLineW())) {
        result = ::DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_RELOCATE), nullptr,
                                   RelocationDlgProc, parameter);
    } else {
        result = ::DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_MANAGER), nullptr,
                                   JunctionManagerDlgProc, parameter);
    }
    return static_cast<int>(result);
}
