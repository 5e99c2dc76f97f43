// PromptBox: the program's message box. Takes the arguments of MessageBoxW and adds
// more button sets, a "do not ask/tell/show me again" check box whose answer is
// remembered in the registry, time-outs, Help and Report buttons, and Ctrl+C.
#pragma once

#include <windows.h>

#include <cstdint>

// Style bits of the component, beside the system's MB_ values.
constexpr UINT PB_CONTINUEABORT = 0x00000007;
constexpr UINT PB_SKIPSKIPALLCANCEL = 0x00000008;
constexpr UINT PB_IGNOREIGNOREALLCANCEL = 0x00000009;
constexpr UINT PB_DEFBUTTON5 = 0x00000400;
constexpr UINT PB_DEFBUTTON6 = 0x00000500;
constexpr UINT PB_DONTASKAGAIN = 0x01000000;
constexpr UINT PB_DONTTELLAGAIN = 0x02000000;
constexpr UINT PB_DONTSHOWAGAIN = 0x04000000;
constexpr UINT PB_YESTOALL = 0x08000000;
constexpr UINT PB_NOTOALL = 0x10000000;
constexpr UINT PB_BUILTINLABELS = 0x20000000;
constexpr UINT PB_SILENT = 0x40000000;
constexpr UINT PB_TIMEDOUT = 0x80000000;  // a result bit only

// Results beside the system's ID values.
constexpr int PB_IDSKIP = 14;
constexpr int PB_IDSKIPALL = 15;
constexpr int PB_IDIGNOREALL = 16;
constexpr int PB_IDYESTOALL = 19;
constexpr int PB_IDNOTOALL = 20;
constexpr int PB_IDCUSTOM1 = 23;
constexpr int PB_IDCUSTOM2 = 24;
constexpr int PB_IDCUSTOM3 = 25;
constexpr int PB_IDCUSTOM4 = 26;

// PromptBoxParams::options
constexpr UINT PB_OPT_RIGHTBUTTONS = 0x1;
constexpr UINT PB_OPT_MODERNLOOK = 0x2;
constexpr UINT PB_OPT_NARROW = 0x4;

constexpr int kPromptLabelCount = 19;
constexpr int kPromptFieldLength = 260;

using PromptReportCallback = void (*)(const wchar_t* text, UINT32 reportData);

struct PromptBoxParams {
    UINT32 helpContextId = 0;
    INT32 timeoutSeconds = 0;
    INT32 disabledSeconds = 0;
    INT32 x = 0;
    INT32 y = 0;
    UINT32 options = 0;
    HINSTANCE stringsInstance = nullptr;
    HINSTANCE iconInstance = nullptr;
    UINT32 iconId = 0;
    wchar_t iconName[kPromptFieldLength] = L"";
    UINT32 customButtonsId = 0;
    wchar_t customButtons[kPromptFieldLength] = L"";
    UINT32 reportCaptionId = 0;
    wchar_t reportCaption[kPromptFieldLength] = L"";
    wchar_t companyName[kPromptFieldLength] = L"";
    const wchar_t* moduleName = nullptr;
    INT32 messageKey = 0;
    UINT32 reportData = 0;
    PromptReportCallback reportCallback = nullptr;
    COLORREF textColor = CLR_INVALID;
    COLORREF backgroundColor = CLR_INVALID;
    BOOL useCustomLabels = FALSE;
    wchar_t customLabels[kPromptLabelCount][kPromptFieldLength] = {};
};

// The process-wide defaults: filled once at start, copied by every call.
extern PromptBoxParams PromptBoxDefaults;

// Shows the box and returns the pressed button's id in the low 16 bits, with
// PB_DONTASKAGAIN/PB_DONTTELLAGAIN/PB_DONTSHOWAGAIN when the check box was ticked
// and PB_TIMEDOUT when the time-out pressed the default button; -1 when the box
// could not be shown. `text` and `caption` may be string resource numbers
// (MAKEINTRESOURCEW); a null caption reads "Error".
int PromptBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style);
