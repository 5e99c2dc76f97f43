#include "app/startup.h"

#include <cwchar>

std::wstring StartupPathFromArguments(int argc, const wchar_t* const* argv) {
    std::wstring path;
    if (argc >= 2 && argv != nullptr && argv[1] != nullptr) path = argv[1];
    if (!path.empty() && (path.back() == L'"' || path.back() == L'\\')) path.pop_back();
    return path;
}

bool CommandLineSelectsRelocation(const wchar_t* rawCommandLine) {
    return rawCommandLine != nullptr && std::wcsstr(rawCommandLine, L"/create") != nullptr;
}
