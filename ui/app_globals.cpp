#include "ui/app_globals.h"

#include "resources/resource.h"

HINSTANCE AppInstance = nullptr;
wchar_t AppCaption[kAppCaptionLength] = L"";
std::atomic<HWND> StatusBarWindow{nullptr};

void InitAppGlobals() {
    AppInstance = ::GetModuleHandleW(nullptr);
    // A missing string leaves the caption empty; nothing depends on its content.
    if (::LoadStringW(AppInstance, IDS_APP_CAPTION, AppCaption, kAppCaptionLength) <= 0) {
        AppCaption[0] = L'\0';
    }
}
