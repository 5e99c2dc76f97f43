// Diagnostic lines for a debugger or DebugView: one line per call, no time stamp.
#pragma once

#include <windows.h>

#include <cstdarg>

inline void DebugLine(const wchar_t* text) { ::OutputDebugStringW(text); }

// Formats with wsprintfW rules into a bounded buffer; a longer line is cut.
void DebugLineF(const wchar_t* format, ...);
