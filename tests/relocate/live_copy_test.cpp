// The relocation dialog of the real dirshift.exe while it copies a tree to another
// drive: the status bar shows the copy's progress, the dialog answers, every
// control but Cancel is disabled, and Cancel stops the copy with the source as it
// was and nothing of the copy left; a second OK then moves the folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "resources/resource.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/host_view.h"
#include "tests/driver/test_volumes.h"
#include "tests/relocate/file_tree.h"
#include "tests/relocate/relocation_session.h"
#include "ui/live_copy.h"

namespace {

using namespace relocation_testing;
using namespace testing_driver;

constexpr wchar_t kCancelledText[] = L"Copy cancelled: nothing was changed.";

// Thousands of small files: a copy that takes seconds under Wine.
void MakeBusyTree(const std::wstring& root) {
    ::CreateDirectoryW(root.c_str(), nullptr);
    for (int f = 0; f < 12; ++f) {
        const std::wstring sub = root + L"\\d" + std::to_wstring(f);
        ::CreateDirectoryW(sub.c_str(), nullptr);
        for (int i = 0; i < 400; ++i) WriteTextFile(sub + L"\\f" + std::to_wstring(i) + L".txt", std::string(300, 'x'));
    }
    WriteTextFile(root + L"\\big.bin", std::string(4 << 20, 'b'));
}

bool IsCopyProgress(const std::wstring& status) {
    return status.rfind(L"Copying: ", 0) == 0 || status.rfind(L"Checking the copy: ", 0) == 0;
}

// Asks the dialog for its status text through its own thread: an answer that does
// not come within the timeout is a dialog that stopped answering.
std::wstring AnsweredStatus(HWND dialog, bool& answered) {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result)) answered = false;
    return DialogStatusText(dialog);
}

TEST(LiveCopy, TheDialogShowsTheCopyAndCancelLeavesEverythingAsItWas) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder plain(kPlainDrive);
    const std::wstring source = scratch / L"Games";
    const std::wstring target = plain / L"Games moved";
    MakeBusyTree(source);
    const TreeSnapshot before = SnapshotTree(source);

    RelocationSession session(source, target);
    ASSERT_TRUE(session.started());
    HWND dialog = session.dialog();
    session.PressOk();

    bool answered = true;
    std::wstring status;
    ASSERT_TRUE(WaitUntil([&] { return IsCopyProgress(status = AnsweredStatus(dialog, answered)); }, 60000))
        << "last status: " << ::testing::PrintToString(status);
    // Figures that move on, with the rate once a second has passed.
    EXPECT_TRUE(WaitUntil([&] { return AnsweredStatus(dialog, answered).find(L"/s") != std::wstring::npos; }, 30000))
        << DialogStatusText(dialog);
    ::Sleep(200);  // a moment to paint
    SaveScreenshot(L"copy-running");
    const bool stillCopying = IsCopyProgress(AnsweredStatus(dialog, answered));
    ASSERT_TRUE(stillCopying) << "the copy ended before it could be cancelled: make the tree larger";
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_SOURCE_PATH));
    EXPECT_FALSE(IsControlEnabled(dialog, IDOK));
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_COMPARE_CONTENTS));
    EXPECT_TRUE(IsControlEnabled(dialog, IDCANCEL));

    PressButton(dialog, IDCANCEL);
    ASSERT_TRUE(WaitUntil([&] { return AnsweredStatus(dialog, answered) == kCancelledText; }, 60000))
        << DialogStatusText(dialog);
    SaveScreenshot(L"copy-cancelled");
    EXPECT_TRUE(answered) << "the dialog answered throughout";
    EXPECT_TRUE(session.NoBoxWithin(300)) << "a cancelled copy needs no box";
    EXPECT_TRUE(IsControlEnabled(dialog, IDOK));
    EXPECT_EQ(SnapshotTree(source), before);
    EXPECT_EQ(HostTypeOf(source), HostType::Directory);
    EXPECT_FALSE(PathExists(target)) << "nothing of the copy is left";
    EXPECT_FALSE(PathExists(source + L".moved-by-dirshift"));

    // The same folder moved in full afterwards.
    session.PressOk();
    const std::optional<std::wstring> done = session.Answer(IDOK, 120000);
    ASSERT_TRUE(done.has_value());
    EXPECT_EQ(done->rfind(L"Successfully created the virtual folder!", 0), 0u) << ::testing::PrintToString(*done);
    EXPECT_EQ(session.app().WaitForExit(20000), std::optional<DWORD>(0u));
    EXPECT_EQ(SnapshotTree(target), before);
    EXPECT_EQ(OnDiskJunctionTarget(source), std::optional<std::wstring>(L"\\??\\" + FullPath(target)));
    EXPECT_FALSE(PathExists(source + L".moved-by-dirshift"));
}

TEST(LiveCopy, ProgressTextsGiveFilesBytesRateAndTimeLeft) {
    struct Case {
        TreeCopyProgress progress;
        ULONGLONG elapsedMs;
        const wchar_t* text;
    };
    const Case cases[] = {
        {{0, 0, 0, 0, false}, 0, L"Copying: 0 of 0 files, 0 bytes of 0 bytes"},
        {{512, 3000, 1, 2, false}, 500, L"Copying: 1 of 2 files, 512 bytes of 2.9 KB"},
        {{2u << 20, 6u << 20, 12, 1234, false}, 1000,
         L"Copying: 12 of 1,234 files, 2.0 MB of 6.0 MB, 2.0 MB/s, about 2 min left"},
        {{6u << 20, 7u << 20, 2, 4, false}, 2000, L"Copying: 2 of 4 files, 6.0 MB of 7.0 MB, 3.0 MB/s, about 2 s left"},
        {{3ull << 30, 3ull << 30, 40, 40, true}, 10000, L"Checking the copy: 40 of 40 files, 3.0 GB of 3.0 GB, 307.2 MB/s"},
        {{1u << 20, 301u << 20, 1, 1, false}, 1000, L"Copying: 1 of 1 file, 1.0 MB of 301.0 MB, 1.0 MB/s, about 5 min left"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatCopyProgress(c.progress, c.elapsedMs), c.text);

    EXPECT_EQ(FormatTimeLeft(0), L"about 1 s left");
    EXPECT_EQ(FormatTimeLeft(59), L"about 59 s left");
    EXPECT_EQ(FormatTimeLeft(89), L"about 1 min left");
    EXPECT_EQ(FormatTimeLeft(3600), L"about 1 h left");
    EXPECT_EQ(FormatTimeLeft(7500), L"about 2 h 5 min left");
    EXPECT_EQ(FormatByteSize(1), L"1 byte");
    EXPECT_EQ(FormatByteSize(1023), L"1,023 bytes");
    EXPECT_EQ(FormatByteSize(1536), L"1.5 KB");
    EXPECT_EQ(FormatByteSize(5ull << 40), L"5.0 TB");
}

}  // namespace
