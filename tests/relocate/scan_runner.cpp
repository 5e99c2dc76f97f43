#include "tests/relocate/scan_runner.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include "base/work_pool.h"
#include "ui/app_globals.h"
#include "ui/scan_status.h"
#include "tests/driver/debug_capture.h"
#include "tests/driver/dialog_driver.h"

namespace relocation_testing {

ScanResult RunScan(const std::wstring& folder, bool countQueued) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    HWND parent = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 100, nullptr, nullptr, nullptr, nullptr);
    HWND bar = ::CreateStatusWindowW(WS_CHILD | WS_VISIBLE, L"Status", parent, 4883);
    ::SendMessageW(bar, SB_SIMPLE, TRUE, 0);
    StatusBarWindow = bar;

    ScanResult result;
    testing_driver::DebugLineCapture capture;
    ScanSourceFolder = folder;
    HANDLE worker = ::CreateThread(nullptr, 0, AccessScanThread, nullptr, 0, nullptr);
    EXPECT_NE(worker, nullptr);
    if (worker != nullptr) {
        // A scan that never ends is a fault: give up on it after a while.
        EXPECT_EQ(::WaitForSingleObject(worker, 60000), WAIT_OBJECT_0) << "the scan did not end";
        ::GetExitCodeThread(worker, &result.exitCode);
        ::CloseHandle(worker);
    }
    if (countQueued) {
        MSG message;
        while (::PeekMessageW(&message, bar, SB_SETTEXTW, SB_SETTEXTW, PM_REMOVE)) {
            ::DispatchMessageW(&message);
            ++result.queuedTexts;
        }
    }
    DeliverScanProgress();
    result.status = testing_driver::StatusBarText(bar);
    result.systemFiles = SystemFilesFound;
    const std::wstring prefix = L"Scanning for access: ";
    for (const auto& line : capture.LinesStartingWith(prefix)) result.tested.push_back(line.substr(prefix.size()));
    StatusBarWindow = nullptr;
    ::DestroyWindow(parent);
    return result;
}

ScanThreadsScope::ScanThreadsScope(int threads) { SetPoolThreadCount(threads); }
ScanThreadsScope::~ScanThreadsScope() { SetPoolThreadCount(0); }

}  // namespace relocation_testing
