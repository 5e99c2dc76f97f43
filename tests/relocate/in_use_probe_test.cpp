// The in-use probe: rename to the probe name and back, with the rename back
// retried, and a folder left under the probe name reported as such.
#include <gtest/gtest.h>

#include "engine/in_use_probe.h"
#include "engine/relocation_paths.h"
#include "tests/relocate/file_tree.h"

namespace {

using namespace relocation_testing;

// A scripted rename: the first call is the probe, the later ones rename back.
int RenameCalls = 0;
int RenameBackFailures = 0;  // how many renames back fail before one succeeds
bool ProbeFails = false;

BOOL WINAPI ScriptedRename(LPCWSTR, LPCWSTR) {
    ++RenameCalls;
    if (RenameCalls == 1) return ProbeFails ? FALSE : TRUE;
    return RenameCalls - 2 >= RenameBackFailures ? TRUE : FALSE;
}

TEST(InUseProbe, RenameBackIsRetriedAndAStuckFolderIsReported) {
    const struct {
        const char* name;
        bool probeFails;
        int renameBackFailures;
        ProbeOutcome outcome;
    } cases[] = {
        {"renamed and back", false, 0, ProbeOutcome::NotInUse},
        {"in use", true, 0, ProbeOutcome::InUse},
        {"back on the third try", false, 2, ProbeOutcome::NotInUse},
        {"never back", false, 1000, ProbeOutcome::StuckUnderProbeName},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RenameCalls = 0;
        ProbeFails = c.probeFails;
        RenameBackFailures = c.renameBackFailures;
        EXPECT_EQ(ProbeFolderInUse(L"C:\\Data", L"C:\\Data_abc_in_use_test", ScriptedRename), c.outcome);
        if (c.outcome == ProbeOutcome::InUse) {
            EXPECT_EQ(RenameCalls, 1) << "no rename back of what did not move";
        }
    }
}

TEST(InUseProbe, RealFolderComesBackUnderItsName) {
    ScratchFolder parent(TempRoot());
    const std::wstring source = parent / L"Data";
    MakeTree(source, {{L"a.txt", "a"}});
    EXPECT_EQ(ProbeFolderInUse(source, ProbeName(source)), ProbeOutcome::NotInUse);
    EXPECT_TRUE(PathExists(source + L"\\a.txt"));
    EXPECT_FALSE(PathExists(ProbeName(source)));
}

TEST(InUseProbe, FolderThatIsACurrentDirectoryIsInUse) {
    ScratchFolder parent(TempRoot());
    const std::wstring source = parent / L"Data";
    MakeTree(source, {{L"a.txt", "a"}});
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(source.c_str()));
    const ProbeOutcome outcome = ProbeFolderInUse(source, ProbeName(source));
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(outcome, ProbeOutcome::InUse);
    EXPECT_TRUE(PathExists(source + L"\\a.txt"));
}

}  // namespace
