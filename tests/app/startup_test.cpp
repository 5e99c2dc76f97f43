// The start-up path and face rules, as pure functions, over a table of argument
// vectors and raw command lines.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/startup.h"

namespace {

struct ArgumentCase {
    std::vector<std::wstring> arguments;  // after the program's name
    std::wstring expectedPath;
};

TEST(StartupPath, TakesFirstArgumentAndDropsOneTrailingQuoteOrBackslash) {
    const ArgumentCase cases[] = {
        {{}, L""},
        {{L"C:\\Data"}, L"C:\\Data"},
        {{L"C:\\Data\\"}, L"C:\\Data"},
        {{L"C:\\Data\\\\"}, L"C:\\Data\\"},          // one character only
        {{L"C:\\Data\""}, L"C:\\Data"},              // the stray quote of a quoted "C:\Data\"
        {{L"D:\""}, L"D:"},                          // a quoted drive root from Explorer
        {{L"C:\\Data/"}, L"C:\\Data/"},              // a forward slash stays
        {{L"/create"}, L"/create"},                  // whatever stands first is the path
        {{L"C:\\Data", L"/create"}, L"C:\\Data"},
        {{L"\\"}, L""},
        {{L"\""}, L""},
        {{L""}, L""},
    };
    for (const auto& c : cases) {
        std::vector<const wchar_t*> argv = {L"dirshift.exe"};
        for (const auto& a : c.arguments) argv.push_back(a.c_str());
        const std::wstring path = StartupPathFromArguments(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(path, c.expectedPath) << "first argument: " << (c.arguments.empty() ? L"(none)" : c.arguments[0]);
    }
}

TEST(StartupPath, NoArgumentVectorGivesEmptyPath) {
    EXPECT_EQ(StartupPathFromArguments(0, nullptr), L"");
    const wchar_t* onlyName[] = {L"dirshift.exe"};
    EXPECT_EQ(StartupPathFromArguments(1, onlyName), L"");
}

struct CommandLineCase {
    const wchar_t* raw;
    bool relocation;
    const wchar_t* expectedPath;
};

// Raw command lines as a shell passes them, split by the platform's own rules.
TEST(StartupPath, RawCommandLinesChooseFaceAndPath) {
    const CommandLineCase cases[] = {
        {L"\"C:\\Program Files\\Dirshift\\dirshift.exe\"", false, L""},
        {L"dirshift.exe C:\\Data\\ /create", true, L"C:\\Data"},
        {L"dirshift.exe \"C:\\My Data\\\"", false, L"C:\\My Data"},
        {L"dirshift.exe \"C:\\My Data\\\\\" /create", true, L"C:\\My Data"},
        {L"dirshift.exe /create", true, L"/create"},
        {L"dirshift.exe C:\\Data /CREATE", false, L"C:\\Data"},
        {L"dirshift.exe C:\\Data /Create", false, L"C:\\Data"},
        {L"dirshift.exe \"C:\\x/create\\y\"", true, L"C:\\x/create\\y"},
        {L"\"C:/create/dirshift.exe\" C:\\Data", true, L"C:\\Data"},
        {L"dirshift.exe C:\\Data /created", true, L"C:\\Data"},  // a plain text search
    };
    for (const auto& c : cases) {
        int argc = 0;
        LPWSTR* argv = ::CommandLineToArgvW(c.raw, &argc);
        ASSERT_NE(argv, nullptr);
        EXPECT_EQ(StartupPathFromArguments(argc, argv), c.expectedPath) << c.raw;
        EXPECT_EQ(CommandLineSelectsRelocation(c.raw), c.relocation) << c.raw;
        ::LocalFree(argv);
    }
}

TEST(StartupPath, NullCommandLineSelectsManager) { EXPECT_FALSE(CommandLineSelectsRelocation(nullptr)); }

}  // namespace
