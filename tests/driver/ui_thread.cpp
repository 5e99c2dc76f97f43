#include "tests/driver/ui_thread.h"

#include "tests/driver/dialog_driver.h"

namespace testing_driver {

namespace {

// Wine 8 can deadlock when two threads of a process make their first use of the
// window system at the same moment (the UI thread creating its window while the
// test thread looks for it): one waits in the window system's one-time set-up
// that the other holds. A window made and destroyed here, before the UI thread
// exists, does that set-up on the test thread first.
void SetUpWindowSystemOnce() {
    static const bool done = [] {
        HWND window = ::CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                        ::GetModuleHandleW(nullptr), nullptr);
        if (window != nullptr) ::DestroyWindow(window);
        return true;
    }();
    (void)done;
}

}  // namespace

UiThreadCall::UiThreadCall(std::function<INT_PTR()> call) : call_(std::move(call)) {
    SetUpWindowSystemOnce();
    thread_ = ::CreateThread(nullptr, 0, ThreadProc, this, 0, &threadId_);
}

UiThreadCall::~UiThreadCall() {
    if (thread_ == nullptr) return;
    if (::WaitForSingleObject(thread_, 10000) != WAIT_OBJECT_0) {
        for (HWND window : ThreadWindows(threadId_)) ::PostMessageW(window, WM_CLOSE, 0, 0);
        ::PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        ::WaitForSingleObject(thread_, 10000);
    }
    ::CloseHandle(thread_);
}

DWORD WINAPI UiThreadCall::ThreadProc(void* self) {
    auto* call = static_cast<UiThreadCall*>(self);
    call->result_ = call->call_();
    return 0;
}

HWND UiThreadCall::WaitForWindow(const wchar_t* className, DWORD timeoutMs) const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : ThreadWindows(threadId_)) {
                if (::IsWindowVisible(window) && (className == nullptr || ClassNameOf(window) == className)) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

bool UiThreadCall::WaitForReturn(DWORD timeoutMs) const {
    return WaitUntil([&] { return ::WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }, timeoutMs);
}

}  // namespace testing_driver
