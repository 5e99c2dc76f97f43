// Diagnostic lines for a debugger or DebugView: one line per call, no time stamp.
// Writing a line never changes the thread's last error, so a failure can be logged
// before its cause is read or handed on.
#pragma once

#include <windows.h>

#include <cstdarg>

void DebugLine(const wchar_t* text);

// Formats with wsprintfW rules into a bounded buffer; a longer line is cut.
void DebugLineF(const wchar_t* format, ...);

// Writes `text` followed by " (error <code>)". The code defaults to the thread's
// last error as it is at the call.
void DebugErrorLine(const wchar_t* text, DWORD error = ::GetLastError());
