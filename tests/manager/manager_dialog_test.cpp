// The junction manager dialog in the test's own process, on the NTFS test drive:
// what it lists, what it refuses, how a scan starts, stops and ends, and what a
// removal does to the volume.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "base/dpi.h"
#include "ui/app_globals.h"
#include "junction/junction.h"
#include "manager/junction_manager_dialog.h"
#include "manager/junction_rows.h"
#include "resources/resource.h"
#include "tests/driver/debug_capture.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/host_view.h"
#include "tests/driver/process_census.h"
#include "tests/driver/scale_checks.h"
#include "tests/driver/test_volumes.h"
#include "tests/junction/junction_test_support.h"
#include "tests/manager/manager_test_support.h"

namespace {

using namespace testing_driver;
using namespace manager_test;
using junction_test::Exists;
using junction_test::MakeFolders;
using junction_test::NtName;
using junction_test::ReadTextFile;
using junction_test::UniquePath;
using junction_test::WriteTextFile;

using Rows = std::vector<std::vector<std::wstring>>;

// A tree wide and deep enough that walking it takes a while (the benchmark makes
// bigger ones): breadth folders of breadth folders of `leaves` folders.
void MakeSlowTree(const std::wstring& root, int breadth, int leaves) {
    MakeFolders(root);
    for (int i = 0; i < breadth; ++i) {
        const std::wstring level1 = root + L"\\d" + std::to_wstring(i);
        ::CreateDirectoryW(level1.c_str(), nullptr);
        for (int j = 0; j < breadth; ++j) {
            const std::wstring level2 = level1 + L"\\e" + std::to_wstring(j);
            ::CreateDirectoryW(level2.c_str(), nullptr);
            for (int k = 0; k < leaves; ++k) ::CreateDirectoryW((level2 + L"\\f" + std::to_wstring(k)).c_str(), nullptr);
        }
    }
}

class ManagerDialog : public ::testing::Test {
protected:
    // A junction `name` in `folder` to a new backing folder holding one file.
    std::wstring Junction(const std::wstring& folder, const std::wstring& name, std::wstring* target = nullptr) {
        const std::wstring backing = UniquePath(kNtfsDrive, L"backing");
        MakeFolders(backing);
        WriteTextFile(backing + L"\\data.txt", "kept");
        MakeFolders(folder);
        const std::wstring link = folder + L"\\" + name;
        EXPECT_TRUE(CreateJunction(link.c_str(), backing.c_str()));
        if (target != nullptr) *target = backing;
        return link;
    }

    SettingsScope settings_;
};

TEST_F(ManagerDialog, OpensWithNoFolderSelectedAndItsListPrepared) {
    ManagerRun run;
    HWND dialog = run.dialog();
    ASSERT_NE(dialog, nullptr);
    const std::wstring noFolder = ProgramString(IDS_NO_FOLDER_SELECTED);
    ASSERT_TRUE(WaitUntil([&] { return ControlText(dialog, IDC_SCAN_FOLDER) == noFolder; }, 5000));

    EXPECT_EQ(WindowText(dialog), L"Manage and find junctions (hard links)");
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_JUNCTION_LIST));
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_REMOVE_SELECTED));
    EXPECT_TRUE(IsControlEnabled(dialog, IDC_SCAN));
    EXPECT_EQ(ControlText(dialog, IDC_SCAN), L"Scan");
    EXPECT_FALSE(IsChecked(dialog, IDC_RECURSE)) << "no stored setting: subfolders not searched";
    EXPECT_EQ(ListViewRowCount(run.list()), 0);

    HWND list = run.list();
    EXPECT_EQ(::SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0x00000C70);
    EXPECT_EQ(::GetWindowLongPtrW(list, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
    const wchar_t* titles[] = {L"Virtual folder", L"Backing (real) folder", L"State"};
    const int widths[] = {248, 248, 150};
    EXPECT_EQ(::SendMessageW(reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0)), HDM_GETITEMCOUNT, 0, 0), 3);
    for (int column = 0; column < 3; ++column) {
        wchar_t title[64] = L"";
        LVCOLUMNW info = {};
        info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM | LVCF_ORDER;
        info.pszText = title;
        info.cchTextMax = 64;
        ASSERT_TRUE(::SendMessageW(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&info)));
        EXPECT_STREQ(title, titles[column]);
        EXPECT_EQ(info.cx, widths[column]);
        EXPECT_EQ(info.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
        EXPECT_EQ(info.iSubItem, column);
        EXPECT_EQ(info.iOrder, column);
    }

    HWND statusBar = ::GetDlgItem(dialog, IDC_STATUS_BAR);
    ASSERT_NE(statusBar, nullptr);
    EXPECT_TRUE(::SendMessageW(statusBar, SB_ISSIMPLE, 0, 0));
    EXPECT_EQ(StatusBarWindow.load(), statusBar);
    ExpectProgramIcons(dialog, AppInstance, DpiForWindow(dialog));

    // Scan with no folder stays where it is.
    PressButton(dialog, IDC_SCAN);
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(ControlText(dialog, IDC_SCAN_FOLDER), noFolder);
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_JUNCTION_LIST));
    EXPECT_EQ(ControlText(dialog, IDC_SCAN), L"Scan");

    PressButton(dialog, IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
    EXPECT_EQ(run.result(), IDCANCEL);
}

// The tree of the listing tests, with every kind of reparse point a volume holds:
//   alpha               junction to backing A (made by the program)
//   deep\inner\beta     junction to backing B, two levels down
//   gamma               junction to a folder on the other drive letter M:
//   plain\sub           ordinary folders
//   symlink             a directory symbolic link written from Linux
//   vendor              a third-party reparse point written from Linux
//   file.txt
class ManagerListing : public ManagerDialog {
protected:
    void SetUp() override {
        alpha_ = Junction(root_, L"alpha", &backingA_);
        beta_ = Junction(root_ + L"\\deep\\inner", L"beta", &backingB_);
        backingM_ = UniquePath(kSecondDrive, L"backing-m");
        MakeFolders(backingM_);
        gamma_ = root_ + L"\\gamma";
        ASSERT_TRUE(CreateJunction(gamma_.c_str(), backingM_.c_str()));
        MakeFolders(root_ + L"\\plain\\sub");
        symlink_ = root_ + L"\\symlink";
        MakeFolders(symlink_);
        ASSERT_EQ(WriteNtfsReparseData(symlink_, SymbolicLinkData(NtName(backingA_), backingA_, false)), 0);
        vendor_ = root_ + L"\\vendor";
        MakeFolders(vendor_);
        ASSERT_EQ(WriteNtfsReparseData(vendor_, ThirdPartyData(0x00001234, Bytes{1, 2, 3, 4})), 0);
        WriteTextFile(root_ + L"\\file.txt", "file");
    }

    // Windows lists a reparse point of another vendor; Wine 8 on ntfs-3g sees it as
    // a link to nowhere and neither lists nor finds it. Either way it has no target.
    void AddVendorRowIfVisible(Rows& rows) const {
        if (Exists(vendor_)) rows.push_back({vendor_, L""});
    }

    const std::wstring root_ = UniquePath(kNtfsDrive, L"scan");
    std::wstring alpha_, beta_, gamma_, symlink_, vendor_;
    std::wstring backingA_, backingB_, backingM_;
};

TEST_F(ManagerListing, ScanWithoutSubfoldersListsTheDirectReparsePointsWithPlainTargets) {
    ManagerRun run;
    ASSERT_NE(run.dialog(), nullptr);
    ASSERT_TRUE(run.Scan(root_, false));
    Rows expected = {{alpha_, backingA_}, {gamma_, backingM_}, {symlink_, L""}};
    AddVendorRowIfVisible(expected);
    EXPECT_EQ(run.Rows(), expected);
    EXPECT_TRUE(IsControlEnabled(run.dialog(), IDC_JUNCTION_LIST));
    EXPECT_TRUE(IsControlEnabled(run.dialog(), IDC_REMOVE_SELECTED));
    EXPECT_EQ(ControlText(run.dialog(), IDC_SCAN_FOLDER), root_);
    PressButton(run.dialog(), IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

TEST_F(ManagerListing, ScanWithSubfoldersAlsoListsTheDeepJunction) {
    ManagerRun run;
    ASSERT_NE(run.dialog(), nullptr);
    ASSERT_TRUE(run.Scan(root_, true));
    Rows expected = {{alpha_, backingA_}, {beta_, backingB_}, {gamma_, backingM_}, {symlink_, L""}};
    AddVendorRowIfVisible(expected);
    EXPECT_EQ(run.Rows(), expected);
    // Scanning again replaces the rows instead of adding to them.
    ASSERT_TRUE(run.Rescan());
    EXPECT_EQ(run.Rows(), expected);
    PressButton(run.dialog(), IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

TEST_F(ManagerDialog, JunctionFoundLastButSortedFirstKeepsItsOwnTarget) {
    // NTFS lists names in upper-case order, so "_first" (0x5F) comes after
    // "banana"; the list's order puts it before "apple".
    ASSERT_LT(::lstrcmpiW(L"_first", L"apple"), 0);
    const std::wstring root = UniquePath(kNtfsDrive, L"order");
    std::wstring apple, banana, first;
    const std::wstring appleLink = Junction(root, L"apple", &apple);
    const std::wstring bananaLink = Junction(root, L"banana", &banana);
    const std::wstring firstLink = Junction(root, L"_first", &first);

    DebugLineCapture capture;
    ManagerRun run;
    ASSERT_NE(run.dialog(), nullptr);
    ASSERT_TRUE(run.Scan(root, false));
    const std::vector<std::wstring> walked = capture.LinesStartingWith(root + L"\\");
    ASSERT_EQ(walked, (std::vector<std::wstring>{appleLink, bananaLink, firstLink})) << "the walk's order";
    EXPECT_EQ(run.Rows(), (Rows{{firstLink, first}, {appleLink, apple}, {bananaLink, banana}}));
    PressButton(run.dialog(), IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

TEST_F(ManagerDialog, FolderBoxTellsWhyNothingIsScanned) {
    const std::wstring root = UniquePath(kNtfsDrive, L"refused");
    std::wstring target;
    const std::wstring link = Junction(root, L"link", &target);
    const std::wstring plainFolder = UniquePath(kPlainDrive, L"tmpfs");
    MakeFolders(plainFolder);
    const std::wstring noFolder = ProgramString(IDS_NO_FOLDER_SELECTED);
    const std::wstring noReparse = ProgramString(IDS_NO_REPARSE_SUPPORT);
    const struct {
        const char* name;
        std::wstring typed;
        std::wstring shown;
    } cases[] = {
        {"volume without reparse points", plainFolder, noReparse},
        {"empty", L"", noFolder},
        {"the no-folder text itself", noFolder, noFolder},
        {"UNC path", L"\\\\server\\share\\folder", noReparse},
        // The volume message goes through the check again: its "T" names T:.
        {"the volume message", noReparse, noReparse},
    };

    ManagerRun run;
    ASSERT_NE(run.dialog(), nullptr);
    HWND dialog = run.dialog();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(run.Scan(root, false));
        ASSERT_EQ(run.Rows(), (Rows{{link, target}}));
        SetControlText(dialog, IDC_SCAN_FOLDER, c.typed);
        PressButton(dialog, IDC_SCAN);
        EXPECT_TRUE(WaitUntil([&] { return !IsControlEnabled(dialog, IDC_JUNCTION_LIST); }, 5000));
        EXPECT_EQ(ControlText(dialog, IDC_SCAN_FOLDER), c.shown);
        EXPECT_FALSE(IsControlEnabled(dialog, IDC_REMOVE_SELECTED));
        EXPECT_EQ(ListViewRowCount(run.list()), 0);
        EXPECT_EQ(ControlText(dialog, IDC_SCAN), L"Scan");
    }
    PressButton(dialog, IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

TEST_F(ManagerDialog, EnterInTheFolderBoxScansWhatWasTypedAndOkStillCloses) {
    const std::wstring root = UniquePath(kNtfsDrive, L"typed");
    std::wstring target;
    const std::wstring link = Junction(root, L"link", &target);

    ManagerRun run;
    ASSERT_NE(run.dialog(), nullptr);
    HWND dialog = run.dialog();
    SetControlText(dialog, IDC_SCAN_FOLDER, root);
    PressEnterIn(dialog, IDC_SCAN_FOLDER);
    ASSERT_TRUE(run.WaitForScanEnd(ProgramString(IDS_SCAN_COMPLETE)));
    EXPECT_EQ(run.Rows(), (Rows{{link, target}}));
    EXPECT_FALSE(run.WaitForReturn(300)) << "Enter in the folder box closed the dialog";
    EXPECT_EQ(ControlText(dialog, IDC_SCAN_FOLDER), root);

    PressButton(dialog, IDOK);
    ASSERT_TRUE(run.WaitForReturn());
    EXPECT_EQ(run.result(), IDOK);
}

TEST_F(ManagerDialog, CancelledFolderBrowserStillRescansTheFolderBox) {
    const std::wstring root = UniquePath(kNtfsDrive, L"browse");
    std::wstring target;
    const std::wstring first = Junction(root, L"first", &target);
    ManagerRun run;
    HWND dialog = run.dialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(run.Scan(root, false));
    ASSERT_EQ(run.Rows(), (Rows{{first, target}}));

    // A junction made meanwhile shows up: the list is scanned again.
    std::wstring secondTarget;
    const std::wstring second = Junction(root, L"second", &secondTarget);
    ::SendMessageW(::GetDlgItem(dialog, IDC_STATUS_BAR), SB_SETTEXTW, SB_SIMPLEID_PART,
                   reinterpret_cast<LPARAM>(L"(test) waiting"));
    PressButton(dialog, IDC_BROWSE_SCAN_FOLDER);
    HWND browser = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (HWND window : ThreadWindows(run.threadId())) {
                if (window != dialog && ::IsWindowVisible(window) && ClassNameOf(window) == L"#32770") browser = window;
            }
            return browser != nullptr;
        },
        10000));
    PressButton(browser, IDCANCEL);
    EXPECT_TRUE(run.WaitForScanEnd(ProgramString(IDS_SCAN_COMPLETE)));
    EXPECT_EQ(ControlText(dialog, IDC_SCAN_FOLDER), root);
    EXPECT_EQ(run.Rows(), (Rows{{first, target}, {second, secondTarget}}));
    PressButton(dialog, IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

TEST_F(ManagerDialog, FolderTooLongForTheWalkIsLeftAsTypedAndNotScanned) {
    const std::wstring root = UniquePath(kNtfsDrive, L"long-path");
    std::wstring target;
    const std::wstring link = Junction(root, L"link", &target);
    ManagerRun run;
    HWND dialog = run.dialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(run.Scan(root, false));
    ASSERT_EQ(run.Rows(), (Rows{{link, target}}));

    // No path of the walk is this long: never cut to one that is, never replaced.
    const std::wstring typed = root + L"\\" + std::wstring(1100, L'x');
    SetControlText(dialog, IDC_SCAN_FOLDER, typed);
    PressButton(dialog, IDC_SCAN);
    EXPECT_TRUE(WaitUntil([&] { return !IsControlEnabled(dialog, IDC_JUNCTION_LIST); }, 5000));
    EXPECT_EQ(ControlText(dialog, IDC_SCAN_FOLDER), typed);
    EXPECT_EQ(DialogStatusText(dialog), L"The folder path is too long to scan.");
    EXPECT_EQ(ListViewRowCount(run.list()), 0);
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_REMOVE_SELECTED));
    EXPECT_EQ(ControlText(dialog, IDC_SCAN), L"Scan");
    PressButton(dialog, IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

class ManagerLongScan : public ManagerDialog {
protected:
    void SetUp() override {
        MakeSlowTree(root_, 12, 25);  // 3,756 folders
        Junction(root_ + L"\\d0", L"early");
    }
    // Starts a scan with subfolders and waits until it runs.
    bool StartLongScan(ManagerRun& run) {
        SetControlText(run.dialog(), IDC_SCAN_FOLDER, root_);
        ::SendMessageW(::GetDlgItem(run.dialog(), IDC_RECURSE), BM_SETCHECK, BST_CHECKED, 0);
        PressButton(run.dialog(), IDC_SCAN);
        return WaitUntil([&] { return ControlText(run.dialog(), IDC_SCAN) == ProgramString(IDS_PB_ABORT); }, 5000);
    }
    const std::wstring root_ = UniquePath(kNtfsDrive, L"long");
};

// Records what happens to the Scan button, in order, on the dialog's thread.
class ButtonEvents {
public:
    explicit ButtonEvents(HWND button) : button_(button) {
        instance_ = this;
        original_ = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ButtonEvents::Proc)));
    }
    ~ButtonEvents() {
        if (::IsWindow(button_)) ::SetWindowLongPtrW(button_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
        instance_ = nullptr;
    }
    std::vector<std::wstring> Events() const {
        ::AcquireSRWLockShared(&lock_);
        std::vector<std::wstring> copy = events_;
        ::ReleaseSRWLockShared(&lock_);
        return copy;
    }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        ButtonEvents* self = instance_;
        if (message == WM_ENABLE || message == WM_SETTEXT) {
            std::wstring event = message == WM_ENABLE ? (wParam ? L"enabled" : L"disabled")
                                                      : L"text " + std::wstring(reinterpret_cast<const wchar_t*>(lParam));
            ::AcquireSRWLockExclusive(&self->lock_);
            self->events_.push_back(event);
            ::ReleaseSRWLockExclusive(&self->lock_);
        }
        return ::CallWindowProcW(self->original_, window, message, wParam, lParam);
    }

    static inline ButtonEvents* instance_ = nullptr;
    HWND button_;
    WNDPROC original_ = nullptr;
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<std::wstring> events_;
};

TEST_F(ManagerLongScan, AbortDisablesTheButtonAtOnceAndTheScanEndsAborted) {
    ManagerRun run;
    HWND dialog = run.dialog();
    ASSERT_NE(dialog, nullptr);
    DebugLineCapture capture;
    ASSERT_TRUE(StartLongScan(run));
    EXPECT_TRUE(IsControlEnabled(dialog, IDC_SCAN));
    EXPECT_NE(ScanAbortEvent.load(), nullptr) << "a scan runs";

    {
        ButtonEvents events(::GetDlgItem(dialog, IDC_SCAN));
        PressButton(dialog, IDC_SCAN);
        EXPECT_TRUE(run.WaitForScanEnd(ProgramString(IDS_SCAN_ABORTED), 15000));
        // Disabled by the press itself, while it still read "Abort"; given back,
        // reading "Scan", only when the worker ended.
        EXPECT_EQ(events.Events(), (std::vector<std::wstring>{L"disabled", L"text Scan", L"enabled"}));
    }
    EXPECT_EQ(ControlText(dialog, IDC_SCAN), L"Scan");
    EXPECT_EQ(ScanAbortEvent.load(), nullptr);
    EXPECT_TRUE(capture.Contains(L"Tressel.Info: Aborting scan..."));
    // The aborted walk never reached the end of the tree.
    EXPECT_FALSE(capture.Contains(root_ + L"\\d11\\e11\\f24"));

    PressButton(dialog, IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

TEST_F(ManagerLongScan, StartWhileAScanRunsStopsItAndScansOnlyTheNewFolder) {
    const std::wstring small = UniquePath(kNtfsDrive, L"small");
    std::wstring target;
    const std::wstring link = Junction(small, L"only", &target);
    struct Way {
        const char* name;
        void (*start)(HWND);
    };
    // Browse and Remove end by posting a new start; Scan pressed twice may land
    // its second press after the first start but before the worker runs.
    const Way ways[] = {
        {"start posted (browse, remove)", [](HWND d) { ::PostMessageW(d, WM_STARTSCAN, 0, 0); }},
        {"scan pressed twice", [](HWND d) {
             ::PostMessageW(d, WM_STARTSCAN, 0, 0);
             ::PostMessageW(d, WM_STARTSCAN, 0, 0);
         }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        ManagerRun run;
        HWND dialog = run.dialog();
        ASSERT_NE(dialog, nullptr);
        DebugLineCapture capture;
        ASSERT_TRUE(StartLongScan(run));
        SetControlText(dialog, IDC_SCAN_FOLDER, small);
        ::SendMessageW(::GetDlgItem(dialog, IDC_STATUS_BAR), SB_SETTEXTW, SB_SIMPLEID_PART,
                       reinterpret_cast<LPARAM>(L"(test) waiting"));
        way.start(dialog);
        ASSERT_TRUE(run.WaitForScanEnd(ProgramString(IDS_SCAN_COMPLETE), 20000));
        EXPECT_EQ(run.Rows(), (Rows{{link, target}})) << "no row of the stopped scan";
        EXPECT_TRUE(capture.Contains(L"Tressel.Info: Aborting scan..."));
        EXPECT_EQ(ScanAbortEvent.load(), nullptr);
        PressButton(dialog, IDCANCEL);
        ASSERT_TRUE(run.WaitForReturn());
    }
}

TEST_F(ManagerLongScan, ClosingDuringAScanWaitsForTheWorkerAndStoresTheChoice) {
    struct Way {
        const char* name;
        void (*close)(HWND);
        INT_PTR result;
    };
    const Way ways[] = {
        {"Cancel", [](HWND d) { PressButton(d, IDCANCEL); }, IDCANCEL},
        {"OK", [](HWND d) { PressButton(d, IDOK); }, IDOK},
        {"close box", [](HWND d) { CloseWithCloseBox(d); }, IDCANCEL},
        {"end of session", [](HWND d) { ::PostMessageW(d, WM_ENDSESSION, TRUE, 0); }, IDCANCEL},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        SettingsScope settings;
        ManagerRun run;
        ASSERT_NE(run.dialog(), nullptr);
        ASSERT_TRUE(StartLongScan(run));
        way.close(run.dialog());
        ASSERT_TRUE(run.WaitForReturn(15000));
        EXPECT_EQ(run.result(), way.result);
        // The worker reported its end before the dialog went.
        EXPECT_EQ(ScanAbortEvent.load(), nullptr);
        EXPECT_EQ(RecurseValueBytes(), (std::vector<BYTE>{1, 0, 0, 0}));
    }
}

// What the test thread sees of the dialog while it waits: every message it sends
// is a round trip through the dialog's thread, and the slowest one counts.
class DialogProbe {
public:
    explicit DialogProbe(HWND dialog) : dialog_(dialog) {}

    // Sends the dialog a message and reads its status text, timing both.
    std::wstring Status() {
        const double start = Now();
        DWORD_PTR answer = 0;
        ::SendMessageTimeoutW(dialog_, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer);
        std::wstring status = DialogStatusText(dialog_);
        worstRoundTrip_ = std::max(worstRoundTrip_, Now() - start);
        return status;
    }

    // Probes every millisecond or so for `ms`.
    void Watch(double ms) {
        const double until = Now() + ms;
        while (Now() < until) {
            Status();
            ::Sleep(1);
        }
    }

    // Probes until the status reads `text`; the time it took, or -1 after `timeoutMs`.
    double WaitForStatus(const std::wstring& text, double timeoutMs) {
        return WaitForStatus(std::vector<std::wstring>{text}, timeoutMs, nullptr);
    }
    // Probes until the status reads one of `texts`, which `seen` receives.
    double WaitForStatus(const std::vector<std::wstring>& texts, double timeoutMs, std::wstring* seen) {
        const double start = Now();
        while (Now() - start < timeoutMs) {
            const std::wstring status = Status();
            if (std::find(texts.begin(), texts.end(), status) != texts.end()) {
                if (seen != nullptr) *seen = status;
                return Now() - start;
            }
            ::Sleep(1);
        }
        return -1;
    }

    double worstRoundTrip() const { return worstRoundTrip_; }

    // The clock of the debug capture's line times.
    static double Now() { return DebugLineCapture::NowMs(); }

private:
    HWND dialog_;
    double worstRoundTrip_ = 0;
};

TEST_F(ManagerLongScan, AbortAtRandomMomentsLeavesNoThreadOrHandleAndTheDialogAnswersThroughout) {
    ManagerRun run;
    HWND dialog = run.dialog();
    ASSERT_NE(dialog, nullptr);
    DialogProbe probe(dialog);
    const std::wstring aborted = ProgramString(IDS_SCAN_ABORTED);
    const std::wstring complete = ProgramString(IDS_SCAN_COMPLETE);

    // One whole scan first: how long it takes bounds the moments to abort at, and
    // whatever the process keeps after a first scan is part of the census.
    ASSERT_TRUE(StartLongScan(run));
    const double start = DialogProbe::Now();
    ASSERT_GE(probe.WaitForStatus(complete, 60000), 0);
    const double wholeScan = DialogProbe::Now() - start;
    ASSERT_TRUE(run.WaitForScanEnd(complete));
    ::Sleep(200);
    const ProcessCensus before = TakeProcessCensus();

    // The walk writes a line for every sub-folder it meets: the last line of a
    // stopped scan tells when the last listing still in progress was done with.
    DebugLineCapture capture;
    const unsigned seed = ::GetTickCount();
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> moment(0, std::max(1.0, wholeScan / 2));
    std::vector<double> afterPress, afterLastLine;
    int endedFirst = 0;
    for (int attempt = 0; attempt < 20; ++attempt) {
        SCOPED_TRACE(testing::Message() << "attempt " << attempt << ", seed " << seed);
        ::SendMessageW(::GetDlgItem(dialog, IDC_STATUS_BAR), SB_SETTEXTW, SB_SIMPLEID_PART,
                       reinterpret_cast<LPARAM>(L"(test) waiting"));
        PressButton(dialog, IDC_SCAN);
        ASSERT_TRUE(WaitUntil([&] { return ControlText(dialog, IDC_SCAN) == ProgramString(IDS_PB_ABORT); }, 5000));
        probe.Watch(moment(random));
        if (probe.Status() == complete) {
            // A scan may run quicker than the first one did, on a machine whose
            // load changed: that attempt has nothing to abort.
            ++endedFirst;
            ASSERT_TRUE(run.WaitForScanEnd(complete));
            continue;
        }

        capture.Clear();
        const double pressed = DialogProbe::Now();
        ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SCAN, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDC_SCAN)));
        std::wstring ending;
        const double untilAborted = probe.WaitForStatus({aborted, complete}, 10000, &ending);
        ASSERT_GE(untilAborted, 0) << "no \"Scan aborted!\" " << (DialogProbe::Now() - pressed)
                                   << " ms after the press; the status reads " << ::testing::PrintToString(probe.Status())
                                   << ", the button " << ::testing::PrintToString(ControlText(dialog, IDC_SCAN));
        if (ending == complete) {
            // The scan ended between the look above and the press, which then
            // found the button reading Scan again and started another one: that
            // attempt had nothing to abort either.
            ++endedFirst;
            ASSERT_TRUE(run.WaitForScanEnd(complete, 60000));
            continue;
        }
        const double seen = pressed + untilAborted;
        afterPress.push_back(untilAborted);
        afterLastLine.push_back(seen - std::max(pressed, capture.LastLineTime(root_ + L"\\")));
        ASSERT_TRUE(run.WaitForScanEnd(aborted, 5000));
        EXPECT_EQ(ScanAbortEvent.load(), nullptr);

        // The worker returns right after its last message to the dialog.
        EXPECT_TRUE(WaitUntil([&] { return TakeProcessCensus() == before; }, 2000))
            << ::testing::PrintToString(TakeProcessCensus()) << " after the scan, "
            << ::testing::PrintToString(before) << " before";
    }
    EXPECT_GE(afterPress.size(), 10u) << endedFirst << " scans ended before their abort";
    std::printf("whole scan %.0f ms; worst round trip %.1f ms; %d scans ended before their abort\n"
                "from Abort to \"Scan aborted!\" (ms):",
                wholeScan, probe.worstRoundTrip(), endedFirst);
    for (double ms : afterPress) std::printf(" %.1f", ms);
    std::printf("\nfrom the last folder line to \"Scan aborted!\" (ms):");
    for (double ms : afterLastLine) std::printf(" %.1f", ms);
    std::printf("\n");
    // Once the listings in progress are done with, every thread ends at once; a
    // thread that went on walking, or a dialog blocked on the scan, would take
    // seconds. How quickly they answer (the aim is 100 ms) is the benchmark's
    // figure: on a loaded machine any one answer may be late.
    EXPECT_LT(*std::max_element(afterLastLine.begin(), afterLastLine.end()), 1000.0);
    EXPECT_LT(*std::max_element(afterPress.begin(), afterPress.end()), 2000.0) << "the listings are of small folders";
    EXPECT_LT(probe.worstRoundTrip(), 1000.0) << "the dialog was deaf this long";

    PressButton(dialog, IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

// ---- removing -------------------------------------------------------------------

class ManagerRemove : public ManagerDialog {
protected:
    // Presses OK in the next message box of the dialog's thread and returns its text.
    std::wstring AnswerBox(const ManagerRun& run, int button = IDOK) {
        HWND box = WaitForThreadMessageBox(run.threadId(), run.dialog());
        if (box == nullptr) return L"(no box)";
        const std::wstring text = MessageBoxText(box);
        PressButton(box, button);
        WaitUntil([&] { return !::IsWindow(box); }, 5000);
        return text;
    }
    bool NoBoxFor(const ManagerRun& run, DWORD ms) { return WaitForThreadMessageBox(run.threadId(), run.dialog(), ms) == nullptr; }
    bool Remove(ManagerRun& run) {
        ::SendMessageW(::GetDlgItem(run.dialog(), IDC_STATUS_BAR), SB_SETTEXTW, SB_SIMPLEID_PART,
                       reinterpret_cast<LPARAM>(L"(test) waiting"));
        PressButton(run.dialog(), IDC_REMOVE_SELECTED);
        return true;
    }
    const std::wstring root_ = UniquePath(kNtfsDrive, L"remove");
};

TEST_F(ManagerRemove, LoneRowIsRemovedWithoutBeingSelectedAndItsFilesStay) {
    std::wstring target;
    const std::wstring link = Junction(root_, L"lone", &target);
    ManagerRun run;
    ASSERT_TRUE(run.Scan(root_, false));
    ASSERT_EQ(run.Rows(), (Rows{{link, target}}));

    Remove(run);
    EXPECT_EQ(AnswerBox(run), L"Successfully removed junction point(s)");
    EXPECT_TRUE(run.WaitForScanEnd(ProgramString(IDS_SCAN_COMPLETE)));
    EXPECT_TRUE(run.Rows().empty());
    EXPECT_EQ(HostTypeOf(link), HostType::Missing);
    EXPECT_EQ(ReadTextFile(target + L"\\data.txt"), "kept");
    PressButton(run.dialog(), IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

TEST_F(ManagerRemove, ThreeRowsWithAStaleMiddleOneGiveOneErrorAndRemoveTheOthers) {
    std::wstring targetA, targetB, targetC;
    const std::wstring a = Junction(root_, L"a", &targetA);
    const std::wstring b = Junction(root_, L"b", &targetB);
    const std::wstring c = Junction(root_, L"c", &targetC);
    ManagerRun run;
    ASSERT_TRUE(run.Scan(root_, false));
    ASSERT_EQ(run.Rows(), (Rows{{a, targetA}, {b, targetB}, {c, targetC}}));

    // After the scan, b becomes an ordinary folder holding a file of the user's.
    ASSERT_TRUE(RemoveJunction(b.c_str()));
    MakeFolders(b);
    WriteTextFile(b + L"\\mine.txt", "mine");

    DebugLineCapture capture;
    run.SelectRows({0, 1, 2});
    Remove(run);
    // Several rows: one question that names them all first.
    EXPECT_EQ(AnswerBox(run, IDYES), L"Remove these junctions? The folders they point to, and their files, stay where "
                                     L"they are.\n\n" + a + L"\n" + b + L"\n" + c);
    EXPECT_EQ(AnswerBox(run), L"Error removing junction point:\n\n" + b + L"\n ->\n" + targetB);
    EXPECT_TRUE(NoBoxFor(run, 1500)) << "one error box, no success box";
    EXPECT_TRUE(run.WaitForScanEnd(ProgramString(IDS_SCAN_COMPLETE)));
    EXPECT_TRUE(run.Rows().empty());

    EXPECT_EQ(HostTypeOf(a), HostType::Missing);
    EXPECT_EQ(HostTypeOf(c), HostType::Missing);
    EXPECT_EQ(HostTypeOf(b), HostType::Directory);
    EXPECT_EQ(ReadTextFile(b + L"\\mine.txt"), "mine");
    for (const std::wstring& target : {targetA, targetB, targetC}) EXPECT_EQ(ReadTextFile(target + L"\\data.txt"), "kept");
    EXPECT_TRUE(capture.Contains(L"Tresselry.Error: No longer the listed junction: " + b));
    PressButton(run.dialog(), IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

TEST_F(ManagerRemove, JunctionNowPointingElsewhereIsNotRemoved) {
    std::wstring target, other;
    const std::wstring link = Junction(root_, L"moved", &target);
    ManagerRun run;
    ASSERT_TRUE(run.Scan(root_, false));
    ASSERT_EQ(run.Rows(), (Rows{{link, target}}));
    // Re-pointed after the scan: the row no longer says what the folder is.
    ASSERT_TRUE(RemoveJunction(link.c_str()));
    Junction(root_, L"moved", &other);

    Remove(run);
    EXPECT_EQ(AnswerBox(run), L"Error removing junction point:\n\n" + link + L"\n ->\n" + target);
    EXPECT_TRUE(run.WaitForScanEnd(ProgramString(IDS_SCAN_COMPLETE)));
    EXPECT_EQ(run.Rows(), (Rows{{link, other}}));
    PressButton(run.dialog(), IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

TEST_F(ManagerRemove, DirectorySymbolicLinkGivesAnErrorWithAnEmptyTargetAndStays) {
    const std::wstring target = UniquePath(kNtfsDrive, L"symlink-target");
    MakeFolders(target);
    const std::wstring symlink = root_ + L"\\symlink";
    MakeFolders(symlink);
    ASSERT_EQ(WriteNtfsReparseData(symlink, SymbolicLinkData(NtName(target), target, false)), 0);
    const auto stored = ReadNtfsReparseData(symlink);
    ASSERT_TRUE(stored.has_value());

    ManagerRun run;
    ASSERT_TRUE(run.Scan(root_, false));
    ASSERT_EQ(run.Rows(), (Rows{{symlink, L""}}));
    Remove(run);
    EXPECT_EQ(AnswerBox(run), L"Error removing junction point:\n\n" + symlink + L"\n ->\n");
    EXPECT_TRUE(NoBoxFor(run, 1000));
    EXPECT_TRUE(run.WaitForScanEnd(ProgramString(IDS_SCAN_COMPLETE)));
    EXPECT_EQ(run.Rows(), (Rows{{symlink, L""}}));
    EXPECT_EQ(ReadNtfsReparseData(symlink), stored);
    PressButton(run.dialog(), IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

TEST_F(ManagerRemove, NothingSelectedAmongSeveralRowsShowsNothingAndRescans) {
    std::wstring targetA, targetB;
    const std::wstring a = Junction(root_, L"a", &targetA);
    const std::wstring b = Junction(root_, L"b", &targetB);
    ManagerRun run;
    ASSERT_TRUE(run.Scan(root_, false));
    Remove(run);
    EXPECT_TRUE(NoBoxFor(run, 1500));
    EXPECT_TRUE(run.WaitForScanEnd(ProgramString(IDS_SCAN_COMPLETE)));
    EXPECT_EQ(run.Rows(), (Rows{{a, targetA}, {b, targetB}}));
    EXPECT_EQ(HostTypeOf(a), HostType::Symlink);
    PressButton(run.dialog(), IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

// Moved to a monitor of twice the scale (Windows sends WM_DPICHANGED; under Wine,
// where every monitor has the prefix's one DPI, the test sends it): the dialog takes
// the suggested rectangle, its icons and status bar the new DPI, and each list
// column keeps its share, also one the user widened. And back again.
TEST_F(ManagerDialog, FollowsItsWindowToAMonitorOfAnotherScale) {
    ManagerRun run;
    HWND dialog = run.dialog();
    ASSERT_NE(dialog, nullptr);
    HWND list = run.list();
    const UINT dpi = DpiForWindow(dialog);
    ::SendMessageW(list, LVM_SETCOLUMNWIDTH, 1, MAKELPARAM(300, 0));
    RECT before{};
    ::GetWindowRect(dialog, &before);

    const struct {
        UINT dpi;
        RECT suggested;
        int columns[2];
    } moves[] = {
        {2 * dpi, RECT{before.left + 20, before.top + 10, before.left + 20 + 2 * (before.right - before.left),
                       before.top + 10 + 2 * (before.bottom - before.top)},
         {2 * ColumnWidthForDpi(dpi), 600}},
        {dpi, before, {ColumnWidthForDpi(dpi), 300}},
    };
    for (const auto& move : moves) {
        SCOPED_TRACE(::testing::Message() << "to " << move.dpi << " DPI");
        ::SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(move.dpi, move.dpi), reinterpret_cast<LPARAM>(&move.suggested));
        RECT now{};
        ::GetWindowRect(dialog, &now);
        EXPECT_TRUE(::EqualRect(&now, &move.suggested)) << now.left << "," << now.top << " " << now.right << "," << now.bottom;
        EXPECT_EQ(::SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0), move.columns[0]);
        EXPECT_EQ(::SendMessageW(list, LVM_GETCOLUMNWIDTH, 1, 0), move.columns[1]);
        ExpectProgramIcons(dialog, AppInstance, move.dpi);
        ExpectStatusBarForDpi(dialog, move.dpi);
    }
    PressButton(dialog, IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

TEST_F(ManagerDialog, ScreenshotOfAFilledList) {
    const std::wstring root = UniquePath(kNtfsDrive, L"Games");
    for (const wchar_t* name : {L"Steam Library", L"Saved Games", L"Origin", L"Epic"}) Junction(root, name);
    ManagerRun run;
    ASSERT_TRUE(run.Scan(root, true));
    ASSERT_EQ(run.Rows().size(), 4u);
    ListViewSelect(run.list(), 1, true);
    WaitUntil([] { return false; }, 500);
    EXPECT_FALSE(SaveScreenshot(L"manager-filled-list").empty());
    PressButton(run.dialog(), IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
}

}  // namespace
