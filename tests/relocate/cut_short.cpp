#include "tests/relocate/cut_short.h"

#include <windows.h>

#include <algorithm>

#include "engine/folder_move.h"
#include "junction/junction.h"
#include "tests/relocate/relocation_session.h"

namespace relocation_testing {

namespace {

// Moves the first `count` of the journal's entries into the destination.
bool MoveToTarget(const RelocationJournal& journal, const std::wstring& source, const std::wstring& target,
                  size_t count) {
    ::CreateDirectoryW(target.c_str(), nullptr);
    for (size_t i = 0; i < count && i < journal.entries.size(); ++i) {
        const std::wstring name = L"\\" + journal.entries[i];
        if (!::MoveFileExW((source + name).c_str(), (target + name).c_str(), 0)) return false;
    }
    return true;
}

}  // namespace

bool LeaveCutShort(const std::wstring& source, const std::wstring& target, CutAt cut, RelocationJournal& journal) {
    journal = RelocationJournal{};
    journal.source = FullPath(source);
    journal.target = FullPath(target);
    if (!ListFolderEntries(source, journal.entries)) return false;
    std::sort(journal.entries.begin(), journal.entries.end());
    const size_t all = journal.entries.size();
    switch (cut) {
    case CutAt::Moving:
        journal.phase = JournalPhase::Moving;
        return true;
    case CutAt::MovingPartly:
        journal.phase = JournalPhase::Moving;
        return MoveToTarget(journal, source, target, 2);
    case CutAt::Moved:
        journal.phase = JournalPhase::Moved;
        return MoveToTarget(journal, source, target, all);
    case CutAt::SourceRemoved:
        journal.phase = JournalPhase::SourceRemoved;
        return MoveToTarget(journal, source, target, all) && ::RemoveDirectoryW(source.c_str());
    case CutAt::JunctionMade:
        journal.phase = JournalPhase::JunctionMade;
        return MoveToTarget(journal, source, target, all) && ::RemoveDirectoryW(source.c_str()) &&
               CreateJunction(source.c_str(), target.c_str());
    case CutAt::RollingBackPartly:
        journal.phase = JournalPhase::RollingBack;
        return MoveToTarget(journal, source, target, 1);
    }
    return false;
}

}  // namespace relocation_testing
