// dirshift.exe for the tests only: the program that stops itself dead at the
// relocation phase named by the environment variable DIRSHIFT_TEST_STOP_AT, as a
// crash or a power cut there would, with no clean-up of any kind. The shipped
// program never sets the engine's phase hook.
//
//   moving                the journal is written, nothing has moved yet
//   moving-partly         ... and the first half of the entries has moved
//   moved                 every entry is in the destination
//   source-removed        ... and the emptied source folder is gone, no junction yet
//   junction-made         the junction stands, the journal is not yet removed
//   rolling-back          a failed move is about to be undone
//   rolling-back-partly   ... and the first half of the entries is back
//
// and of one between drives, by copy:
//
//   copying                 the journal is written, nothing is copied yet
//   copying-partly          ... the first half of the entries is copied
//   verified                every entry is copied and proven, the source untouched
//   swapped-aside           ... and the source is renamed aside, no junction yet
//   swapped                 the junction stands, the source aside is whole
//   deleting-source-partly  ... the first half of the source aside is deleted
//
// and of a move back (a junction's files on their way back into its place):
//
//   back-junction-stands  the journal is written, the junction still stands
//   back-junction-gone    ... the junction is removed, nothing has moved yet
//   back-partly           ... a plain folder stands there, the first half is in it
//   back-all              ... every entry is in it, the emptied folder still stands
//   back-target-gone      ... and the emptied folder is removed, the journal not yet
//
// and of a move back between drives, by copy:
//
//   back-copying              the journal is written, nothing is copied yet
//   back-copying-partly       ... the first half of the entries is copied beside the junction
//   back-verified             the copy is proven, the junction still stands
//   back-swapped-aside        ... and the junction is removed, the copy not in its place yet
//   back-swapped              the copy stands at the old path, the folder is whole
//   back-deleting-partly      ... and the first half of its entries is deleted
//
// With DIRSHIFT_TEST_PAUSE_AT naming a relocation phase instead, it waits there
// (its journal written, its lock held) until the named event "DirshiftTestResume"
// is set, or a minute has passed, and then goes on as usual; the debug line
// "Dirshift test: paused at <phase>" tells that it waits.
//
// It also fails one disk call of the engine, as a disk or another program would,
// when DIRSHIFT_TEST_FAIL_CALL names it: "<call>:<n>" fails the n-th call of that
// kind (its name as DiskCallName gives it, "move", "make folder", ...);
// "<call>:<n>:<text>" counts only the calls whose path contains <text>, so that a
// journal's own renames, say, never take the count. The failed call reports a
// sharing violation and does nothing, or, with "+" after <n>, does its work and
// then reports it; the debug line "Dirshift test: failed <call> #<n> on <path>"
// tells that it happened.
#include <windows.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <vector>

#include "app/entry.h"
#include "engine/copy_across.h"
#include "engine/disk_calls.h"
#include "engine/folder_move.h"
#include "engine/journal_keeper.h"
#include "engine/tree_copy.h"
#include "junction/junction.h"

namespace {

std::wstring Setting(const wchar_t* name) {
    wchar_t value[64] = L"";
    const DWORD length = ::GetEnvironmentVariableW(name, value, 64);
    return length > 0 && length < 64 ? value : L"";
}

std::wstring StopAt() { return Setting(L"DIRSHIFT_TEST_STOP_AT"); }

constexpr DWORD kLongestPauseMs = 60000;

void Pause(const std::wstring& pauseAt) {
    HANDLE resume = ::CreateEventW(nullptr, TRUE, FALSE, L"DirshiftTestResume");
    ::OutputDebugStringW((L"Dirshift test: paused at " + pauseAt).c_str());
    if (resume != nullptr) {
        ::WaitForSingleObject(resume, kLongestPauseMs);
        ::CloseHandle(resume);
    }
}

// Moves the first half of `journal`'s entries from `from` to `to`, as a move cut
// short part-way leaves them.
void MoveFirstHalf(const RelocationJournal& journal, const std::wstring& from, const std::wstring& to) {
    ::CreateDirectoryW(to.c_str(), nullptr);
    for (size_t i = 0; i < (journal.entries.size() + 1) / 2; ++i) {
        const std::wstring name = L"\\" + journal.entries[i];
        ::MoveFileExW((from + name).c_str(), (to + name).c_str(), MOVEFILE_COPY_ALLOWED);
    }
}

std::vector<std::wstring> FirstHalf(const RelocationJournal& journal) {
    std::vector<std::wstring> names = journal.entries;
    names.resize((names.size() + 1) / 2);
    return names;
}

// Copies the first half of the entries, as a copy cut short part-way leaves them.
void CopyFirstHalf(const RelocationJournal& journal) {
    ::CreateDirectoryW(journal.target.c_str(), nullptr);
    TreeCopyRequest copy;
    copy.source = journal.source;
    copy.target = journal.target;
    copy.names = FirstHalf(journal);
    (void)CopyTree(copy);
}

// Deletes the first half of the entries of the source renamed aside.
void DeleteFirstHalf(const RelocationJournal& journal) {
    std::wstring left;
    (void)RemoveCopiedEntries(journal.aside, FirstHalf(journal), left);
}

void Stop(const std::wstring& stopAt) {
    ::OutputDebugStringW((L"Dirshift test: stopped at " + stopAt).c_str());
    ::TerminateProcess(::GetCurrentProcess(), 99);
}

// The move back's own steps, done up to the named point, as a move back cut short
// there leaves the disk: `count` of the entries moved back.
void StopMoveBack(const std::wstring& stopAt, const RelocationJournal& journal) {
    if (stopAt.compare(0, 5, L"back-") != 0) return;
    if (stopAt != L"back-junction-stands") {
        (void)::RemoveJunction(journal.source.c_str());
        if (stopAt != L"back-junction-gone") {
            ::CreateDirectoryW(journal.source.c_str(), nullptr);
            std::vector<std::wstring> names = journal.entries;
            if (stopAt == L"back-partly") names.resize((names.size() + 1) / 2);
            (void)MoveEntriesBack(journal.target, journal.source, names);
            if (stopAt == L"back-target-gone") ::RemoveDirectoryW(journal.target.c_str());
        }
    }
    Stop(stopAt);
}

// A move back by copy, stopped at the named point.
void StopCopyBack(JournalPhase phase, const std::wstring& stopAt, const RelocationJournal& journal) {
    const bool stop = (phase == JournalPhase::Copying && (stopAt == L"back-copying" || stopAt == L"back-copying-partly")) ||
                      (phase == JournalPhase::Verified && stopAt == L"back-verified") ||
                      (phase == JournalPhase::Swapped && stopAt == L"back-swapped") ||
                      (phase == JournalPhase::DeletingSource && stopAt == L"back-deleting-partly");
    if (!stop) return;
    if (stopAt == L"back-copying-partly") {
        ::CreateDirectoryW(journal.aside.c_str(), nullptr);
        TreeCopyRequest copy;
        copy.source = journal.target;
        copy.target = journal.aside;
        copy.names = FirstHalf(journal);
        (void)CopyTree(copy);
    }
    if (stopAt == L"back-deleting-partly") {
        std::wstring left;
        (void)RemoveCopiedEntries(journal.target, FirstHalf(journal), left);
    }
    Stop(stopAt);
}

void StopHere(JournalPhase phase, const RelocationJournal& journal) {
    static const std::wstring stopAt = StopAt();
    if (journal.kind == JournalKind::MoveBack) {
        if (phase == JournalPhase::RollingBack) StopMoveBack(stopAt, journal);
        if (IsCopyPhase(phase)) StopCopyBack(phase, stopAt, journal);
        return;
    }
    struct Point {
        JournalPhase phase;
        const wchar_t* name;
    };
    const Point points[] = {
        {JournalPhase::Moving, L"moving"},           {JournalPhase::Moving, L"moving-partly"},
        {JournalPhase::Moved, L"moved"},             {JournalPhase::SourceRemoved, L"source-removed"},
        {JournalPhase::JunctionMade, L"junction-made"}, {JournalPhase::RollingBack, L"rolling-back"},
        {JournalPhase::RollingBack, L"rolling-back-partly"},
        {JournalPhase::Copying, L"copying"},         {JournalPhase::Copying, L"copying-partly"},
        {JournalPhase::Verified, L"verified"},
        {JournalPhase::Swapped, L"swapped"},         {JournalPhase::DeletingSource, L"deleting-source-partly"},
    };
    static const std::wstring pauseAt = Setting(L"DIRSHIFT_TEST_PAUSE_AT");
    for (const Point& point : points) {
        if (point.phase == phase && pauseAt == point.name) Pause(pauseAt);
    }
    for (const Point& point : points) {
        if (point.phase != phase || stopAt != point.name) continue;
        if (stopAt == L"moving-partly") MoveFirstHalf(journal, journal.source, journal.target);
        if (stopAt == L"rolling-back-partly") MoveFirstHalf(journal, journal.target, journal.source);
        if (stopAt == L"source-removed") ::RemoveDirectoryW(journal.source.c_str());
        if (stopAt == L"copying-partly") CopyFirstHalf(journal);
        if (stopAt == L"deleting-source-partly") DeleteFirstHalf(journal);
        Stop(stopAt);
    }
}

// ---- a failing disk call ----------------------------------------------------------

struct FailingCall {
    DiskCall call = DiskCall::Move;
    long ordinal = 0;       // 0: no call fails
    std::wstring pathPart;  // empty: every call of the kind counts
    bool afterWork = false;  // the call does its work before it reports the failure
};

// Read once, before the engine makes any call; the calls themselves may come from
// several threads, hence the atomic count.
FailingCall failing;
std::atomic<long> callsCounted{0};

bool ParseFailingCall(const std::wstring& text, FailingCall& parsed) {
    const size_t firstColon = text.find(L':');
    if (firstColon == std::wstring::npos) return false;
    const std::wstring name = text.substr(0, firstColon);
    const size_t secondColon = text.find(L':', firstColon + 1);
    const std::wstring number = text.substr(firstColon + 1, secondColon == std::wstring::npos
                                                                ? std::wstring::npos
                                                                : secondColon - firstColon - 1);
    wchar_t* end = nullptr;
    parsed.ordinal = std::wcstol(number.c_str(), &end, 10);
    parsed.afterWork = *end == L'+';
    if (parsed.afterWork) ++end;
    if (number.empty() || *end != L'\0' || parsed.ordinal < 1) return false;
    if (secondColon != std::wstring::npos) parsed.pathPart = text.substr(secondColon + 1);
    // The kinds are numbered from 0 on; past the last one the name is "?".
    for (int kind = 0;; ++kind) {
        const std::wstring known = DiskCallName(static_cast<DiskCall>(kind));
        if (known == L"?") return false;
        if (name == known) {
            parsed.call = static_cast<DiskCall>(kind);
            return true;
        }
    }
}

DiskFault FailNamedCall(DiskCall call, const wchar_t* path) {
    if (call != failing.call) return {};
    const std::wstring where = path != nullptr ? path : L"";
    if (!failing.pathPart.empty() && where.find(failing.pathPart) == std::wstring::npos) return {};
    if (callsCounted.fetch_add(1) + 1 != failing.ordinal) return {};
    ::OutputDebugStringW((L"Dirshift test: failed " + std::wstring(DiskCallName(call)) + L" #" +
                          std::to_wstring(failing.ordinal) + L" on " + where)
                             .c_str());
    return {ERROR_SHARING_VIOLATION, failing.afterWork};
}

void InstallFailingCall() {
    wchar_t value[512] = L"";
    const DWORD length = ::GetEnvironmentVariableW(L"DIRSHIFT_TEST_FAIL_CALL", value, 512);
    if (length == 0) return;
    if (length >= 512 || !ParseFailingCall(value, failing)) {
        // A test that asked for a fault must not pass because none happened.
        ::OutputDebugStringW(L"Dirshift test: DIRSHIFT_TEST_FAIL_CALL not understood");
        ::ExitProcess(98);
    }
    SetDiskFaultSource(FailNamedCall);
}

}  // namespace

// The source is renamed aside the moment before the junction is made: the stop
// comes there, between the two.
DiskFault StopBeforeTheJunction(DiskCall call, const wchar_t* /*path*/) {
    if (call == DiskCall::MakeJunction) Stop(L"swapped-aside");
    return {};
}

// A move back's copy takes the junction's name the moment after the junction is
// removed: the stop comes between the two.
DiskFault StopBeforeTheCopyMovesIn(DiskCall call, const wchar_t* path) {
    const std::wstring from = path != nullptr ? path : L"";
    const std::wstring copySuffix = kCopyBackSuffix;
    if (call == DiskCall::Move && from.size() > copySuffix.size() &&
        from.compare(from.size() - copySuffix.size(), copySuffix.size(), copySuffix) == 0) {
        Stop(L"back-swapped-aside");
    }
    return {};
}

int wmain(int argc, wchar_t** argv) {
    SetRelocationPhaseHook(StopHere);
    if (StopAt() == L"swapped-aside") SetDiskFaultSource(StopBeforeTheJunction);
    if (StopAt() == L"back-swapped-aside") SetDiskFaultSource(StopBeforeTheCopyMovesIn);
    InstallFailingCall();
    return RunDirshift(argc, argv);
}
