// Holds Wine's desktop open for a whole test run.
//
// Wine ends its desktop process (explorer.exe) about a second after the last
// program with windows has ended, and the next program then waits a second for a
// new one to start: between two test programs that cost is paid every time. One
// hidden window of a program that outlives every test keeps the desktop in use.
//
// Wine starts the desktop process from whichever program first needs it, and that
// process inherits the program's standard error. Started by a test program, it would
// keep CTest's output pipe of that test open for as long as this holder lives, and
// CTest waits for the pipe to close. So this program, started with no pipes, must be
// the one that brings the desktop up, and says so: once its window exists (the
// desktop with it), it creates the file named by its argument. tools/wine-run waits
// for that file before it runs a test, and tools/test.sh ends this program.
#include <windows.h>

#include "base/unique_resource.h"

int wmain(int argc, wchar_t** argv) {
    // A top-level window cannot exist without the desktop: when this call returns,
    // Wine has started explorer.exe from this process.
    HWND holder = ::CreateWindowExW(0, L"STATIC", L"Dirshift test desktop holder", WS_OVERLAPPED, 0, 0, 0, 0,
                                    nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (holder == nullptr) return 1;
    if (argc > 1) {
        UniqueFileHandle ready(
            ::CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!ready) return 2;
    }
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
    return 0;
}
