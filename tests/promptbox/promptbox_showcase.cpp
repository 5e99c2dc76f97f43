// Shows pairs of message boxes, ours and the system's MessageBoxW with the same
// text, and saves a screenshot of each under the build's screenshot folder, so
// their looks can be put side by side. Not a test: run it inside a Wine virtual
// desktop (tests/promptbox/take-screenshots.sh), where windows get their frames.
// An argument is added to the names of our own pictures: the script runs the
// program once as Windows 7 (the modern look) and once as Windows XP (the classic
// look), while the system's box looks the same in both runs.
#include <windows.h>

#include <cstdio>
#include <string>

#include "promptbox/prompt_box.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/ui_thread.h"

namespace {

using testing_driver::UiThreadCall;

struct Shot {
    const wchar_t* name;
    const wchar_t* text;
    UINT style;
    bool ours;
};

// Shows one box on a UI thread, photographs the screen and closes the box.
void TakeShot(const Shot& shot, const std::wstring& suffix) {
    const std::wstring text = shot.text;
    UiThreadCall call([&]() -> INT_PTR {
        return shot.ours ? PromptBox(nullptr, text.c_str(), L"Dirshift", shot.style | PB_SILENT)
                         : ::MessageBoxW(nullptr, text.c_str(), L"Dirshift", shot.style);
    });
    HWND box = call.WaitForWindow(L"#32770", 10000);
    if (box == nullptr) {
        std::fwprintf(stderr, L"%ls: no box\n", shot.name);
        return;
    }
    ::Sleep(1000);  // let the frame and the controls paint
    const std::wstring name = shot.ours ? shot.name + suffix : std::wstring(shot.name);
    const std::wstring path = testing_driver::SaveScreenshot(name);
    std::fwprintf(stdout, L"%ls -> %ls\n", name.c_str(), path.c_str());
    ::PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    call.WaitForReturn(10000);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring suffix = argc > 1 ? std::wstring(L"-") + argv[1] : std::wstring();
    PromptBoxDefaults.options = PB_OPT_NARROW;
    PromptBoxDefaults.stringsInstance = ::GetModuleHandleW(nullptr);
    wcscpy_s(PromptBoxDefaults.companyName, L"DirshiftShowcase");
    // No module name: nothing the showcase does is remembered.

    const wchar_t* warning =
        L"Junctions can confuse backup programs and installers. Deleting files in the virtual folder deletes "
        L"them in the backing folder too.\n\nDo you want to go on?";
    const wchar_t* done = L"Successfully removed junction point(s)";
    const Shot shots[] = {
        {L"promptbox-yesnocancel", warning, MB_YESNOCANCEL | MB_ICONEXCLAMATION | PB_DONTASKAGAIN, true},
        {L"messagebox-yesnocancel", warning, MB_YESNOCANCEL | MB_ICONEXCLAMATION, false},
        {L"promptbox-ok", done, MB_OK, true},
        {L"messagebox-ok", done, MB_OK, false},
        {L"promptbox-ok-tell", done, MB_OK | PB_DONTTELLAGAIN, true},
    };
    for (const Shot& shot : shots) {
        if (shot.ours || suffix.empty()) TakeShot(shot, suffix);
    }
    return 0;
}
