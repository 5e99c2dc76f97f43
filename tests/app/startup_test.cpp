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

TEST(StartupPath, RestoreSelectsTheMoveBackUnlessCreateIsThere) {
    const struct {
        const wchar_t* raw;
        bool moveBack;
        const wchar_t* expectedPath;
    } cases[] = {
        {L"dirshift.exe \"D:\\Games\\Sample\" /restore", true, L"D:\\Games\\Sample"},
        // A quoted trailing backslash makes the quote literal: the rest of the line
        // joins the path (the backslash is taken as its escape), and is cut off there.
        {L"dirshift.exe \"D:\\Games\\Sample\\\" /restore", true, L"D:\\Games\\Sample"},
        {L"dirshift.exe D:\\Games /RESTORE", false, L"D:\\Games"},  // case-sensitive, like /create
        {L"dirshift.exe D:\\Games", false, L"D:\\Games"},
        {L"dirshift.exe D:\\Games /restore /create", false, L"D:\\Games"},  // /create keeps its meaning
        {L"dirshift.exe /restore", true, L"/restore"},  // no path: refused as no junction
    };
    for (const auto& c : cases) {
        int argc = 0;
        LPWSTR* argv = ::CommandLineToArgvW(c.raw, &argc);
        ASSERT_NE(argv, nullptr);
        EXPECT_EQ(MoveBackPathFromArguments(argc, argv), c.expectedPath) << c.raw;
        EXPECT_EQ(CommandLineSelectsMoveBack(c.raw), c.moveBack) << c.raw;
        ::LocalFree(argv);
    }
    EXPECT_FALSE(CommandLineSelectsMoveBack(nullptr));
}

TEST(StartupPath, MoveBackExitCodes) {
    EXPECT_EQ(MoveBackExitCode(MoveBackResult::Completed), 0);
    EXPECT_EQ(MoveBackExitCode(MoveBackResult::Declined), 2);
    for (const auto failed : {MoveBackResult::Refused, MoveBackResult::RolledBack, MoveBackResult::NotRestored,
                              MoveBackResult::Interrupted}) {
        EXPECT_EQ(MoveBackExitCode(failed), 1) << static_cast<int>(failed);
    }
}

}  // namespace
