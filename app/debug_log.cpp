#include "app/debug_log.h"

void DebugLineF(const wchar_t* format, ...) {
    wchar_t line[1024];  // wvsprintfW never writes more than 1024 characters
    va_list args;
    va_start(args, format);
    ::wvsprintfW(line, format, args);
    va_end(args);
    ::OutputDebugStringW(line);
}
