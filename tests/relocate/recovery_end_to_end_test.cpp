// The real program stopped dead in the middle of a relocation - at each of its
// phases, and once at a random moment - and started again: the recovery says what
// the disk holds, "finish" ends with every file in the destination behind a
// junction and "move back" with every file in the source, each exactly once by
// checksum. A damaged journal, or one whose folders are gone, is reported and
// discarded with no folder touched.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "base/text.h"
#include "base/unique_resource.h"
#include "engine/relocation_journal.h"
#include "engine/relocation_messages.h"
#include "junction/junction.h"
#include "promptbox/prompt_box.h"
#include "resources/resource.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/host_view.h"
#include "tests/driver/test_volumes.h"
#include "tests/relocate/file_tree.h"
#include "tests/relocate/recording_observer.h"
#include "tests/relocate/relocation_session.h"

namespace {

using namespace relocation_testing;
using namespace testing_driver;
using M = RelocationMessage;

constexpr DWORD kStoppedExitCode = 99;
constexpr wchar_t kMoveFailed[] =
    L"Moving of files failed. Automatic Dirshift could not be acccomplished Perhaps one or more files are in use or "
    L"you are messing with system protected folders? Attempting to move files back.";

std::wstring StoppingExePath() { return ToWindowsPath(DIRSHIFT_STOPPING_EXE_PATH); }

std::wstring TextOf(RelocationMessage message, const std::wstring& source, const std::wstring& target,
                    const std::wstring& name = L"") {
    RelocationFacts facts;
    facts.source = source;
    facts.target = target;
    facts.name = name;
    return ComposeRelocationText(message, facts,
                                 [](UINT id) { return LoadResourceString(::GetModuleHandleW(nullptr), id); });
}

std::vector<TreeFile> UserTree() {
    return {
        {L"readme.txt", "top level"},
        {L"docs\\letter.doc", std::string(100000, 'L')},
        {L"docs\\2024\\q1\\report.xls", "report"},
        {L"hidden.dat", "hidden file", FILE_ATTRIBUTE_HIDDEN},
        {L".config\\settings.ini", "[a]\nb=1"},
        {L"music\\track 01.ogg", std::string(30000, 'm')},
        {L"zeta.txt", "last"},
    };
}

// What the user saw when the program started again.
struct Restart {
    std::wstring question;
    std::vector<std::wstring> buttons;
    std::wstring result;  // the message after the choice, if any
    std::optional<DWORD> exitCode;
};

// Starts the shipped program, answers the first box with `button`, the message
// that follows with OK, and closes the relocation dialog that opens after.
// With `shot`, screenshots of the question and of the result are saved under that
// name.
Restart StartAgainAndChoose(int button, bool expectResult, const wchar_t* shot = nullptr) {
    Restart seen;
    auto app = AppProcess::StartDirshift(L"/create");
    if (!app) return seen;
    HWND box = app->WaitForDialog(L"Dirshift", 20000);
    if (box == nullptr) return seen;
    seen.question = BoxText(box);
    for (int id = PB_IDCUSTOM1; id <= PB_IDCUSTOM4; ++id) {
        if (::GetDlgItem(box, id) != nullptr) seen.buttons.push_back(BoxButtonText(box, id));
    }
    if (shot != nullptr) SaveScreenshot(std::wstring(shot) + L"-question");
    PressButton(box, button);
    WaitUntil([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }, 10000);
    if (expectResult) {
        HWND result = app->WaitForDialog(L"Dirshift", 60000);
        if (result == nullptr) return seen;
        seen.result = BoxText(result);
        if (shot != nullptr) SaveScreenshot(std::wstring(shot) + L"-result");
        PressButton(result, IDOK);
        WaitUntil([&] { return !::IsWindow(result) || !::IsWindowVisible(result); }, 10000);
    }
    HWND dialog = app->WaitForDialog(kRelocationCaption, 20000);
    if (dialog != nullptr) PressButton(dialog, IDCANCEL);
    seen.exitCode = app->WaitForExit(20000);
    return seen;
}

class RecoveryEndToEnd : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(store_.Remove()); }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"DIRSHIFT_TEST_STOP_AT", nullptr);
        EXPECT_TRUE(store_.Remove());
    }

    bool JournalLeft() const {
        RelocationJournal journal;
        return store_.Read(journal) != JournalStore::ReadResult::None;
    }

    // Relocates with the program that stops itself at `stopAt`.
    void CutShort(const wchar_t* stopAt, const std::wstring& target) {
        // A roll back follows a move that failed after it had moved the files.
        const bool rollBack = std::wstring(stopAt).compare(0, 12, L"rolling-back") == 0;
        ::SetEnvironmentVariableW(L"DIRSHIFT_TEST_STOP_AT", stopAt);
        if (rollBack) ::SetEnvironmentVariableW(L"DIRSHIFT_TEST_FAIL_CALL", L"shell move:1+");
        RelocationSession session(source_, target, L"", StoppingExePath());
        ::SetEnvironmentVariableW(L"DIRSHIFT_TEST_STOP_AT", nullptr);
        ::SetEnvironmentVariableW(L"DIRSHIFT_TEST_FAIL_CALL", nullptr);
        ASSERT_TRUE(session.started());
        session.PressOk();
        if (rollBack) {
            EXPECT_EQ(session.Answer(IDOK), std::optional<std::wstring>(kMoveFailed));
        }
        EXPECT_EQ(session.app().WaitForExit(60000), std::optional<DWORD>(kStoppedExitCode));
        EXPECT_TRUE(session.app().WaitForDebugLine(std::wstring(L"Dirshift test: stopped at ") + stopAt, 1000));
        ASSERT_TRUE(JournalLeft());
    }

    void ExpectRelocated(const std::wstring& target, const TreeSnapshot& expected) {
        EXPECT_EQ(SnapshotTree(target), expected) << "destination";
        EXPECT_EQ(OnDiskJunctionTarget(source_), std::optional<std::wstring>(L"\\??\\" + FullPath(target)));
        EXPECT_EQ(SnapshotTree(source_), expected) << "through the old path";
    }

    void ExpectMovedBack(const std::wstring& target, const TreeSnapshot& expected) {
        EXPECT_EQ(SnapshotTree(source_), expected) << "source";
        EXPECT_FALSE(OnDiskJunctionTarget(source_).has_value());
        EXPECT_TRUE(IsFolder(source_));
        EXPECT_TRUE(SnapshotTree(target).empty()) << "destination";
    }

    JournalStore store_ = JournalStore::ForCurrentUser();
    ScratchFolder targetParent_{kSecondDrive};
    ScratchFolder plainParent_{kPlainDrive};
    ScratchFolder sourceParent_{kNtfsDrive};
    std::wstring source_ = sourceParent_ / L"Games";
};

// Two Dirshifts at once. While one relocation is under way (paused with its
// journal written and its lock held), a second program started does not offer to
// recover it, and a relocation in another process is refused before anything
// changes; the first then ends as if it had been alone.
TEST_F(RecoveryEndToEnd, ASecondDirshiftLeavesARunningRelocationAlone) {
    const std::wstring target = targetParent_ / L"Games moved";
    MakeTree(source_, UserTree());
    const TreeSnapshot before = SnapshotTree(source_);
    UniqueHandle resume(::CreateEventW(nullptr, TRUE, FALSE, L"DirshiftTestResume"));
    ASSERT_TRUE(resume);

    ::SetEnvironmentVariableW(L"DIRSHIFT_TEST_PAUSE_AT", L"moved");
    RelocationSession first(source_, target, L"", StoppingExePath());
    ::SetEnvironmentVariableW(L"DIRSHIFT_TEST_PAUSE_AT", nullptr);
    ASSERT_TRUE(first.started());
    first.PressOk();
    ASSERT_TRUE(first.app().WaitForDebugLine(L"Dirshift test: paused at moved", 30000));

    {
        auto second = AppProcess::StartDirshift(L"/create");
        ASSERT_TRUE(second);
        HWND box = second->WaitForDialog(L"Dirshift", 20000);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(BoxText(box), TextOf(M::RecoveryBusy, L"", L"", store_.path()));
        SaveScreenshot(L"recovery-busy");
        PressButton(box, IDOK);
        HWND dialog = second->WaitForDialog(kRelocationCaption, 20000);
        ASSERT_NE(dialog, nullptr) << "the face opens, with nothing else asked";
        PressButton(dialog, IDCANCEL);
        EXPECT_EQ(second->WaitForExit(20000), std::optional<DWORD>(2u));
    }

    ScratchFolder otherParent{kNtfsDrive};
    const std::wstring other = otherParent / L"Other";
    MakeTree(other, {{L"a.txt", "a"}});
    RecordingObserver observer;
    RelocationRequest request;
    request.source = other;
    request.target = targetParent_ / L"Other moved";
    EXPECT_EQ(RunRelocation(request, observer), RelocationResult::NotStarted);
    EXPECT_EQ(observer.heard, std::vector<M>{M::OperationRunning});
    EXPECT_TRUE(IsFolder(other));
    EXPECT_FALSE(PathExists(targetParent_ / L"Other moved"));
    EXPECT_TRUE(JournalLeft()) << "the first one's journal is untouched";

    ::SetEvent(resume.get());
    EXPECT_EQ(first.Answer(IDOK), std::optional<std::wstring>(TextOf(M::Completed, source_, target)));
    EXPECT_EQ(first.app().WaitForExit(20000), std::optional<DWORD>(0u));
    ExpectRelocated(target, before);
    EXPECT_FALSE(JournalLeft());
}

struct KillPoint {
    const wchar_t* stopAt;
    RelocationMessage told;
    bool acrossFileSystems;  // a destination on T:, where the files are copied and proven first
    bool finishOnly;         // past the swap there is no way back
};

const KillPoint kKillPoints[] = {
    {L"moving", M::RecoveryNothingMoved, false, false},
    {L"moving-partly", M::RecoveryPartlyMoved, false, false},
    {L"moved", M::RecoveryAllMoved, false, false},
    {L"source-removed", M::RecoverySourceRemoved, false, false},
    {L"junction-made", M::RecoveryJunctionMade, false, false},
    {L"rolling-back-partly", M::RecoveryRollingBack, false, false},
    {L"copying", M::RecoveryCopyCutShort, true, false},
    {L"copying-partly", M::RecoveryCopyCutShort, true, false},
    {L"verified", M::RecoveryCopyCutShort, true, false},
    {L"swapped-aside", M::RecoveryCopySwapCutShort, true, false},
};

// Past the swap there is no way back: only finishing is offered.
const KillPoint kKillPointsPastTheSwap[] = {
    {L"swapped", M::RecoveryDeletingSource, true, true},
    {L"deleting-source-partly", M::RecoveryDeletingSource, true, true},
};

class KilledAtAPhase : public RecoveryEndToEnd,
                       public ::testing::WithParamInterface<std::tuple<KillPoint, bool>> {};

TEST_P(KilledAtAPhase, TheRecoveryDescribesTheDiskAndEndsWhole) {
    const KillPoint point = std::get<0>(GetParam());
    const bool finish = std::get<1>(GetParam());
    const std::wstring target = (point.acrossFileSystems ? plainParent_ : targetParent_) / L"Games moved";
    const std::wstring aside = FullPath(source_) + L".moved-by-dirshift";
    MakeTree(source_, UserTree());
    const TreeSnapshot before = SnapshotTree(source_);

    CutShort(point.stopAt, target);
    if (point.acrossFileSystems) {
        // Every original is whole somewhere until its copy is proven: in the
        // source, or in the source renamed aside.
        const std::wstring original = PathExists(aside) ? aside : source_;
        if (std::wstring(point.stopAt) != L"deleting-source-partly") {
            EXPECT_EQ(SnapshotTree(original), before) << "the original after the kill";
        }
    } else {
        const TreeSnapshot split = Union(SnapshotTree(source_), SnapshotTree(target));
        EXPECT_EQ(split, before) << "each file in one of the two folders after the kill";
    }

    const Restart seen = StartAgainAndChoose(finish ? PB_IDCUSTOM1 : PB_IDCUSTOM2, true);
    EXPECT_EQ(seen.question, TextOf(point.told, FullPath(source_), FullPath(target), point.acrossFileSystems ? aside : L""));
    const std::vector<std::wstring> finishOnly = {L"&Finish", L"Decide &later"};
    const std::vector<std::wstring> bothWays = {L"&Finish", L"Move &back", L"Decide &later"};
    EXPECT_EQ(seen.buttons, point.finishOnly ? finishOnly : bothWays);
    if (finish) {
        EXPECT_EQ(seen.result, TextOf(M::Completed, FullPath(source_), FullPath(target)));
        ExpectRelocated(target, before);
    } else {
        EXPECT_EQ(seen.result, L"Files restored.");
        ExpectMovedBack(target, before);
    }
    EXPECT_FALSE(PathExists(aside)) << "nothing is left beside the old path";
    EXPECT_EQ(seen.exitCode, std::optional<DWORD>(2u));
    EXPECT_FALSE(JournalLeft());
}

std::string KillPointName(const ::testing::TestParamInfo<std::tuple<KillPoint, bool>>& info) {
    std::string name;
    for (const wchar_t* c = std::get<0>(info.param).stopAt; *c != 0; ++c) {
        if (*c != L'-') name += static_cast<char>(*c);
    }
    return name + (std::get<1>(info.param) ? "_Finish" : "_MoveBack");
}

INSTANTIATE_TEST_SUITE_P(EveryPhase, KilledAtAPhase,
                         ::testing::Combine(::testing::ValuesIn(kKillPoints), ::testing::Bool()), KillPointName);
INSTANTIATE_TEST_SUITE_P(PastTheSwap, KilledAtAPhase,
                         ::testing::Combine(::testing::ValuesIn(kKillPointsPastTheSwap), ::testing::Values(true)),
                         KillPointName);

// A move back killed at each of its steps, on the same volume and onto another
// file system. The first button finishes the move back (every file at the old
// path, a plain folder; the emptied folder gone), the second undoes it (every file
// in the folder, the junction back with its very bytes, read from Linux).
// Onto another file system the files are copied back first: until the copy takes
// the junction's place, every original stays whole; past that, only finishing is
// offered.
struct MoveBackKillPoint {
    const wchar_t* stopAt;
    RelocationMessage told;
    bool otherFileSystem;
    bool finishOnly = false;
};

const MoveBackKillPoint kMoveBackKillPoints[] = {
    {L"back-junction-stands", M::RecoveryMoveBackNotStarted, false},
    {L"back-junction-gone", M::RecoveryMoveBackJunctionGone, false},
    {L"back-partly", M::RecoveryMoveBackPartly, false},
    {L"back-all", M::RecoveryMoveBackAllBack, false},
    {L"back-target-gone", M::RecoveryMoveBackAllBack, false},
    {L"back-copying", M::RecoveryMoveBackCopyCutShort, true},
    {L"back-copying-partly", M::RecoveryMoveBackCopyCutShort, true},
    {L"back-verified", M::RecoveryMoveBackCopyCutShort, true},
    {L"back-swapped-aside", M::RecoveryMoveBackCopySwapCutShort, true},
};

const MoveBackKillPoint kMoveBackKillPointsPastTheSwap[] = {
    {L"back-swapped", M::RecoveryMoveBackDeleting, true, true},
    {L"back-deleting-partly", M::RecoveryMoveBackDeleting, true, true},
};

class MoveBackKilled : public RecoveryEndToEnd,
                       public ::testing::WithParamInterface<std::tuple<MoveBackKillPoint, bool>> {};

TEST_P(MoveBackKilled, TheRecoveryDescribesTheDiskAndEndsWhole) {
    const MoveBackKillPoint point = std::get<0>(GetParam());
    const bool finish = std::get<1>(GetParam());
    const std::wstring target = (point.otherFileSystem ? plainParent_ : targetParent_) / L"Games moved";
    MakeTree(target, UserTree());
    const TreeSnapshot before = SnapshotTree(target);
    ASSERT_TRUE(CreateJunction(source_.c_str(), target.c_str()));
    const std::optional<Bytes> linkBytes = ReadNtfsReparseData(source_);
    ASSERT_TRUE(linkBytes.has_value());

    {
        ::SetEnvironmentVariableW(L"DIRSHIFT_TEST_STOP_AT", point.stopAt);
        auto app = AppProcess::Start(StoppingExePath(), L"\"" + StoppingExePath() + L"\" \"" + source_ + L"\" /restore");
        ::SetEnvironmentVariableW(L"DIRSHIFT_TEST_STOP_AT", nullptr);
        ASSERT_NE(app, nullptr);
        HWND question = app->WaitForDialog(L"Dirshift", 20000);
        ASSERT_NE(question, nullptr);
        PressButton(question, IDYES);
        EXPECT_EQ(app->WaitForExit(60000), std::optional<DWORD>(kStoppedExitCode));
        EXPECT_TRUE(app->WaitForDebugLine(std::wstring(L"Dirshift test: stopped at ") + point.stopAt, 1000));
    }
    ASSERT_TRUE(JournalLeft());
    const std::wstring copyPlace = FullPath(source_) + L".moving-back-by-dirshift";
    if (point.otherFileSystem) {
        // The originals stay whole until their copy stands at the old path.
        if (std::wstring(point.stopAt) != L"back-deleting-partly") {
            EXPECT_EQ(SnapshotTree(target), before);
        }
    } else {
        std::vector<std::wstring> twice;
        const bool junctionStands = ReadNtfsReparseData(source_).has_value();
        EXPECT_EQ(Union(junctionStands ? TreeSnapshot{} : SnapshotTree(source_), SnapshotTree(target), &twice), before)
            << "each file in one of the two folders after the kill";
        EXPECT_TRUE(twice.empty());
    }

    const bool shown = std::wstring(point.stopAt) == L"back-partly" && !point.otherFileSystem;
    const Restart seen = StartAgainAndChoose(finish ? PB_IDCUSTOM1 : PB_IDCUSTOM2, true,
                                             shown ? (finish ? L"move-back-recovery-finish" : L"move-back-recovery-undo")
                                                   : nullptr);
    EXPECT_EQ(seen.question,
              TextOf(point.told, FullPath(source_), FullPath(target), point.otherFileSystem ? copyPlace : L""));
    const std::vector<std::wstring> finishOnly = {L"&Finish", L"Decide &later"};
    const std::vector<std::wstring> bothWays = {L"&Finish", L"&Undo", L"Decide &later"};
    EXPECT_EQ(seen.buttons, point.finishOnly ? finishOnly : bothWays);
    EXPECT_FALSE(PathExists(copyPlace)) << "nothing is left beside the old path";
    if (finish) {
        EXPECT_EQ(seen.result, TextOf(M::MoveBackCompleted, FullPath(source_), FullPath(target)));
        EXPECT_FALSE(ReadNtfsReparseData(source_).has_value()) << "a plain folder, seen from Linux";
        EXPECT_EQ(SnapshotTree(source_), before);
        EXPECT_FALSE(PathExists(target));
    } else {
        EXPECT_EQ(seen.result, TextOf(M::MoveBackUndone, FullPath(source_), FullPath(target)));
        EXPECT_EQ(ReadNtfsReparseData(source_), linkBytes) << "the junction's very bytes";
        EXPECT_EQ(SnapshotTree(target), before);
    }
    EXPECT_EQ(seen.exitCode, std::optional<DWORD>(2u));
    EXPECT_FALSE(JournalLeft());
}

std::string MoveBackKillPointName(const ::testing::TestParamInfo<std::tuple<MoveBackKillPoint, bool>>& info) {
    std::string name;
    for (const wchar_t* c = std::get<0>(info.param).stopAt; *c != 0; ++c) {
        if (*c != L'-') name += static_cast<char>(*c);
    }
    if (std::get<0>(info.param).otherFileSystem) name += "_OtherFileSystem";
    return name + (std::get<1>(info.param) ? "_Finish" : "_Undo");
}

INSTANTIATE_TEST_SUITE_P(EveryStep, MoveBackKilled,
                         ::testing::Combine(::testing::ValuesIn(kMoveBackKillPoints), ::testing::Bool()),
                         MoveBackKillPointName);
INSTANTIATE_TEST_SUITE_P(PastTheSwap, MoveBackKilled,
                         ::testing::Combine(::testing::ValuesIn(kMoveBackKillPointsPastTheSwap), ::testing::Values(true)),
                         MoveBackKillPointName);

TEST_F(RecoveryEndToEnd, DecideLaterKeepsTheJournalAndChangesNothing) {
    const std::wstring target = targetParent_ / L"Games moved";
    MakeTree(source_, UserTree());
    CutShort(L"moving-partly", target);
    const TreeSnapshot sourceBefore = SnapshotTree(source_);
    const TreeSnapshot targetBefore = SnapshotTree(target);

    const Restart seen = StartAgainAndChoose(PB_IDCUSTOM3, false);
    EXPECT_EQ(seen.question, TextOf(M::RecoveryPartlyMoved, FullPath(source_), FullPath(target)));
    EXPECT_EQ(seen.exitCode, std::optional<DWORD>(2u));
    EXPECT_TRUE(JournalLeft());
    EXPECT_EQ(SnapshotTree(source_), sourceBefore);
    EXPECT_EQ(SnapshotTree(target), targetBefore);
    EXPECT_NE(seen.question.find(L"Some items are in the destination folder, the others are still in the source "
                                 L"folder."),
              std::wstring::npos);
}

TEST_F(RecoveryEndToEnd, ADamagedJournalIsReportedAndDiscardedWithNoFolderTouched) {
    MakeTree(source_, UserTree());
    const TreeSnapshot before = SnapshotTree(source_);
    RelocationJournal journal;
    journal.source = FullPath(source_);
    journal.target = FullPath(targetParent_ / L"Games moved");
    journal.entries = {L"readme.txt", L"docs"};
    ASSERT_TRUE(store_.Write(journal));
    // One character of the journal changed, as a torn write or a bad sector leaves it.
    {
        HANDLE file = ::CreateFileW(store_.path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ::SetFilePointer(file, 40, nullptr, FILE_BEGIN);
        DWORD written = 0;
        ::WriteFile(file, "X", 1, &written, nullptr);
        ::CloseHandle(file);
    }

    const Restart seen = StartAgainAndChoose(IDYES, false);
    EXPECT_EQ(seen.question, TextOf(M::RecoveryJournalDamaged, L"", L"", store_.path()));
    EXPECT_EQ(seen.exitCode, std::optional<DWORD>(2u));
    EXPECT_FALSE(JournalLeft());
    EXPECT_EQ(SnapshotTree(source_), before);
    EXPECT_FALSE(PathExists(targetParent_ / L"Games moved"));
}

TEST_F(RecoveryEndToEnd, AJournalWhoseFoldersVanishedIsReportedAndDiscarded) {
    MakeTree(sourceParent_.path(), {{L"bystander.txt", "not named by the journal"}});
    const TreeSnapshot before = SnapshotTree(sourceParent_.path());
    RelocationJournal journal;
    journal.source = FullPath(sourceParent_ / L"Gone");
    journal.target = FullPath(targetParent_ / L"Gone too");
    journal.entries = {L"readme.txt", L"docs"};
    journal.phase = JournalPhase::Moved;
    ASSERT_TRUE(store_.Write(journal));

    // "No" keeps it for later; "Yes" at the next start discards it.
    Restart seen = StartAgainAndChoose(IDNO, false);
    EXPECT_EQ(seen.question, TextOf(M::RecoveryFoldersGone, journal.source, journal.target));
    EXPECT_TRUE(JournalLeft());
    seen = StartAgainAndChoose(IDYES, false);
    EXPECT_EQ(seen.question, TextOf(M::RecoveryFoldersGone, journal.source, journal.target));
    EXPECT_EQ(seen.exitCode, std::optional<DWORD>(2u));
    EXPECT_FALSE(JournalLeft());
    EXPECT_EQ(SnapshotTree(sourceParent_.path()), before);
    EXPECT_FALSE(PathExists(journal.source));
    EXPECT_FALSE(PathExists(journal.target));
}

// Killed at a moment nobody chose, in a real move of many entries. Whatever the
// moment, the next start leads to one whole place.
TEST_F(RecoveryEndToEnd, KilledAtARandomMomentOfARealMove) {
    const std::wstring target = targetParent_ / L"Games moved";
    std::vector<TreeFile> tree;
    for (int i = 0; i < 150; ++i) {
        tree.push_back({L"entry " + std::to_wstring(i) + L"\\file.bin", std::string(2000 + i, 'a' + i % 26)});
        tree.push_back({L"file " + std::to_wstring(i) + L".txt", std::to_string(i)});
    }
    MakeTree(source_, tree);
    const TreeSnapshot before = SnapshotTree(source_);
    std::random_device seed;
    const unsigned delayMs = seed() % 400;
    const bool finish = seed() % 2 == 0;

    {
        RelocationSession session(source_, target);
        ASSERT_TRUE(session.started());
        session.PressOk();
        // The files start to move right after the journal is written; only its
        // name is looked at, so that the program's next write is never in the way.
        WaitUntil([&] { return PathExists(store_.path()); }, 60000);
        ::Sleep(delayMs);
        session.app().Kill();
        session.app().WaitForExit(20000);
    }
    const bool relocated = OnDiskJunctionTarget(source_).has_value();
    const TreeSnapshot inTarget = SnapshotTree(target);
    std::printf("Killed %u ms after the journal appeared: %zu of %zu files in the destination; choosing %s\n", delayMs,
                inTarget.size(), before.size(), finish ? "finish" : "move back");
    if (!relocated) {
        std::vector<std::wstring> twice;
        EXPECT_EQ(Union(SnapshotTree(source_), inTarget, &twice), before) << "each file in one of the two folders";
        EXPECT_TRUE(twice.empty());
    }

    if (!JournalLeft()) {
        // Killed before the journal was written (nothing moved) or after it was
        // removed (the relocation had ended).
        std::printf("No journal: the relocation had %s\n", relocated ? "ended" : "not started");
        if (relocated) {
            ExpectRelocated(target, before);
        } else {
            EXPECT_EQ(SnapshotTree(source_), before);
        }
        return;
    }
    const Restart seen = StartAgainAndChoose(finish ? PB_IDCUSTOM1 : PB_IDCUSTOM2, true);
    std::printf("The recovery said:\n%ls\n", seen.question.c_str());
    if (finish) {
        EXPECT_EQ(seen.result, TextOf(M::Completed, FullPath(source_), FullPath(target)));
        ExpectRelocated(target, before);
    } else {
        EXPECT_EQ(seen.result, L"Files restored.");
        ExpectMovedBack(target, before);
    }
    EXPECT_FALSE(JournalLeft());
}

}  // namespace
