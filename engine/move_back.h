// Undoing a relocation: the files of a junction's target move back into the
// junction's place, with the same promise as the relocation itself. Either the old
// path is a plain folder again holding every file and the target folder is gone,
// or the files are all in the target again and the junction is back byte for byte.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "engine/relocation_engine.h"

// What a move back would do, read before anything is asked or changed.
struct MoveBackPlan {
    std::wstring junction;  // the junction's path, as given (cleaned)
    std::wstring target;    // the folder it points to, without the "\??\" prefix
    std::uint64_t bytes = 0;  // as the access scan totals them, links not followed
};

enum class MoveBackResult {
    Completed,    // the files are back, the junction and the target folder gone
    Declined,     // the user answered No (to the confirmation or the SYSTEM question) or cancelled the scan
    Refused,      // a check failed before anything changed; the user was told why
    RolledBack,   // it failed part-way; files and junction are as they were
    NotRestored,  // it failed and not all could be put back; the user was told where
    Interrupted,  // stopped unexpectedly (out of memory); the user was told to look
};

struct MoveBackRequest {
    std::wstring junction;
    // Owner of the questions the engine hands on; may be null.
    HWND owner = nullptr;
    // Where the move back keeps its journal; null: the user's own store.
    const JournalStore* journal = nullptr;
    // Between drives, every copied byte is compared with its original.
    bool compareContents = false;
};

// True when moving `bytes` from the volume `sourceVolume` to `destinationVolume`
// (as GetVolumePathNameW gives them) fits in `freeBytes`: a move within one volume
// is a rename and needs no room.
[[nodiscard]] bool MoveBackHasRoom(std::uint64_t bytes, std::uint64_t freeBytes, bool sameVolume);

// Scans the target's files on a worker (the observer's progress waits for it, so a
// dialog keeps answering and can cancel), then asks the user to confirm (naming
// both folders and the size the scan found), then moves the files back on the
// calling thread. A cancelled scan changes nothing and counts as declined. Every
// outcome has been reported to `observer`.
[[nodiscard]] MoveBackResult RunMoveBack(const MoveBackRequest& request, RelocationObserver& observer);

// Whether `junction` is a junction whose target is a plain folder on a local
// drive, the only kind a move back accepts. Fills `plan` (without the sizes).
[[nodiscard]] bool CanMoveBack(const std::wstring& junction, MoveBackPlan& plan);
