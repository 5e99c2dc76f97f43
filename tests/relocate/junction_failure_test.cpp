// When no junction can take the old path's place after a move, the files go back
// to the old path and the user is told so, or told where they are.
#include <gtest/gtest.h>

#include "engine/relocation_engine.h"
#include "ui/relocation_reporter.h"
#include "ui/app_globals.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/ui_thread.h"
#include "tests/relocate/file_tree.h"
#include "tests/relocate/relocation_session.h"

namespace {

using namespace relocation_testing;
using namespace testing_driver;

// Runs the restore on a UI thread, answers its message box and returns its text.
std::wstring RestoreAndReadReport(const std::wstring& source, const std::wstring& target,
                                  const std::vector<std::wstring>& moved, bool& restored) {
    UiThreadCall run([&] {
        DialogRelocationReporter reporter(nullptr);
        return static_cast<INT_PTR>(RestoreAfterJunctionFailure(source, target, moved, reporter));
    });
    HWND box = run.WaitForWindow();
    EXPECT_NE(box, nullptr);
    if (box == nullptr) return L"";
    const std::wstring text = BoxText(box);
    EXPECT_EQ(WindowText(box), L"Dirshift");
    PressButton(box, IDOK);
    EXPECT_TRUE(run.WaitForReturn());
    restored = run.result() != 0;
    return text;
}

std::wstring Report(const std::wstring& source, const std::wstring& target) {
    return L"Error creating virtual folder!\n\n" + source + L"\n ->\n" + target + L"\n\n";
}

TEST(JunctionFailure, FilesGoBackToTheOldPathAndTheUserIsTold) {
    InitAppGlobals();
    ScratchFolder scratch(TempRoot());
    const std::wstring source = scratch / L"Games";  // removed before the junction was tried
    const std::wstring target = scratch / L"Games moved";
    MakeTree(target, {{L"a.txt", "a"}, {L"sub\\b.txt", "b"}, {L"own.txt", "held before"}});
    const TreeSnapshot all = SnapshotTree(target);

    bool restored = false;
    const std::wstring text = RestoreAndReadReport(source, target, {L"a.txt", L"sub"}, restored);
    EXPECT_TRUE(restored);
    EXPECT_EQ(text, Report(source, target) + L"Files restored: they are back in the source folder.");
    EXPECT_EQ(SnapshotTree(source), (TreeSnapshot{{L"A.TXT", all.at(L"A.TXT")}, {L"SUB\\B.TXT", all.at(L"SUB\\B.TXT")}}));
    EXPECT_EQ(SnapshotTree(target), (TreeSnapshot{{L"OWN.TXT", all.at(L"OWN.TXT")}}));
}

TEST(JunctionFailure, FilesThatCannotGoBackAreNamedWithTheirPlace) {
    InitAppGlobals();
    ScratchFolder scratch(TempRoot());
    const std::wstring source = scratch / L"Games";
    const std::wstring target = scratch / L"Games moved";
    // Something has meanwhile put its own a.txt at the old path: it is not replaced.
    MakeTree(source, {{L"a.txt", "someone else's"}});
    MakeTree(target, {{L"a.txt", "moved a"}, {L"c.txt", "c"}});
    const TreeSnapshot sourceBefore = SnapshotTree(source);
    const TreeSnapshot targetBefore = SnapshotTree(target);

    bool restored = true;
    const std::wstring text = RestoreAndReadReport(source, target, {L"a.txt", L"c.txt"}, restored);
    EXPECT_FALSE(restored);
    EXPECT_EQ(text, Report(source, target) + L"Files may not be fully restored: whatever is missing from\n" + source +
                        L"\nis still in\n" + target);
    EXPECT_EQ(SnapshotTree(source), (TreeSnapshot{{L"A.TXT", sourceBefore.at(L"A.TXT")},
                                                  {L"C.TXT", targetBefore.at(L"C.TXT")}}));
    EXPECT_EQ(SnapshotTree(target), (TreeSnapshot{{L"A.TXT", targetBefore.at(L"A.TXT")}}));
}

}  // namespace
