// Opens one top-level window and closes it again: the smallest program that needs
// Wine's desktop. tests/driver/wine_run_test.sh runs it through the test emulators.
#include <windows.h>

#include <cstdio>

int wmain() {
    HWND window = ::CreateWindowExW(0, L"STATIC", L"Dirshift window probe", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                    nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) {
        std::printf("no window: error %lu\n", ::GetLastError());
        return 1;
    }
    ::DestroyWindow(window);
    std::printf("a window opened and closed\n");
    return 0;
}
