// Runs a call that shows windows (a dialog, a message box) on a user-interface
// thread of the test's own process, so the test thread can drive those windows.
#pragma once

#include <windows.h>

#include <functional>

namespace testing_driver {

class UiThreadCall {
public:
    explicit UiThreadCall(std::function<INT_PTR()> call);
    // Waits for the call to return; a call that is still showing windows after
    // the wait is forced to end by closing them, so no test leaves a thread behind.
    ~UiThreadCall();
    UiThreadCall(const UiThreadCall&) = delete;
    UiThreadCall& operator=(const UiThreadCall&) = delete;

    DWORD threadId() const { return threadId_; }

    // The first visible top-level window of the thread with the class name (a
    // dialog by default), or null after the time-out.
    HWND WaitForWindow(const wchar_t* className = L"#32770", DWORD timeoutMs = 10000) const;

    // True once the call has returned.
    bool WaitForReturn(DWORD timeoutMs = 10000) const;
    INT_PTR result() const { return result_; }

private:
    static DWORD WINAPI ThreadProc(void* self);

    std::function<INT_PTR()> call_;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    INT_PTR result_ = 0;
};

}  // namespace testing_driver
