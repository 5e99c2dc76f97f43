#include "tests/driver/ui_thread.h"

#include "tests/driver/dialog_driver.h"

namespace testing_driver {

UiThreadCall::UiThreadCall(std::function<INT_PTR()> call) : call_(std::move(call)) {
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
