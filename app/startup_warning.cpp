#include "app/startup_warning.h"

#include <windows.h>

#include "ui/app_globals.h"
#include "promptbox/prompt_box.h"

namespace {

constexpr wchar_t kCompanyName[] = L"Dirshift";
constexpr UINT kWarningStyle = MB_YESNOCANCEL | MB_ICONEXCLAMATION | PB_DONTASKAGAIN;

void FillPromptBoxDefaults() {
    ::lstrcpynW(PromptBoxDefaults.companyName, kCompanyName, kPromptFieldLength);
    PromptBoxDefaults.moduleName = kPromptModuleName;
    PromptBoxDefaults.options = PB_OPT_NARROW;
    PromptBoxDefaults.stringsInstance = AppInstance;
}

}  // namespace

void RunStartupWarning() {
    FillPromptBoxDefaults();
    const int answer = PromptBox(nullptr, kStartupWarningText, AppCaption, kWarningStyle);
    // The high bits may carry the ticked check box; only the button counts. A box
    // that could not be shown (-1) is no Yes either.
    if (LOWORD(answer) != IDYES) ::ExitProcess(1);
}
