// The real dirshift.exe moving a relocated folder's files back: relocated through
// its relocation dialog, moved back through the junction manager's button and
// through "/restore". Every file's checksum is checked, and the old path and the
// junction's bytes are read from Linux. What must refuse or undo a move back is
// shown too: a junction's drive without room for the files, and a move back that
// fails part-way (the test build of the program fails one of its disk calls).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "junction/junction.h"
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

std::wstring FailedRestoredText(const std::wstring& junction, const std::wstring& target) {
    return L"Moving the files back failed. Perhaps a file is in use? The files are all in\n" + target +
           L"\nagain, and the junction\n" + junction + L"\nis back as it was.";
}

std::wstring NoRoomText(const std::wstring& junction, const std::wstring& needed, const std::wstring& available) {
    return L"The files to move back take " + needed + L" bytes, but the drive of\n" + junction + L"\nhas only " +
           available + L" bytes free. No changes were made.";
}

// 1234567 -> "1,234,567", as the program writes byte counts.
std::wstring Grouped(unsigned long long number) {
    std::wstring digits = std::to_wstring(number);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, L',');
    return digits;
}

bool IsMoveBackQuestion(const std::wstring& text) {
    return text.rfind(L"Move the files back and remove the junction?", 0) == 0;
}

// The program's boxes answered as by a user who wants the files back: Yes to the
// question whenever it comes (before or after every file is checked), OK to any
// other box. The texts of the other boxes, in order, once the program has ended;
// `question` gets the question's text.
std::vector<std::wstring> AnswerWantingTheFilesBack(AppProcess& app, std::wstring* question = nullptr) {
    std::vector<std::wstring> told;
    const ULONGLONG deadline = ::GetTickCount64() + 60000;
    while (::GetTickCount64() < deadline) {
        HWND box = app.WaitForDialog(L"Dirshift", 250);
        if (box == nullptr) {
            if (app.WaitForExit(0).has_value()) break;
            continue;
        }
        const std::wstring text = BoxText(box);
        if (IsMoveBackQuestion(text)) {
            if (question != nullptr) *question = text;
            PressButton(box, IDYES);
        } else {
            told.push_back(text);
            PressButton(box, IDOK);
        }
        WaitUntil([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }, 10000);
    }
    return told;
}

// The debug line by which the test build of the program says it failed a call.
bool SaysItFailedACall(const AppProcess& app, const std::wstring& call) {
    const std::wstring start = L"Dirshift test: failed " + call + L" #";
    for (const std::wstring& line : app.DebugLines()) {
        if (line.rfind(start, 0) == 0) return true;
    }
    return false;
}

std::wstring StoppingExePath() { return ToWindowsPath(DIRSHIFT_STOPPING_EXE_PATH); }

// The test build of the program, started with `arguments` while
// DIRSHIFT_TEST_FAIL_CALL holds `failCall`.
std::unique_ptr<AppProcess> StartFailingOneCall(const std::wstring& failCall, const std::wstring& arguments) {
    ::SetEnvironmentVariableW(L"DIRSHIFT_TEST_FAIL_CALL", failCall.c_str());
    const std::wstring exe = StoppingExePath();
    auto app = AppProcess::Start(exe, L"\"" + exe + L"\" " + arguments);
    ::SetEnvironmentVariableW(L"DIRSHIFT_TEST_FAIL_CALL", nullptr);
    return app;
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

// The target's entries move back one by one; the second of them fails to move (a
// file in use). The first goes back to the target, the rest never leave it, and
// the junction is made again with the bytes it had.
TEST_F(MoveBackEndToEnd, AMoveBackThatFailsPartWayPutsTheJunctionAndEveryFileBack) {
    // Only moves out of the target count: a journal's own renames do not.
    auto app = StartFailingOneCall(L"move:2:" + FullPath(target_) + L"\\", Quoted(source_) + L" /restore");
    ASSERT_NE(app, nullptr);
    std::wstring question;
    const std::vector<std::wstring> told = AnswerWantingTheFilesBack(*app, &question);
    EXPECT_EQ(question, QuestionText(source_, FullPath(target_), kTreeBytes));
    EXPECT_EQ(told, std::vector<std::wstring>{FailedRestoredText(source_, FullPath(target_))});
    EXPECT_EQ(app->WaitForExit(), 1u);
    EXPECT_TRUE(SaysItFailedACall(*app, L"move")) << "the fault was never reached";
    ExpectUnchanged();
    EXPECT_EQ(HostTypeOf(source_), HostType::Symlink) << "ntfs-3g shows a junction as a symbolic link";
}

// A folder of a small NTFS drive whose files live on another drive, with the
// junction that a relocation leaves; the small drive then fills up, so the files
// cannot come back. (Wine 8's shell moves nothing from this drive to another Linux
// file system and the program rightly rolls such a relocation back, so the state
// is made here: the files copied, the junction made by the program's own library.)
class MoveBackToAFullDrive : public ::testing::Test {
protected:
    void SetUp() override {
        MakeTree(target_, tree_);
        before_ = SnapshotTree(target_);
        ASSERT_EQ(before_.size(), tree_.size());
        ASSERT_TRUE(CreateJunction(source_.c_str(), FullPath(target_).c_str()));
        ASSERT_EQ(OnDiskJunctionTarget(source_), L"\\??\\" + FullPath(target_));
        ASSERT_EQ(SnapshotTree(source_), before_) << "the files are seen through the junction";
        linkBytes_ = ReadNtfsReparseData(source_);
    }

    // Fills the junction's drive until less than `left` bytes are free.
    void FillDriveLeaving(ULONGLONG left) {
        ULARGE_INTEGER available = {};
        ASSERT_TRUE(::GetDiskFreeSpaceExW(sourceParent_.path().c_str(), &available, nullptr, nullptr));
        ASSERT_GT(available.QuadPart, left);
        const std::wstring filler = sourceParent_ / L"filler.bin";
        HANDLE file = ::CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        const std::string chunk(64 * 1024, 'f');
        for (ULONGLONG written = 0; written + left < available.QuadPart; written += chunk.size()) {
            DWORD wrote = 0;
            if (!::WriteFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &wrote, nullptr)) break;
        }
        ::CloseHandle(file);
    }

    ULONGLONG TreeBytes() const {
        ULONGLONG bytes = 0;
        for (const TreeFile& file : tree_) bytes += file.content.size();
        return bytes;
    }

    const std::vector<TreeFile> tree_ = {
        {L"slot1.sav", std::string(300000, '1')},
        {L"slot2.sav", std::string(200000, '2')},
        {L"Notes\\\u00e9t\u00e9.txt", "notes"},
    };
    // The destination goes last, so a junction never outlives its target.
    ScratchFolder targetParent_{kPlainDrive};
    ScratchFolder sourceParent_{kSmallNtfsDrive};
    std::wstring source_ = sourceParent_ / L"Saves";
    std::wstring target_ = targetParent_ / L"Saves moved";
    TreeSnapshot before_;
    std::optional<Bytes> linkBytes_;
};

// Before the drive fills, the same files come back across the two drives: copied,
// their folder made again, the junction and the emptied target gone.
TEST_F(MoveBackToAFullDrive, WithRoomTheFilesComeBackAcrossDrives) {
    auto app = AppProcess::StartDirshift(Quoted(source_) + L" /restore");
    ASSERT_NE(app, nullptr);
    const std::vector<std::wstring> told = AnswerWantingTheFilesBack(*app);
    EXPECT_EQ(told, std::vector<std::wstring>{CompletedText(source_, FullPath(target_))});
    EXPECT_EQ(app->WaitForExit(), 0u);
    EXPECT_FALSE(ReadNtfsReparseData(source_).has_value());
    EXPECT_EQ(HostTypeOf(source_), HostType::Directory);
    EXPECT_EQ(SnapshotTree(source_), before_);
    EXPECT_FALSE(PathExists(target_));
}

TEST_F(MoveBackToAFullDrive, IsRefusedWithBothFiguresAndNothingChanges) {
    FillDriveLeaving(TreeBytes() / 4);
    ULARGE_INTEGER available = {};
    ASSERT_TRUE(::GetDiskFreeSpaceExW(sourceParent_.path().c_str(), &available, nullptr, nullptr));
    ASSERT_LT(available.QuadPart, TreeBytes());

    auto app = AppProcess::StartDirshift(Quoted(source_) + L" /restore");
    ASSERT_NE(app, nullptr);
    std::wstring question;
    const std::vector<std::wstring> told = AnswerWantingTheFilesBack(*app, &question);
    if (!question.empty()) {
        EXPECT_EQ(question, QuestionText(source_, FullPath(target_), Grouped(TreeBytes())));
    }
    EXPECT_EQ(told, std::vector<std::wstring>{NoRoomText(source_, Grouped(TreeBytes()), Grouped(available.QuadPart))});
    EXPECT_EQ(app->WaitForExit(), 1u);

    EXPECT_EQ(ReadNtfsReparseData(source_), linkBytes_) << "the junction's bytes, read from Linux";
    EXPECT_EQ(HostTypeOf(source_), HostType::Symlink);
    EXPECT_EQ(SnapshotTree(target_), before_);
}

}  // namespace
