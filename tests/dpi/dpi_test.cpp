// The ground floor of the display scale: the arithmetic of sizing pixels for a
// DPI, and the look-ups (with their fall-backs) that the dialogs and the message
// box size themselves with. Also the check that the scale tests rely on to call a
// text clipped.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "base/dpi.h"
#include "base/unique_resource.h"
#include "tests/driver/scale_checks.h"

namespace {

using namespace testing_driver;

TEST(DpiArithmetic, ScalesPixelsGivenAt96DpiToTheNearestPixel) {
    struct Case {
        int pixels;
        UINT dpi;
        int scaled;
    };
    const Case cases[] = {
        {248, 96, 248},  {248, 120, 310}, {248, 144, 372}, {248, 192, 496},
        {1, 144, 2},     // 1.5 rounds up, so a one-pixel line never vanishes
        {5, 120, 6},     // 6.25
        {7, 120, 9},     // 8.75
        {-11, 144, -17},  // font heights are negative
        {0, 192, 0},     {248, 0, 248},  // an unknown DPI counts as 96
    };
    for (const Case& c : cases) EXPECT_EQ(ScaleForDpi(c.pixels, c.dpi), c.scaled) << c.pixels << " at " << c.dpi;
}

TEST(DpiArithmetic, RescalesBetweenAnyTwoDpis) {
    EXPECT_EQ(RescaleForDpi(496, 192, 96), 248);
    EXPECT_EQ(RescaleForDpi(310, 120, 144), 372);
    EXPECT_EQ(RescaleForDpi(300, 144, 144), 300);
    EXPECT_EQ(RescaleForDpi(300, 96, 0), 300);
    // A width the user set survives a trip to another scale and back.
    for (int width : {37, 248, 301, 999}) EXPECT_EQ(RescaleForDpi(RescaleForDpi(width, 96, 192), 192, 96), width);
}

// Under Wine every window is on one monitor of the prefix's DPI: what the look-ups
// give must agree with each other and with the platform's own answers.
TEST(DpiLookUps, WindowMonitorAndSystemAgreeOnOneMonitor) {
    const UINT system = SystemDpi();
    HDC screen = ::GetDC(nullptr);
    EXPECT_EQ(system, static_cast<UINT>(::GetDeviceCaps(screen, LOGPIXELSY)));
    ::ReleaseDC(nullptr, screen);

    HWND window = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 10, 10, 100, 50, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(DpiForWindow(window), system);
    EXPECT_EQ(DpiForMonitor(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY)), system);
    ::DestroyWindow(window);
    EXPECT_EQ(DpiForWindow(nullptr), system) << "no window: the system DPI";
    EXPECT_EQ(DpiForMonitor(nullptr), system);
}

TEST(DpiLookUps, MetricsFontsAndFramesForAnyDpi) {
    const UINT system = SystemDpi();
    EXPECT_EQ(SystemMetricForDpi(SM_CXICON, system), ::GetSystemMetrics(SM_CXICON));
    struct Case {
        UINT dpi;
        int icon;
        int smallIcon;
    };
    for (const Case& c : {Case{96, 32, 16}, Case{120, 40, 20}, Case{144, 48, 24}, Case{192, 64, 32}}) {
        EXPECT_EQ(SystemMetricForDpi(SM_CXICON, c.dpi), c.icon) << c.dpi;
        EXPECT_EQ(SystemMetricForDpi(SM_CXSMICON, c.dpi), c.smallIcon) << c.dpi;
    }

    NONCLIENTMETRICSW at96{};
    NONCLIENTMETRICSW at192{};
    ASSERT_TRUE(NonClientFontsForDpi(96, at96));
    ASSERT_TRUE(NonClientFontsForDpi(192, at192));
    EXPECT_LT(at96.lfMessageFont.lfHeight, 0) << "a character height in pixels";
    EXPECT_NEAR(at192.lfMessageFont.lfHeight, 2 * at96.lfMessageFont.lfHeight, 1);
    EXPECT_NEAR(at192.lfStatusFont.lfHeight, 2 * at96.lfStatusFont.lfHeight, 1);
    EXPECT_STREQ(at192.lfMessageFont.lfFaceName, at96.lfMessageFont.lfFaceName);

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    RECT small{0, 0, 200, 100};
    RECT large{0, 0, 200, 100};
    ASSERT_TRUE(AdjustWindowRectForDpi(small, style, WS_EX_DLGMODALFRAME, 96));
    ASSERT_TRUE(AdjustWindowRectForDpi(large, style, WS_EX_DLGMODALFRAME, 192));
    EXPECT_GT(small.right - small.left, 200) << "a frame around the client area";
    EXPECT_GT(small.bottom - small.top, 100 + 10) << "and a caption";
    EXPECT_GT(large.top, -2 * (-small.top) - 4) << "about twice the caption, not more";
    EXPECT_LT(large.top, small.top) << "a taller caption at 192 DPI";
}

TEST(DpiLookUps, IconsOfEverySizeFromTheProgramAndTheSystem) {
    const HINSTANCE program = ::GetModuleHandleW(nullptr);
    for (int size : {16, 20, 24, 32, 40, 48, 64, 256}) {
        const UniqueIcon icon(LoadIconOfSize(program, MAKEINTRESOURCEW(138), size));
        ASSERT_TRUE(icon) << size;
        const SIZE pixels = IconPixelSize(icon.get());
        EXPECT_EQ(pixels.cx, size);
        EXPECT_EQ(pixels.cy, size);
        // The image made for that size, not another one stretched.
        const UniqueIcon exact(
            static_cast<HICON>(::LoadImageW(program, MAKEINTRESOURCEW(138), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
        EXPECT_TRUE(SameIconImage(icon.get(), exact.get())) << size;
    }
    const UniqueIcon scaledDown(LoadIconOfSize(program, MAKEINTRESOURCEW(138), 28));
    EXPECT_EQ(IconPixelSize(scaledDown.get()).cx, 28) << "a size between two images";
    for (const wchar_t* system : {IDI_HAND, IDI_QUESTION, IDI_EXCLAMATION, IDI_ASTERISK}) {
        const UniqueIcon icon(LoadIconOfSize(nullptr, system, 48));
        ASSERT_TRUE(icon);
        EXPECT_EQ(IconPixelSize(icon.get()).cx, 48);
    }
    EXPECT_FALSE(UniqueIcon(LoadIconOfSize(program, MAKEINTRESOURCEW(4999), 32))) << "no such icon";
}

// The scale tests call a text whole when this check finds nothing: it must see a
// label that does not fit, in each kind of control it knows.
TEST(ClipCheck, SeesTextsThatDoNotFitTheirControls) {
    HWND parent = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 600, 300, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    struct Control {
        const wchar_t* className;
        const wchar_t* text;
        DWORD style;
        int width;
        int height;
        bool fits;
    };
    const Control controls[] = {
        {L"Button", L"Remove selected links", BS_PUSHBUTTON, 60, 24, false},
        {L"Button", L"Remove selected links", BS_PUSHBUTTON, 300, 24, true},
        {L"Button", L"OK", BS_PUSHBUTTON, 60, 6, false},
        {L"Button", L"Search subfolders in scan", BS_AUTOCHECKBOX, 60, 20, false},
        {L"Button", L"Search subfolders in scan", BS_AUTOCHECKBOX, 300, 20, true},
        {L"Button", L"A long group caption", BS_GROUPBOX, 40, 80, false},
        {L"Static", L"One line that wraps into three in a narrow static", SS_LEFT, 80, 14, false},
        {L"Static", L"Fits", SS_LEFT, 200, 30, true},
        {L"Edit", L"", ES_AUTOHSCROLL, 200, 4, false},
    };
    const HFONT font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    int y = 0;
    for (size_t i = 0; i < std::size(controls); ++i) {
        const Control& c = controls[i];
        HWND control = ::CreateWindowExW(0, c.className, c.text, WS_CHILD | WS_VISIBLE | c.style, 0, y, c.width,
                                         c.height, parent, reinterpret_cast<HMENU>(100 + i), nullptr, nullptr);
        ASSERT_NE(control, nullptr);
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        y += c.height;
    }
    ::ShowWindow(parent, SW_SHOWNA);
    const std::vector<std::wstring> clipped = ClippedTexts(parent);
    for (size_t i = 0; i < std::size(controls); ++i) {
        const std::wstring id = std::to_wstring(100 + i) + L" ";
        bool reported = false;
        for (const std::wstring& line : clipped) reported |= line.rfind(id, 0) == 0;
        EXPECT_EQ(reported, !controls[i].fits) << "control " << i;
    }
    ::DestroyWindow(parent);
}

}  // namespace
