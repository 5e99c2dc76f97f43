// A folder swapped for a junction to somewhere else at the moment the engine looks
// at it again, just before it acts: before the move, before the roll back, before
// the emptied source is removed. Whether the engine's hold on the folder refuses
// the swap or its check by identity sees it, nothing outside the two folders
// changes and every file is in exactly one place.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <string>
#include <vector>

#include "engine/disk_calls.h"
#include "engine/move_back.h"
#include "engine/relocation_engine.h"
#include "junction/junction.h"
#include "tests/driver/test_volumes.h"
#include "tests/relocate/file_tree.h"
#include "tests/relocate/recording_observer.h"
#include "tests/relocate/relocation_session.h"

namespace {

using namespace relocation_testing;
using namespace testing_driver;
using M = RelocationMessage;

const std::vector<TreeFile> kTree = {
    {L"readme.txt", "top"},
    {L"docs\\report.xls", std::string(7000, 'r')},
};
// What the junction put in the folder's place leads to: names the engine moves,
// so that a move through it would show.
const std::vector<TreeFile> kOutside = {
    {L"readme.txt", "not the user's"},
    {L"docs\\report.xls", "someone else's"},
    {L"other.dll", "outside"},
};

// The swap the seam makes: armed by one call, made at a later look at `path`.
struct Swap {
    DiskCall armedBy = DiskCall::SetSecurity;
    std::wstring armPath;
    std::wstring path;
    int look = 1;  // the how-manieth look at `path` after arming
    bool failMove = false;  // the shell's move fails before its work (a roll back follows)
    bool noHolds = false;   // as where the platform cannot hold a folder
    std::wstring outside;
    bool armed = false;
    int looks = 0;
    bool tried = false;
    bool made = false;
};
Swap* activeSwap = nullptr;

bool SamePath(const wchar_t* a, const std::wstring& b) {
    return a != nullptr && ::CompareStringOrdinal(a, -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

DiskFault SwapAtLook(DiskCall call, const wchar_t* path) {
    Swap& swap = *activeSwap;
    if (call == DiskCall::Hold && swap.noHolds) return {ERROR_NOT_SUPPORTED, false};
    if (call == DiskCall::ShellMove && swap.failMove && !swap.armed && swap.armedBy == DiskCall::ShellMove) {
        swap.armed = true;
        return {ERROR_SHARING_VIOLATION, false};
    }
    if (!swap.armed && call == swap.armedBy && (swap.armPath.empty() || SamePath(path, swap.armPath))) {
        swap.armed = true;
        return {};
    }
    if (swap.armed && !swap.tried && call == DiskCall::Identify && SamePath(path, swap.path) &&
        ++swap.looks == swap.look) {
        swap.tried = true;
        const std::wstring aside = swap.path + L" aside";
        if (::MoveFileW(swap.path.c_str(), aside.c_str())) {
            swap.made = ::CreateJunction(swap.path.c_str(), swap.outside.c_str());
        }
    }
    return {};
}

struct SwapCase {
    const char* moment;
    bool swapSource;  // else the destination
    DiskCall armedBy;
    bool armOnTarget;
    int look;
    bool failMove;
};

class FolderSwap : public ::testing::TestWithParam<std::tuple<SwapCase, bool>> {};

TEST_P(FolderSwap, NothingOutsideChangesAndEveryFileIsOnce) {
    const SwapCase c = std::get<0>(GetParam());
    const bool holds = std::get<1>(GetParam());
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    ScratchFolder outsideParent(kNtfsDrive);
    const std::wstring source = scratch / L"Games";
    const std::wstring target = elsewhere / L"Games";
    const std::wstring outside = outsideParent / L"Protected";
    MakeTree(source, kTree);
    MakeTree(outside, kOutside);
    const TreeSnapshot before = SnapshotTree(source);
    const TreeSnapshot outsideBefore = SnapshotTree(outside);

    Swap swap;
    swap.armedBy = c.armedBy;
    swap.armPath = c.armOnTarget ? target : std::wstring();
    swap.path = c.swapSource ? source : target;
    swap.look = c.look;
    swap.failMove = c.failMove;
    swap.noHolds = !holds;
    swap.outside = FullPath(outside);
    activeSwap = &swap;
    SetDiskFaultSource(SwapAtLook);
    RecordingObserver observer;
    ScratchFolder journalFolder(TempRoot());
    const JournalStore store(journalFolder / L"store");
    RelocationRequest request;
    request.source = source;
    request.target = target;
    request.journal = &store;
    const RelocationResult result = RunRelocation(request, observer);
    SetDiskFaultSource(nullptr);
    activeSwap = nullptr;

    std::string heard;
    for (M message : observer.heard) heard += std::to_string(static_cast<int>(message)) + " ";
    ASSERT_TRUE(swap.tried) << c.moment << ": the moment was not reached; heard " << heard << " result "
                            << static_cast<int>(result);
    EXPECT_EQ(SnapshotTree(outside), outsideBefore) << "nothing outside moved or changed";
    const std::wstring realSource = swap.made && c.swapSource ? source + L" aside" : source;
    const std::wstring realTarget = swap.made && !c.swapSource ? target + L" aside" : target;
    TreeSnapshot sourceNow = SnapshotTree(realSource);
    // The relocation may have ended with the old path a junction to the target.
    if (!swap.made && result == RelocationResult::Completed) sourceNow.clear();
    std::vector<std::wstring> twice;
    EXPECT_EQ(Union(sourceNow, SnapshotTree(realTarget), &twice), before) << c.moment;
    EXPECT_TRUE(twice.empty()) << c.moment;
    // Without a hold the swap is made, and only the check by identity stands.
    if (!holds) {
        EXPECT_TRUE(swap.made) << c.moment;
    }
    if (swap.made) {
        EXPECT_NE(result, RelocationResult::Completed) << c.moment << ": a swapped folder is never taken as done";
        ASSERT_FALSE(observer.heard.empty());
        const M last = observer.heard.back();
        EXPECT_TRUE(last == M::FolderReplaced || last == M::NotRestored) << c.moment << " " << static_cast<int>(last);
        EXPECT_TRUE(::RemoveJunction(swap.path.c_str()));
    }
    std::printf("%s%s: swap %s\n", c.moment, holds ? "" : " (no hold)",
                swap.made ? "made, seen by the check" : "refused by the engine's hold");
}

const SwapCase kSwapCases[] = {
    {"source before the move", true, DiskCall::SetSecurity, true, 1, false},
    {"destination before the move", false, DiskCall::SetSecurity, true, 2, false},
    {"destination before the roll back", false, DiskCall::ShellMove, false, 1, true},
    {"source before its removal", true, DiskCall::ShellMove, false, 1, false},
};

INSTANTIATE_TEST_SUITE_P(EachMoment, FolderSwap, ::testing::Combine(::testing::ValuesIn(kSwapCases), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<SwapCase, bool>>& info) {
                             std::string name;
                             for (const char* c = std::get<0>(info.param).moment; *c != 0; ++c) {
                                 if (*c != ' ') name += *c;
                             }
                             return name + (std::get<1>(info.param) ? "_Held" : "_NotHeld");
                         });

// The move back: the folder a junction points to, swapped after the question (which
// may stay open for as long as the user likes) or after the junction made way for
// a plain folder, just before the files move.
struct MoveBackSwapCase {
    const char* moment;
    DiskCall armedBy;
    bool armOnJunction;  // armed by a call on the junction's path, else on the target's
    int look;
};

class MoveBackFolderSwap : public ::testing::TestWithParam<std::tuple<MoveBackSwapCase, bool>> {};

TEST_P(MoveBackFolderSwap, NothingOutsideChangesAndEveryFileIsOnce) {
    const MoveBackSwapCase c = std::get<0>(GetParam());
    const bool holds = std::get<1>(GetParam());
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    ScratchFolder outsideParent(kNtfsDrive);
    const std::wstring junction = scratch / L"Games";
    const std::wstring target = elsewhere / L"Games";
    const std::wstring outside = outsideParent / L"Protected";
    MakeTree(target, kTree);
    MakeTree(outside, kOutside);
    ASSERT_TRUE(::CreateJunction(junction.c_str(), target.c_str()));
    const TreeSnapshot before = SnapshotTree(target);
    const TreeSnapshot outsideBefore = SnapshotTree(outside);

    Swap swap;
    swap.armedBy = c.armedBy;
    swap.armPath = c.armOnJunction ? junction : target;
    swap.path = target;
    swap.look = c.look;
    swap.noHolds = !holds;
    swap.outside = FullPath(outside);
    activeSwap = &swap;
    ScratchFolder journalFolder(TempRoot());
    const JournalStore store(journalFolder / L"store");
    RecordingObserver observer;
    MoveBackRequest request;
    request.junction = junction;
    request.journal = &store;
    SetDiskFaultSource(SwapAtLook);
    const MoveBackResult result = RunMoveBack(request, observer);
    SetDiskFaultSource(nullptr);
    activeSwap = nullptr;

    ASSERT_TRUE(swap.tried) << c.moment << ": the moment was not reached";
    if (!holds) {
        EXPECT_TRUE(swap.made) << c.moment;
    }
    EXPECT_EQ(SnapshotTree(outside), outsideBefore) << "nothing outside moved or changed";
    const std::wstring realTarget = swap.made ? target + L" aside" : target;
    const bool junctionStands = ::GetFileAttributesW(junction.c_str()) != INVALID_FILE_ATTRIBUTES &&
                                (::GetFileAttributesW(junction.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const TreeSnapshot atOldPath = junctionStands ? TreeSnapshot() : SnapshotTree(junction);
    std::vector<std::wstring> twice;
    EXPECT_EQ(Union(atOldPath, SnapshotTree(realTarget), &twice), before) << c.moment;
    EXPECT_TRUE(twice.empty()) << c.moment;
    if (swap.made) {
        EXPECT_NE(result, MoveBackResult::Completed) << c.moment;
        ASSERT_FALSE(observer.heard.empty());
        const M last = observer.heard.back();
        EXPECT_TRUE(last == M::FolderReplaced || last == M::MoveBackNotRestored)
            << c.moment << " " << static_cast<int>(last);
    } else {
        EXPECT_EQ(result, MoveBackResult::Completed) << c.moment;
    }
    // The junction first: once the swap's junction is gone, it would dangle, and
    // Wine no longer finds a dangling junction.
    if (junctionStands) {
        EXPECT_TRUE(::RemoveJunction(junction.c_str()));
    }
    if (swap.made) {
        EXPECT_TRUE(::RemoveJunction(target.c_str()));
    }
    std::printf("move back, %s%s: swap %s\n", c.moment, holds ? "" : " (no hold)",
                swap.made ? "made, seen by the check" : "refused by the engine's hold");
}

const MoveBackSwapCase kMoveBackSwapCases[] = {
    // The question is asked after the junction's folder was first looked at: the
    // next look is the check after it.
    {"after the question", DiskCall::ReadLink, true, 2},
    {"before the files move", DiskCall::MakeFolder, true, 1},
};

INSTANTIATE_TEST_SUITE_P(EachMoment, MoveBackFolderSwap,
                         ::testing::Combine(::testing::ValuesIn(kMoveBackSwapCases), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<MoveBackSwapCase, bool>>& info) {
                             std::string name;
                             for (const char* c = std::get<0>(info.param).moment; *c != 0; ++c) {
                                 if (*c != ' ') name += *c;
                             }
                             return name + (std::get<1>(info.param) ? "_Held" : "_NotHeld");
                         });

}  // namespace
