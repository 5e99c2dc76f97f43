#include "engine/in_use_probe.h"

#include "base/debug_log.h"
#include "engine/disk_calls.h"
#include "engine/folder_move.h"

namespace {

constexpr int kRenameBackAttempts = 10;
constexpr DWORD kRenameBackPauseMs = 200;

// A rename reported as failed may have been done all the same (its reply lost): the
// folder then stands under the new name and the old one is free.
bool MovedAllTheSame(const std::wstring& from, const std::wstring& to) {
    if (disk::Attributes(to) == INVALID_FILE_ATTRIBUTES) return false;
    return disk::Attributes(from) == INVALID_FILE_ATTRIBUTES && IsNotFoundError(::GetLastError());
}

}  // namespace

ProbeOutcome ProbeFolderInUse(const std::wstring& source, const std::wstring& probe, RenameFunction rename) {
    const bool renamed = rename(source.c_str(), probe.c_str()) != FALSE;
    // The rename failed, so the probe counts as failed; a folder moved nonetheless
    // is still taken back first.
    const ProbeOutcome backInPlace = renamed ? ProbeOutcome::NotInUse : ProbeOutcome::InUse;
    if (!renamed && !MovedAllTheSame(source, probe)) return ProbeOutcome::InUse;
    // Whatever briefly holds the renamed folder (an indexer, a virus scanner) is
    // given time to let go before the folder counts as stuck.
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kRenameBackAttempts; ++attempt) {
        if (rename(probe.c_str(), source.c_str())) return backInPlace;
        error = ::GetLastError();
        if (MovedAllTheSame(probe, source)) return backInPlace;
        ::Sleep(kRenameBackPauseMs);
    }
    DebugErrorLine((L"Tressel.Error: the folder stays under the name " + probe).c_str(), error);
    return ProbeOutcome::StuckUnderProbeName;
}
