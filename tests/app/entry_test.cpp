// The real dirshift.exe started with a table of command lines: which face opens,
// what path it shows, and the exit code when the user cancels.
#include <gtest/gtest.h>

#include "resources/resource.h"
#include "tests/driver/app_process.h"
#include "tests/driver/dialog_driver.h"

namespace {

using namespace testing_driver;

enum class Face { Relocation, Manager };

struct EntryCase {
    const wchar_t* name;
    std::wstring commandLine;  // whole raw command line; {exe} stands for the program's quoted path
    Face face;
    const wchar_t* sourceField;  // relocation face only
};

std::wstring Expand(const std::wstring& commandLine) {
    std::wstring result = commandLine;
    const size_t at = result.find(L"{exe}");
    if (at != std::wstring::npos) result.replace(at, 5, L"\"" + DirshiftExePath() + L"\"");
    return result;
}

TEST(Entry, CommandLineChoosesFaceAndStartupPath) {
    const EntryCase cases[] = {
        {L"no argument", L"{exe}", Face::Manager, nullptr},
        {L"trailing backslash", L"{exe} C:\\Data\\ /create", Face::Relocation, L"C:\\Data"},
        {L"two trailing backslashes", L"{exe} C:\\Data\\\\ /create", Face::Relocation, L"C:\\Data\\"},
        {L"quoted, escaped backslash", L"{exe} \"C:\\My Data\\\\\" /create", Face::Relocation, L"C:\\My Data"},
        // A quoted path ending in one backslash swallows the closing quote and all
        // that follows under the splitting rules; the program's own path holds
        // "/create" here, so the stray quote is what the rules remove.
        {L"quoted path ending in backslash", L"\"C:/create/dirshift.exe\" \"C:\\Data\\\"", Face::Relocation,
         L"C:\\Data"},
        {L"no path, switch alone", L"{exe} /create", Face::Relocation, L"/create"},
        {L"upper-case switch", L"{exe} C:\\Data /CREATE", Face::Manager, nullptr},
        {L"mixed-case switch", L"{exe} C:\\Data /Create", Face::Manager, nullptr},
        {L"switch inside the path", L"{exe} \"C:\\x/create\\y\"", Face::Relocation, L"C:\\x/create\\y"},
        {L"switch in program path, no argument", L"\"C:/create/dirshift.exe\"", Face::Relocation, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto app = AppProcess::Start(DirshiftExePath(), Expand(c.commandLine));
        ASSERT_NE(app, nullptr);
        HWND dialog = app->WaitForDialog();
        ASSERT_NE(dialog, nullptr);
        if (c.face == Face::Relocation) {
            ASSERT_NE(::GetDlgItem(dialog, IDC_SOURCE_PATH), nullptr) << "relocation face";
            EXPECT_EQ(ControlText(dialog, IDC_SOURCE_PATH), c.sourceField);
        } else {
            EXPECT_NE(::GetDlgItem(dialog, IDC_JUNCTION_LIST), nullptr) << "manager face";
        }
        PressButton(dialog, IDCANCEL);
        EXPECT_EQ(app->WaitForExit(), 2u);
    }
}

}  // namespace
