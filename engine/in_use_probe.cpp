#include "engine/in_use_probe.h"

#include "base/debug_log.h"

namespace {

constexpr int kRenameBackAttempts = 10;
constexpr DWORD kRenameBackPauseMs = 200;

}  // namespace

ProbeOutcome ProbeFolderInUse(const std::wstring& source, const std::wstring& probe, RenameFunction rename) {
    if (!rename(source.c_str(), probe.c_str())) return ProbeOutcome::InUse;
    // Whatever briefly holds the renamed folder (an indexer, a virus scanner) is
    // given time to let go before the folder counts as stuck.
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kRenameBackAttempts; ++attempt) {
        if (rename(probe.c_str(), source.c_str())) return ProbeOutcome::NotInUse;
        error = ::GetLastError();
        ::Sleep(kRenameBackPauseMs);
    }
    DebugErrorLine((L"Tressel.Error: the folder stays under the name " + probe).c_str(), error);
    return ProbeOutcome::StuckUnderProbeName;
}
