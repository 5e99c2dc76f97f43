// The real dirshift.exe moving a relocated folder's files back: relocated through
// its relocation dialog, moved back through the junction manager's button and
// through "/restore". Every file's checksum is checked, and the old path and the
// junction's bytes are read from Linux.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "resources/resource.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/host_view.h"
#include "tests/driver/test_volumes.h"
#include "tests/relocate/file_tree.h"
#include "tests/relocate/relocation_session.h"

namespace {

using namespace relocation_testing;
using namespace testing_driver;

constexpr wchar_t kManagerCaption[] = L"Manage and find junctions (hard links)";

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::wstring QuestionText(const std::wstring& junction, const std::wstring& target, const std::wstring& bytes) {
    return L"Move the files back and remove the junction?\n\nThe files of\n" + target + L"\n(" + bytes +
           L" bytes) move back to\n" + junction + L"\nwhich becomes a plain folder again. The folder\n" + target +
           L"\nis removed once it is empty.";
}

std::wstring CompletedText(const std::wstring& junction, const std::wstring& target) {
    return L"The files are back in\n" + junction + L"\nwhich is a plain folder again. The junction and the emptied "
           L"folder\n" + target + L"\nare removed.";
}

std::wstring ScanFailedText(const std::wstring& target) {
    return L"One or more files in\n" + target +
           L"\nare in use or insufficient rights exist. The files can not be moved back. No changes were made.";
}

std::vector<TreeFile> UserTree() {
    return {
        {L"readme.txt", "top level"},
        {L"docs\\letter.doc", std::string(100000, 'L')},
        {L"docs\\2024\\q1\\report.xls", "report"},
        {L"hidden.dat", "hidden file", FILE_ATTRIBUTE_HIDDEN},
        {L"Textures\\\u017b\u00f3\u0142w & \u00d1and\u00fa", "unicode"},
    };
}
// 9 + 100000 + 6 + 11 + 7
constexpr wchar_t kTreeBytes[] = L"100,033";

class MoveBackEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        MakeTree(source_, UserTree());
        before_ = SnapshotTree(source_);
        RelocationSession session(source_, target_);
        ASSERT_TRUE(session.started());
        session.PressOk();
        ASSERT_TRUE(session.Answer(IDOK).has_value());
        ASSERT_EQ(session.app().WaitForExit(20000), 0u);
        ASSERT_EQ(OnDiskJunctionTarget(source_), L"\\??\\" + FullPath(target_));
        linkBytes_ = ReadNtfsReparseData(source_);
    }

    // The old path a plain folder again holding every file; the target gone.
    void ExpectMovedBack() {
        EXPECT_FALSE(ReadNtfsReparseData(source_).has_value()) << "the old path still carries reparse data";
        EXPECT_EQ(HostTypeOf(source_), HostType::Directory);
        EXPECT_EQ(SnapshotTree(source_), before_);
        EXPECT_FALSE(PathExists(target_));
    }

    void ExpectUnchanged() {
        EXPECT_EQ(ReadNtfsReparseData(source_), linkBytes_) << "the junction's bytes";
        EXPECT_EQ(SnapshotTree(target_), before_);
    }

    // The manager opened on the source's parent, its scan ended, the junction's row
    // selected.
    HWND OpenManagerWithJunctionSelected(std::unique_ptr<AppProcess>& app) {
        app = AppProcess::StartDirshift(Quoted(sourceParent_.path()));
        if (!app) return nullptr;
        HWND dialog = app->WaitForDialog(kManagerCaption);
        if (dialog == nullptr) return nullptr;
        HWND list = ::GetDlgItem(dialog, IDC_JUNCTION_LIST);
        if (!WaitUntil([&] { return ListViewRowCount(list) == 1 && IsControlEnabled(dialog, IDC_SCAN) &&
                                    ControlText(dialog, IDC_SCAN) == L"Scan"; },
                       20000)) {
            return nullptr;
        }
        EXPECT_FALSE(IsControlEnabled(dialog, IDC_MOVE_BACK)) << "nothing selected yet";
        ListViewSelect(list, 0, true);
        EXPECT_TRUE(WaitUntil([&] { return IsControlEnabled(dialog, IDC_MOVE_BACK); }, 5000));
        EXPECT_EQ(ControlText(dialog, IDC_MOVE_BACK), L"Move files &back...");
        return dialog;
    }

    // The destination goes last, so a junction never outlives its target.
    ScratchFolder targetParent_{kSecondDrive};
    ScratchFolder sourceParent_{kNtfsDrive};
    std::wstring source_ = sourceParent_ / L"Games";
    std::wstring target_ = targetParent_ / L"Games moved";
    TreeSnapshot before_;
    std::optional<Bytes> linkBytes_;
};

std::optional<std::wstring> AnswerBox(AppProcess& app, int button, DWORD timeoutMs = 30000) {
    HWND box = app.WaitForDialog(L"Dirshift", timeoutMs);
    if (box == nullptr) return std::nullopt;
    const std::wstring text = BoxText(box);
    PressButton(box, button);
    WaitUntil([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }, 10000);
    return text;
}

TEST_F(MoveBackEndToEnd, TheManagersButtonMovesTheFilesBack) {
    std::unique_ptr<AppProcess> app;
    HWND dialog = OpenManagerWithJunctionSelected(app);
    ASSERT_NE(dialog, nullptr);
    SaveScreenshot(L"move-back-selected");

    PressButton(dialog, IDC_MOVE_BACK);
    HWND question = app->WaitForDialog(L"Dirshift", 20000);
    ASSERT_NE(question, nullptr);
    // Asked after the scan, with nothing moving yet.
    EXPECT_EQ(DialogStatusText(dialog), L"Every file passed the check.");
    SaveScreenshot(L"move-back-question");
    EXPECT_EQ(AnswerBox(*app, IDYES), QuestionText(source_, FullPath(target_), kTreeBytes));
    HWND done = app->WaitForDialog(L"Dirshift", 30000);
    ASSERT_NE(done, nullptr);
    SaveScreenshot(L"move-back-done");
    EXPECT_EQ(AnswerBox(*app, IDOK), CompletedText(source_, FullPath(target_)));

    // The list is scanned again: the junction is gone from it.
    HWND list = ::GetDlgItem(dialog, IDC_JUNCTION_LIST);
    EXPECT_TRUE(WaitUntil([&] { return ListViewRowCount(list) == 0 && ControlText(dialog, IDC_SCAN) == L"Scan"; },
                          20000));
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_MOVE_BACK));
    PressButton(dialog, IDCANCEL);
    EXPECT_EQ(app->WaitForExit(), 2u);
    ExpectMovedBack();
}

// A folder large enough that its scan takes seconds: the scan runs before any
// question, the manager keeps answering with the progress on its status bar, and
// Cancel stops the scan with nothing asked and nothing changed.
TEST_F(MoveBackEndToEnd, TheManagerAnswersWhileTheScanRunsFirstAndCancelStopsIt) {
    for (int folder = 0; folder < 12; ++folder) {
        const std::wstring sub = target_ + L"\\bulk " + std::to_wstring(folder);
        ASSERT_TRUE(::CreateDirectoryW(sub.c_str(), nullptr));
        for (int i = 0; i < 500; ++i) WriteTextFile(sub + L"\\f" + std::to_wstring(i), "x");
    }
    const TreeSnapshot filled = SnapshotTree(target_);
    std::unique_ptr<AppProcess> app;
    HWND dialog = OpenManagerWithJunctionSelected(app);
    ASSERT_NE(dialog, nullptr);

    PressButton(dialog, IDC_MOVE_BACK);
    DWORD worstMs = 0;
    int progressTexts = 0;
    std::wstring lastProgress;
    bool questionBeforeCancel = false;
    const ULONGLONG deadline = ::GetTickCount64() + 30000;
    while (::GetTickCount64() < deadline && progressTexts < 2) {
        const ULONGLONG sent = ::GetTickCount64();
        DWORD_PTR result = 0;
        ASSERT_TRUE(::SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result)) << "the manager froze";
        worstMs = std::max<DWORD>(worstMs, static_cast<DWORD>(::GetTickCount64() - sent));
        const std::wstring status = DialogStatusText(dialog);
        if (status.rfind(L"Scanning: ", 0) == 0 && status != lastProgress) {
            lastProgress = status;
            ++progressTexts;
        }
        if (app->WaitForDialog(L"Dirshift", 0) != nullptr) questionBeforeCancel = true;
        ::Sleep(5);
    }
    EXPECT_FALSE(questionBeforeCancel) << "the question waits for the scan";
    ASSERT_GE(progressTexts, 2) << "the scan's progress shows while it runs";
    SaveScreenshot(L"move-back-scan-running");
    PressButton(dialog, IDCANCEL);
    EXPECT_TRUE(WaitUntil([&] { return DialogStatusText(dialog) == L"Scan cancelled: nothing was changed."; }, 20000))
        << ::testing::PrintToString(DialogStatusText(dialog));
    EXPECT_EQ(app->WaitForDialog(L"Dirshift", 1500), nullptr) << "nothing is asked after a cancelled scan";
    EXPECT_TRUE(::IsWindow(dialog)) << "Cancel stopped the scan, not the manager";
    EXPECT_TRUE(WaitUntil([&] { return IsControlEnabled(dialog, IDC_MOVE_BACK); }, 5000));
    std::printf("Worst answer of the manager while the move back's scan ran: %lu ms\n",
                static_cast<unsigned long>(worstMs));
    EXPECT_LT(worstMs, 1000u);
    EXPECT_EQ(ReadNtfsReparseData(source_), linkBytes_) << "the junction's bytes";
    EXPECT_EQ(SnapshotTree(target_), filled);
    PressButton(dialog, IDCANCEL);
    EXPECT_EQ(app->WaitForExit(), 2u);
}

TEST_F(MoveBackEndToEnd, NoInTheManagerChangesNothing) {
    std::unique_ptr<AppProcess> app;
    HWND dialog = OpenManagerWithJunctionSelected(app);
    ASSERT_NE(dialog, nullptr);
    PressButton(dialog, IDC_MOVE_BACK);
    EXPECT_EQ(AnswerBox(*app, IDNO), QuestionText(source_, FullPath(target_), kTreeBytes));
    EXPECT_EQ(app->WaitForDialog(L"Dirshift", 1500), nullptr) << "nothing more is said";
    // The list stands as it was, its row still selected, ready for another try.
    EXPECT_EQ(ListViewRowCount(::GetDlgItem(dialog, IDC_JUNCTION_LIST)), 1);
    EXPECT_TRUE(WaitUntil([&] { return IsControlEnabled(dialog, IDC_MOVE_BACK); }, 5000));
    ExpectUnchanged();
    PressButton(dialog, IDCANCEL);
    EXPECT_EQ(app->WaitForExit(), 2u);
}

TEST_F(MoveBackEndToEnd, RestoreOnTheCommandLineMovesTheFilesBack) {
    // As Explorer's entry passes it: quoted, then the switch.
    auto app = AppProcess::StartDirshift(Quoted(source_) + L" /restore");
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(AnswerBox(*app, IDYES), QuestionText(source_, FullPath(target_), kTreeBytes));
    EXPECT_EQ(AnswerBox(*app, IDOK), CompletedText(source_, FullPath(target_)));
    EXPECT_EQ(app->WaitForExit(30000), 0u);
    ExpectMovedBack();
}

TEST_F(MoveBackEndToEnd, RestoreEndsWithTwoWhenDeclinedAndOneWhenRefused) {
    {
        auto app = AppProcess::StartDirshift(Quoted(source_) + L" /restore");
        ASSERT_NE(app, nullptr);
        EXPECT_EQ(AnswerBox(*app, IDNO), QuestionText(source_, FullPath(target_), kTreeBytes));
        EXPECT_EQ(app->WaitForExit(), 2u);
        ExpectUnchanged();
    }
    {
        // A file of the target held open without sharing.
        const std::wstring held = target_ + L"\\docs\\letter.doc";
        HANDLE file = ::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        // The scan comes first: refused before anything is asked.
        auto app = AppProcess::StartDirshift(Quoted(source_) + L" /restore");
        ASSERT_NE(app, nullptr);
        EXPECT_EQ(AnswerBox(*app, IDOK), ScanFailedText(FullPath(target_)));
        EXPECT_EQ(app->WaitForExit(), 1u);
        ::CloseHandle(file);
        ExpectUnchanged();
    }
    {
        // A plain folder is no junction.
        const std::wstring plain = sourceParent_ / L"plain";
        MakeTree(plain, {{L"a.txt", "a"}});
        auto app = AppProcess::StartDirshift(Quoted(plain) + L" /restore");
        ASSERT_NE(app, nullptr);
        EXPECT_EQ(AnswerBox(*app, IDOK),
                  plain + L"\nis not a junction. Only the files of a junction's folder can be moved back. No changes "
                          L"were made.");
        EXPECT_EQ(app->WaitForExit(), 1u);
        EXPECT_TRUE(PathExists(plain + L"\\a.txt"));
    }
}

}  // namespace
