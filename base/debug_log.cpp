#include "base/debug_log.h"

namespace {

constexpr int kLineCapacity = 1024;  // wvsprintfW never writes more than 1024 characters

// OutputDebugStringW may itself set the last error (it raises and handles an
// exception internally on Windows).
void WriteKeepingLastError(const wchar_t* line) {
    const DWORD error = ::GetLastError();
    ::OutputDebugStringW(line);
    ::SetLastError(error);
}

}  // namespace

void DebugLine(const wchar_t* text) { WriteKeepingLastError(text); }

void DebugLineF(const wchar_t* format, ...) {
    const DWORD error = ::GetLastError();
    wchar_t line[kLineCapacity];
    va_list args;
    va_start(args, format);
    ::wvsprintfW(line, format, args);
    va_end(args);
    ::SetLastError(error);
    WriteKeepingLastError(line);
}

void DebugErrorLine(const wchar_t* text, DWORD error) {
    DebugLineF(L"%s (error %lu)", text, error);
    ::SetLastError(error);
}
