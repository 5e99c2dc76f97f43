// Both faces and the message box in real windows at the display scale of the Wine
// prefix this program runs in. tests/dpi/run-display-scales.sh runs it in a prefix
// of its own at 96, 120, 144 and 192 DPI (LogPixels), 96 first:
//  - no control's text is clipped and every button fits its label;
//  - the list's columns, the status bar and the icons are sized for the scale;
//  - each message box is the box of the 96-DPI run scaled, part by part, within a
//    pixel or two (the 96-DPI run writes its boxes to DIRSHIFT_SCALE_BASELINE).
// Each window is also photographed into the build's screenshot folder.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <cwchar>
#include <string>
#include <vector>

#include "base/dpi.h"
#include "manager/junction_manager_dialog.h"
#include "manager/link_repair.h"
#include "promptbox/prompt_box.h"
#include "relocate/relocation_dialog.h"
#include "resources/resource.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/scale_checks.h"
#include "tests/driver/ui_thread.h"
#include "ui/app_globals.h"

namespace {

using namespace testing_driver;

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::wstring Percent() { return std::to_wstring(MulDiv(static_cast<int>(SystemDpi()), 100, 96)); }

void Photograph(const std::wstring& what) { SaveScreenshot(L"scale-" + Percent() + L"-" + what); }

void ExpectNothingClipped(HWND window) {
    for (const std::wstring& clipped : ClippedTexts(window)) ADD_FAILURE() << "clipped: " << std::string(clipped.begin(), clipped.end());
}

void ExpectInside(HWND window) {
    RECT client{};
    ::GetClientRect(window, &client);
    for (const Part& part : PartsOf(window)) {
        EXPECT_GE(part.rect.left, 0);
        EXPECT_GE(part.rect.top, 0);
        EXPECT_LE(part.rect.right, client.right) << "control " << std::string(part.name.begin(), part.name.end());
        EXPECT_LE(part.rect.bottom, client.bottom) << "control " << std::string(part.name.begin(), part.name.end());
    }
}

class DisplayScale : public ::testing::Test {
protected:
    void SetUp() override { InitAppGlobals(); }
};

TEST_F(DisplayScale, RunsAtTheScaleOfItsPrefix) {
    const std::string expected = Environment("DIRSHIFT_EXPECTED_DPI");
    if (expected.empty()) GTEST_SKIP() << "run by tests/dpi/run-display-scales.sh";
    EXPECT_EQ(SystemDpi(), static_cast<UINT>(std::stoul(expected)));
}

TEST_F(DisplayScale, RelocationDialogShowsEveryTextWhole) {
    const wchar_t startupPath[] = L"C:\\Games\\Steam";
    UiThreadCall run([&] {
        return ::DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_RELOCATE), nullptr, RelocationDlgProc,
                                 reinterpret_cast<LPARAM>(startupPath));
    });
    HWND dialog = run.WaitForWindow();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(DpiForWindow(dialog), SystemDpi());
    ExpectNothingClipped(dialog);
    ExpectInside(dialog);
    ExpectProgramIcons(dialog, AppInstance, DpiForWindow(dialog));
    ExpectStatusBarForDpi(dialog, DpiForWindow(dialog));
    Photograph(L"relocation");
    PressButton(dialog, IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

TEST_F(DisplayScale, ManagerDialogShowsEveryTextWholeAndScaledColumns) {
    UiThreadCall run([] {
        return ::DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_MANAGER), nullptr, JunctionManagerDlgProc,
                                 reinterpret_cast<LPARAM>(L""));
    });
    HWND dialog = run.WaitForWindow();
    ASSERT_NE(dialog, nullptr);
    HWND list = ::GetDlgItem(dialog, IDC_JUNCTION_LIST);
    // The rows a scan lists, so the picture shows them.
    const wchar_t* rows[][2] = {{L"C:\\Games\\Steam", L"D:\\Games\\Steam"}, {L"C:\\Users\\Public\\Videos", L"E:\\Videos"}};
    for (int row = 0; row < 2; ++row) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(rows[row][0]);
        ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        item.iSubItem = 1;
        item.pszText = const_cast<wchar_t*>(rows[row][1]);
        ::SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }

    const UINT dpi = DpiForWindow(dialog);
    EXPECT_EQ(dpi, SystemDpi());
    for (int column = 0; column < 3; ++column) {
        EXPECT_EQ(::SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0),
                  MulDiv(column == 2 ? 150 : 248, static_cast<int>(dpi), 96))
            << "column " << column;
    }
    ExpectNothingClipped(dialog);
    ExpectInside(dialog);
    ExpectProgramIcons(dialog, AppInstance, DpiForWindow(dialog));
    ExpectStatusBarForDpi(dialog, DpiForWindow(dialog));
    Photograph(L"manager");
    PressButton(dialog, IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

// The manager's two repair dialogs, as the user opens them from a selected row.
TEST_F(DisplayScale, RepairDialogsShowEveryTextWhole) {
    const JunctionRow row{L"C:\\Games\\Steam", L"D:\\Games\\Steam", LinkHealth::TargetMissing};
    const struct {
        const wchar_t* name;
        const wchar_t* caption;
        INT_PTR (*open)(const JunctionRow&);
    } dialogs[] = {
        {L"repoint", L"Re-point junction", [](const JunctionRow& r) -> INT_PTR { return RunRepointDialog(nullptr, r); }},
        {L"change-drive", L"Change drive letter",
         [](const JunctionRow& r) -> INT_PTR { return RunChangeDriveDialog(nullptr, {r}); }},
    };
    for (const auto& d : dialogs) {
        SCOPED_TRACE(std::string(d.caption, d.caption + std::wcslen(d.caption)));
        UiThreadCall run([&] { return d.open(row); });
        HWND dialog = run.WaitForWindow();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(WindowText(dialog), d.caption);
        EXPECT_EQ(DpiForWindow(dialog), SystemDpi());
        ExpectNothingClipped(dialog);
        ExpectInside(dialog);
        Photograph(d.name);
        PressButton(dialog, IDCANCEL);
        ASSERT_TRUE(run.WaitForReturn());
    }
}

// ---- the message box ------------------------------------------------------------

struct BoxCase {
    const wchar_t* name;
    const wchar_t* text;
    UINT style;
};

// The program's kinds of box, with texts short enough to need no wrapping at any
// of the scales on this 1280-pixel screen: the wrap width is a share of the
// screen's pixels, so at 200 % a box rightly wraps a text into more lines (the
// same screen holds half as many of its letters).
const BoxCase kBoxes[] = {
    {L"question", L"Do you accept this risk?", MB_YESNOCANCEL | MB_ICONEXCLAMATION | PB_DONTASKAGAIN},
    {L"done", L"Junction point removed.", MB_OK | PB_DONTTELLAGAIN},
    {L"error", L"Cannot remove:\n\nC:\\Games\\Steam\n ->\nD:\\Games", MB_OK | MB_ICONHAND | PB_DONTSHOWAGAIN},
};

using Baseline = std::map<std::wstring, RECT>;  // "<box> <part>" -> rectangle at 96 DPI

std::string BaselinePath() { return Environment("DIRSHIFT_SCALE_BASELINE"); }

Baseline ReadBaseline() {
    Baseline baseline;
    std::wifstream in(BaselinePath());
    std::wstring box, part;
    RECT r{};
    while (in >> box >> part >> r.left >> r.top >> r.right >> r.bottom) baseline[box + L" " + part] = r;
    return baseline;
}

TEST_F(DisplayScale, MessageBoxIsTheBoxAt96DpiScaledAndWhole) {
    PromptBoxDefaults = PromptBoxParams{};
    PromptBoxDefaults.options = PB_OPT_NARROW;
    PromptBoxDefaults.stringsInstance = AppInstance;
    // No module name: nothing is remembered, every box shows.

    const UINT dpi = SystemDpi();
    const bool writesBaseline = dpi == kBaseDpi;
    const Baseline baseline = writesBaseline ? Baseline() : ReadBaseline();
    std::wostringstream record;
    for (const BoxCase& box : kBoxes) {
        SCOPED_TRACE(::testing::Message() << std::string(box.name, box.name + wcslen(box.name)));
        UiThreadCall call([&] { return PromptBox(nullptr, box.text, L"Dirshift", box.style | PB_SILENT); });
        HWND window = call.WaitForWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(DpiForWindow(window), dpi);
        ExpectNothingClipped(window);
        ExpectInside(window);
        if (HWND icon = ::GetDlgItem(window, 1000)) {
            const RECT r = ChildRect(window, icon);
            EXPECT_EQ(r.right - r.left, SystemMetricForDpi(SM_CXICON, dpi) + ScaleForDpi(2, dpi)) << "icon and its edge";
        }
        const int textStretch = writesBaseline ? 0 : TextStretch(window, dpi);
        int largest = 0;
        for (const Part& part : PartsOf(window)) {
            const std::wstring key = std::wstring(box.name) + L" " + part.name;
            record << key << L" " << part.rect.left << L" " << part.rect.top << L" " << part.rect.right << L" "
                   << part.rect.bottom << L"\n";
            if (writesBaseline) continue;
            const auto at96 = baseline.find(key);
            if (at96 == baseline.end()) {
                ADD_FAILURE() << "no 96-DPI box to compare with: " << std::string(key.begin(), key.end());
                continue;
            }
            largest = std::max(largest, ExpectScaled(part.rect, at96->second, dpi, textStretch, key));
        }
        if (!writesBaseline) {
            std::printf("%ls box at %u DPI: parts within %d pixels of the 96-DPI box scaled; its texts stretch by %d\n",
                        box.name, dpi, largest, textStretch);
        }
        Photograph(std::wstring(L"box-") + box.name);
        PressButton(window, IDOK);
        PressButton(window, IDYES);
        ASSERT_TRUE(call.WaitForReturn());
    }
    if (!BaselinePath().empty()) {
        std::wofstream out(BaselinePath() + (writesBaseline ? "" : "." + std::to_string(dpi)));
        out << record.str();
    }
}

}  // namespace
