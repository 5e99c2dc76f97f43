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

bool CommandLineSelectsMoveBack(const wchar_t* rawCommandLine) {
    return rawCommandLine != nullptr && std::wcsstr(rawCommandLine, L"/restore") != nullptr &&
           !CommandLineSelectsRelocation(rawCommandLine);
}

std::wstring MoveBackPathFromArguments(int argc, const wchar_t* const* argv) {
    std::wstring path = StartupPathFromArguments(argc, argv);
    const size_t quote = path.find(L'"');
    if (quote != std::wstring::npos) path.erase(quote);
    return path;
}

int MoveBackExitCode(MoveBackResult result) {
    switch (result) {
    case MoveBackResult::Completed:
        return 0;
    case MoveBackResult::Declined:
        return 2;
    case MoveBackResult::Refused:
    case MoveBackResult::RolledBack:
    case MoveBackResult::NotRestored:
    case MoveBackResult::Interrupted:
        break;
    }
    return 1;
}
