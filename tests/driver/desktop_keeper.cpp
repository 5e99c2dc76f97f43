// Holds Wine's desktop open for a whole test run.
//
// Wine ends its desktop process (explorer.exe) about a second after the last
// program with windows has ended, and the next program then waits a second for a
// new one to start: between two test programs that cost is paid every time. One
// hidden window of a program that outlives every test keeps the desktop in use.
// tools/wine-run starts this program and tools/test.sh ends it.
#include <windows.h>

int wmain() {
    HWND holder = ::CreateWindowExW(0, L"STATIC", L"Dirshift test desktop holder", WS_OVERLAPPED, 0, 0, 0, 0,
                                    nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (holder == nullptr) return 1;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
    return 0;
}
