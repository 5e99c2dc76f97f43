#include "base/text.h"

std::wstring LoadResourceString(HINSTANCE module, UINT id) {
    // With a zero capacity, LoadStringW hands out a pointer to the resource's own
    // characters and their count, so no length limit applies.
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(module, id, reinterpret_cast<wchar_t*>(&text), 0);
    if (length <= 0 || text == nullptr) return std::wstring();
    return std::wstring(text, static_cast<size_t>(length));
}
