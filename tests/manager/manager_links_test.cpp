// The junction manager's view of each link's health and its repairs, through its
// real windows on the NTFS test drive: the state of every row, re-pointing one
// junction and moving several to another drive letter (checked as bytes from
// Linux, failures included), several rows at once, sorting, and the keys.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "junction/junction.h"
#include "resources/resource.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/host_view.h"
#include "tests/driver/test_volumes.h"
#include "tests/junction/junction_test_support.h"
#include "tests/manager/manager_test_support.h"

namespace {

using namespace testing_driver;
using namespace manager_test;
using junction_test::MakeFolders;
using junction_test::NtName;
using junction_test::ReadTextFile;
using junction_test::UniquePath;
using junction_test::WriteTextFile;

using Rows = std::vector<std::vector<std::wstring>>;

wchar_t UnusedDriveLetter() {
    for (wchar_t letter = L'Q'; letter <= L'Z'; ++letter) {
        const wchar_t root[] = {letter, L':', L'\\', 0};
        if (::GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR) return letter;
    }
    return 0;
}

class ManagerLinks : public ::testing::Test {
protected:
    // An empty folder `name` in root_ made a junction to `substituteName` from
    // Linux, as another tool would leave it.
    std::wstring LinuxJunction(const wchar_t* name, const std::wstring& substituteName) {
        const std::wstring link = root_ + L"\\" + name;
        MakeFolders(link);
        EXPECT_EQ(WriteNtfsReparseData(link, MountPointData(substituteName, L"", false)), 0) << name;
        return link;
    }
    // A junction `name` to a new folder holding data.txt.
    std::wstring Junction(const wchar_t* name, std::wstring& target) {
        target = UniquePath(kNtfsDrive, L"links-backing");
        MakeFolders(target);
        WriteTextFile(target + L"\\data.txt", "kept");
        MakeFolders(root_);
        const std::wstring link = root_ + L"\\" + name;
        EXPECT_TRUE(CreateJunction(link.c_str(), target.c_str()));
        return link;
    }
    std::wstring AnswerBox(const ManagerRun& run, int button = IDOK) {
        HWND box = WaitForThreadMessageBox(run.threadId(), run.dialog());
        if (box == nullptr) return L"(no box)";
        const std::wstring text = MessageBoxText(box);
        PressButton(box, button);
        WaitUntil([&] { return !::IsWindow(box); }, 5000);
        return text;
    }
    // The dialog of the manager's thread captioned `caption`.
    HWND WaitForDialog(const ManagerRun& run, const std::wstring& caption) {
        HWND found = nullptr;
        WaitUntil(
            [&] {
                for (HWND window : ThreadWindows(run.threadId())) {
                    if (window != run.dialog() && ::IsWindowVisible(window) && WindowText(window) == caption) {
                        found = window;
                        return true;
                    }
                }
                return false;
            },
            10000);
        return found;
    }
    static std::vector<std::wstring> Column(const Rows& rows, size_t column) {
        std::vector<std::wstring> values;
        for (const auto& row : rows) values.push_back(row[column]);
        return values;
    }
    // A status text no scan writes, so that a wait for "Scan complete" sees the
    // end of the rescan that the next action starts, not of the scan before.
    static void MarkStatus(const ManagerRun& run) {
        ::SendMessageW(::GetDlgItem(run.dialog(), IDC_STATUS_BAR), SB_SETTEXTW, SB_SIMPLEID_PART,
                       reinterpret_cast<LPARAM>(L"(test) waiting"));
    }
    void Close(ManagerRun& run) {
        PressButton(run.dialog(), IDCANCEL);
        ASSERT_TRUE(run.WaitForReturn());
    }

    SettingsScope settings_;
    const std::wstring root_ = UniquePath(kNtfsDrive, L"links");
};

TEST_F(ManagerLinks, EveryRowShowsTheStateOfItsLinkAndOnlyOkRowsGoWithoutAnIcon) {
    const std::wstring real = UniquePath(kNtfsDrive, L"links-real");
    MakeFolders(real);
    MakeFolders(root_);
    WriteTextFile(root_ + L"\\file.txt", "a file");
    const wchar_t letter = UnusedDriveLetter();
    ASSERT_NE(letter, 0);
    struct Case {
        const wchar_t* name;
        std::wstring stored;
        const wchar_t* state;
    };
    const std::vector<Case> cases = {
        {L"a-ok", NtName(real), L"OK"},
        {L"b-missing", NtName(root_ + L"\\gone"), L"Target missing"},
        {L"c-file", NtName(root_ + L"\\file.txt"), L"Target is not a folder"},
        {L"d-chain", NtName(root_ + L"\\a-ok"), L"Target is a link"},
        {L"e-loop", NtName(root_), L"Points into itself"},
        {L"f-unplugged", std::wstring(L"\\??\\") + letter + L":\\Games", L"Target on a drive that is not there"},
        {L"g-share", L"\\??\\UNC\\server\\share\\Games", L"Target on another computer"},
    };
    Rows expected;
    for (const Case& c : cases) {
        expected.push_back({LinuxJunction(c.name, c.stored), c.stored.substr(4), c.state});
    }

    ManagerRun run;
    ASSERT_TRUE(run.Scan(root_, false));
    EXPECT_EQ(ListViewRows(run.list(), 3), expected);
    for (int row = 0; row < static_cast<int>(cases.size()); ++row) {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        ASSERT_TRUE(::SendMessageW(run.list(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        EXPECT_EQ(item.iImage == I_IMAGENONE, row == 0) << "row " << row;
    }
    SaveScreenshot(L"manager-link-states");
    Close(run);
}

TEST_F(ManagerLinks, RepointRefusesWhatCannotBeATargetAndChangesOnlyTheJunctionsData) {
    const std::wstring link = LinuxJunction(L"lost", NtName(root_ + L"\\gone"));
    const Bytes before = *ReadNtfsReparseData(link);
    const std::wstring fresh = UniquePath(kNtfsDrive, L"links-new");
    MakeFolders(fresh);
    WriteTextFile(fresh + L"\\save.dat", "save");
    const std::wstring emptyFolder = UniquePath(kNtfsDrive, L"links-empty");
    MakeFolders(emptyFolder);

    ManagerRun run;
    ASSERT_TRUE(run.Scan(root_, false));
    ASSERT_EQ(ListViewRows(run.list(), 3), (Rows{{link, root_ + L"\\gone", L"Target missing"}}));
    EXPECT_FALSE(IsControlEnabled(run.dialog(), IDC_REPOINT)) << "nothing selected";
    run.SelectRows({0});
    ASSERT_TRUE(WaitUntil([&] { return IsControlEnabled(run.dialog(), IDC_REPOINT); }, 5000));
    PressButton(run.dialog(), IDC_REPOINT);
    HWND repoint = WaitForDialog(run, L"Re-point junction");
    ASSERT_NE(repoint, nullptr);
    EXPECT_EQ(ControlText(repoint, IDC_REPOINT_LINK), link);
    EXPECT_EQ(ControlText(repoint, IDC_REPOINT_OLD), root_ + L"\\gone");
    SaveScreenshot(L"manager-repoint");

    // Typed as people type: each is refused with its reason, and the dialog stays.
    const struct {
        std::wstring typed;
        std::wstring told;
    } refused[] = {
        {L"", L"Type the full path of the new target folder, with its drive, such as D:\\Games."},
        {L"..", L"Type the full path of the new target folder, with its drive, such as D:\\Games."},
        {L"/", L"Type the full path of the new target folder, with its drive, such as D:\\Games."},
        {L"\\\\server\\share", L"\\\\server\\share is on another computer. A junction can only point to a folder on this "
                               L"computer."},
        {root_ + L"\\file-is-not-there", root_ + L"\\file-is-not-there does not exist."},
        {root_, root_ + L" is the junction itself or a folder that holds it: the junction would point into itself."},
        {link + L"\\x", link + L"\\x lies inside the junction: the junction would point into itself."},
    };
    for (const auto& r : refused) {
        SetControlText(repoint, IDC_REPOINT_NEW, r.typed);
        PressButton(repoint, IDOK);
        EXPECT_EQ(AnswerBox(run), r.told) << ::testing::PrintToString(r.typed);
        EXPECT_TRUE(::IsWindow(repoint));
    }
    EXPECT_EQ(ReadNtfsReparseData(link), before) << "nothing written yet";

    // An empty folder while the old target is missing: asked first; No keeps all.
    SetControlText(repoint, IDC_REPOINT_NEW, emptyFolder);
    PressButton(repoint, IDOK);
    const std::wstring question = AnswerBox(run, IDNO);
    EXPECT_NE(question.find(L"is empty, and the folder that the junction pointed to"), std::wstring::npos) << question;
    EXPECT_EQ(ReadNtfsReparseData(link), before);

    SetControlText(repoint, IDC_REPOINT_NEW, fresh + L"\\");
    MarkStatus(run);
    PressButton(repoint, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(repoint); }, 5000));
    EXPECT_EQ(ReadNtfsReparseData(link), MountPointData(NtName(fresh), L"", false));
    EXPECT_EQ(ReadTextFile(link + L"\\save.dat"), "save");
    ASSERT_TRUE(run.WaitForScanEnd(ProgramString(IDS_SCAN_COMPLETE)));
    EXPECT_EQ(ListViewRows(run.list(), 3), (Rows{{link, fresh, L"OK"}}));
    Close(run);
}

TEST_F(ManagerLinks, ADriveLetterChangeMovesEveryJunctionItCanAndSaysWhichItLeft) {
    // M: is a folder of N:'s volume: "M:\x" is "N:\second\x".
    const std::wstring name = UniquePath(L"", L"swap").substr(1);
    MakeFolders(L"M:\\" + name + L"\\a");
    MakeFolders(L"N:\\" + name + L"\\a");
    WriteTextFile(L"N:\\" + name + L"\\a\\n.txt", "on N");
    MakeFolders(L"M:\\" + name + L"\\b");  // no N: twin: left as it is
    MakeFolders(L"M:\\" + name + L"\\c");
    MakeFolders(L"N:\\" + name + L"\\c");
    const std::wstring a = LinuxJunction(L"a", L"\\??\\M:\\" + name + L"\\a");
    const std::wstring b = LinuxJunction(L"b", L"\\??\\M:\\" + name + L"\\b");
    const std::wstring c = LinuxJunction(L"c", L"\\??\\M:\\" + name + L"\\c");
    const Bytes bBefore = *ReadNtfsReparseData(b);

    ManagerRun run;
    ASSERT_TRUE(run.Scan(root_, false));
    ASSERT_EQ(ListViewRowCount(run.list()), 3);
    run.SelectRows({0, 1, 2});
    ASSERT_TRUE(WaitUntil([&] { return IsControlEnabled(run.dialog(), IDC_CHANGE_DRIVE); }, 5000));
    PressButton(run.dialog(), IDC_CHANGE_DRIVE);
    HWND change = WaitForDialog(run, L"Change drive letter");
    ASSERT_NE(change, nullptr);
    HWND from = ::GetDlgItem(change, IDC_DRIVE_FROM);
    EXPECT_EQ(::SendMessageW(from, CB_GETCOUNT, 0, 0), 1) << "only the drive the targets are on";
    HWND to = ::GetDlgItem(change, IDC_DRIVE_TO);
    ::SendMessageW(to, CB_SETCURSEL, static_cast<WPARAM>(::SendMessageW(to, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                                         reinterpret_cast<LPARAM>(L"N:"))),
                   0);
    SaveScreenshot(L"manager-change-drive");
    MarkStatus(run);
    PressButton(change, IDOK);

    const std::wstring summary = AnswerBox(run);
    EXPECT_EQ(summary, L"2 junctions now point to the new drive, 1 was left as before.\n\nChanged:\n" + a +
                           L"\n  -> N:\\" + name + L"\\a\n" + c + L"\n  -> N:\\" + name + L"\\c\n\nNot changed:\n" + b +
                           L"\n  N:\\" + name + L"\\b does not exist.");
    EXPECT_EQ(ReadNtfsReparseData(a), MountPointData(L"\\??\\N:\\" + name + L"\\a", L"", false));
    EXPECT_EQ(ReadNtfsReparseData(b), bBefore) << "the old data stays";
    EXPECT_EQ(ReadNtfsReparseData(c), MountPointData(L"\\??\\N:\\" + name + L"\\c", L"", false));
    EXPECT_EQ(ReadTextFile(a + L"\\n.txt"), "on N");
    ASSERT_TRUE(run.WaitForScanEnd(ProgramString(IDS_SCAN_COMPLETE)));
    Close(run);
}

TEST_F(ManagerLinks, SeveralRowsMoveBackAfterOneQuestionAndOneThatCannotIsToldAndSkipped) {
    std::wstring targetA, targetB;
    const std::wstring a = Junction(L"a", targetA);
    const std::wstring b = Junction(L"b", targetB);
    ManagerRun run;
    ASSERT_TRUE(run.Scan(root_, false));
    ASSERT_EQ(run.Rows(), (Rows{{a, targetA}, {b, targetB}}));
    // After the scan, b is pointed elsewhere by someone else.
    const std::wstring elsewhere = UniquePath(kNtfsDrive, L"links-elsewhere");
    MakeFolders(elsewhere);
    ASSERT_TRUE(RepointJunctionAt(b.c_str(), targetB.c_str(), elsewhere.c_str()));

    run.SelectRows({0, 1});
    ASSERT_TRUE(WaitUntil([&] { return IsControlEnabled(run.dialog(), IDC_MOVE_BACK); }, 5000));
    MarkStatus(run);
    PressButton(run.dialog(), IDC_MOVE_BACK);
    EXPECT_EQ(AnswerBox(run, IDYES), L"Move the files of these junctions back into their places? Each one is checked "
                                     L"and moved in turn.\n\n" + a + L"\n" + b);
    // a goes back without a second question; its end is told as every move back's.
    const std::wstring first = AnswerBox(run);
    EXPECT_NE(first.find(a), std::wstring::npos) << first;
    const std::wstring second = AnswerBox(run);
    EXPECT_NE(second.find(L"cannot be moved back"), std::wstring::npos) << second;
    EXPECT_NE(second.find(b), std::wstring::npos) << second;
    ASSERT_TRUE(run.WaitForScanEnd(ProgramString(IDS_SCAN_COMPLETE)));

    EXPECT_EQ(HostTypeOf(a), HostType::Directory);
    EXPECT_EQ(ReadTextFile(a + L"\\data.txt"), "kept");
    EXPECT_EQ(HostTypeOf(b), HostType::Symlink);
    EXPECT_EQ(ReadTextFile(targetB + L"\\data.txt"), "kept");
    EXPECT_EQ(run.Rows(), (Rows{{b, elsewhere}}));
    Close(run);
}

TEST_F(ManagerLinks, HeadersSortCtrlACtrlCCopyAndDeleteAsks) {
    const std::wstring real = UniquePath(kNtfsDrive, L"links-real");
    MakeFolders(real);
    const std::wstring z = LinuxJunction(L"z", NtName(real));
    const std::wstring m = LinuxJunction(L"m", NtName(root_ + L"\\gone"));
    const std::wstring a = LinuxJunction(L"a", NtName(real + L"\\missing-too"));
    ManagerRun run;
    ASSERT_TRUE(run.Scan(root_, false));
    EXPECT_EQ(Column(ListViewRows(run.list(), 3), 0), (std::vector<std::wstring>{a, m, z}));

    HWND header = reinterpret_cast<HWND>(::SendMessageW(run.list(), LVM_GETHEADER, 0, 0));
    const auto clickHeader = [&](int column) {
        RECT rect = {};
        ::SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&rect));
        const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        ::PostMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::PostMessageW(header, WM_LBUTTONUP, 0, at);
    };
    clickHeader(2);  // by state: OK before "Target missing", then by path
    EXPECT_TRUE(WaitUntil([&] { return Column(ListViewRows(run.list(), 3), 0) == std::vector<std::wstring>{z, a, m}; },
                          5000))
        << ::testing::PrintToString(ListViewRows(run.list(), 3));
    clickHeader(2);  // reversed
    EXPECT_TRUE(WaitUntil([&] { return Column(ListViewRows(run.list(), 3), 0) == std::vector<std::wstring>{m, a, z}; },
                          5000))
        << ::testing::PrintToString(ListViewRows(run.list(), 3));

    // Keys as a user types them, the list in front with the focus.
    ::SetForegroundWindow(run.dialog());
    ::SendMessageW(run.dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(run.list()), TRUE);
    ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == run.dialog(); }, 3000));
    TypeKeys({{VK_CONTROL, false}, {'A', false}, {'A', true}, {VK_CONTROL, true}});
    EXPECT_TRUE(WaitUntil([&] { return ::SendMessageW(run.list(), LVM_GETSELECTEDCOUNT, 0, 0) == 3; }, 3000));
    TypeKeys({{VK_CONTROL, false}, {'C', false}, {'C', true}, {VK_CONTROL, true}});
    const std::wstring copied = L"Virtual folder\tBacking (real) folder\tState\r\n" + m + L"\t" + root_ +
                                L"\\gone\tTarget missing\r\n" + a + L"\t" + real + L"\\missing-too\tTarget missing\r\n" +
                                z + L"\t" + real + L"\tOK\r\n";
    EXPECT_TRUE(WaitUntil([&] { return ClipboardText() == copied; }, 3000)) << ::testing::PrintToString(ClipboardText());

    // Delete asks first, even for rows the Remove button would take at once; No keeps all.
    TypeKeys({{VK_DELETE, false}, {VK_DELETE, true}});
    const std::wstring question = AnswerBox(run, IDNO);
    EXPECT_EQ(question.rfind(L"Remove these junctions?", 0), 0u) << question;
    EXPECT_EQ(HostTypeOf(z), HostType::Symlink);
    MarkStatus(run);
    TypeKeys({{VK_DELETE, false}, {VK_DELETE, true}});
    EXPECT_EQ(AnswerBox(run, IDYES).rfind(L"Remove these junctions?", 0), 0u);
    EXPECT_EQ(AnswerBox(run), L"Successfully removed junction point(s)");
    ASSERT_TRUE(run.WaitForScanEnd(ProgramString(IDS_SCAN_COMPLETE)));
    EXPECT_EQ(ListViewRowCount(run.list()), 0);
    for (const std::wstring& link : {z, m, a}) EXPECT_EQ(HostTypeOf(link), HostType::Missing) << link;
    EXPECT_TRUE(junction_test::Exists(real));
    Close(run);
}

}  // namespace
