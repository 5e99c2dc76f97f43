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
// and of a move back (a junction's files on their way back into its place):
//
//   back-junction-stands  the journal is written, the junction still stands
//   back-junction-gone    ... the junction is removed, nothing has moved yet
//   back-partly           ... a plain folder stands there, the first half is in it
//   back-all              ... every entry is in it, the emptied folder still stands
//   back-target-gone      ... and the emptied folder is removed, the journal not yet
#include <windows.h>

#include <string>
#include <vector>

#include "app/entry.h"
#include "engine/folder_move.h"
#include "engine/journal_keeper.h"
#include "junction/junction.h"

namespace {

std::wstring StopAt() {
    wchar_t value[64] = L"";
    const DWORD length = ::GetEnvironmentVariableW(L"DIRSHIFT_TEST_STOP_AT", value, 64);
    return length > 0 && length < 64 ? value : L"";
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

void StopHere(JournalPhase phase, const RelocationJournal& journal) {
    static const std::wstring stopAt = StopAt();
    if (journal.kind == JournalKind::MoveBack) {
        if (phase == JournalPhase::RollingBack) StopMoveBack(stopAt, journal);
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
    };
    for (const Point& point : points) {
        if (point.phase != phase || stopAt != point.name) continue;
        if (stopAt == L"moving-partly") MoveFirstHalf(journal, journal.source, journal.target);
        if (stopAt == L"rolling-back-partly") MoveFirstHalf(journal, journal.target, journal.source);
        if (stopAt == L"source-removed") ::RemoveDirectoryW(journal.source.c_str());
        Stop(stopAt);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    SetRelocationPhaseHook(StopHere);
    return RunDirshift(argc, argv);
}
