// Small text helpers that every layer shares.
#pragma once

#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

// True for the "." and ".." entries that every folder listing starts with. A
// template, so that code built for Windows (wchar_t) and code built natively for
// fuzzing (char16_t) share one definition.
template <typename Char>
constexpr bool IsDotEntry(const Char* name) {
    return name[0] == Char('.') && (name[1] == Char(0) || (name[1] == Char('.') && name[2] == Char(0)));
}

#if defined(_WIN32)
// The whole text of string resource `id` of `module`, or an empty string when the
// module has no such string. Never cut to a buffer's size.
std::wstring LoadResourceString(HINSTANCE module, UINT id);
#endif
