// What a junction's target is now: the state that the junction manager shows for
// every row, worked out from what the disk shows. Free of windows, so that every
// face of the program classifies links alike.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

enum class LinkHealth {
    Ok,
    TargetMissing,
    TargetNotFolder,
    TargetIsLink,       // a chain: the target is itself a link
    PointsIntoItself,   // a loop: the target is the junction, one of its folders, or leads back there
    DriveNotThere,      // the target's drive letter names no drive
    OnAnotherComputer,  // a network path, or a drive letter mapped to one
    NotAJunction,       // a reparse point of another kind: no target to look at
};

// The state's text as the list shows it ("OK", "Target missing", ...).
const wchar_t* LinkHealthText(LinkHealth health);

// True when `target` (as listed: without "\??\") names a share: "UNC\server\...",
// "\\server\...".
bool IsNetworkTarget(const std::wstring& target);

// True when `path` is `folder` itself or lies inside it, compared ignoring case
// and a trailing backslash, on whole names ("D:\Games" holds "D:\Games\x" but
// not "D:\Games2").
bool IsSameOrInside(const std::wstring& path, const std::wstring& folder);

// The drive letter that `target` starts with ("D:\x" gives 'D'), or 0.
wchar_t TargetDriveLetter(const std::wstring& target);

// The type of each drive letter (GetDriveTypeW), asked once: a scan classifies
// many links, and under Wine every question about a drive is a round trip to
// its mount manager. Safe to use from several threads at once.
class DriveTypes {
public:
    UINT Of(wchar_t letter);

private:
    std::atomic<UINT> types_[26] = {};  // 0: not asked yet (DRIVE_UNKNOWN is 0 too: asked again)
};

// The state of the junction `junction` whose stored target is `target` (as
// listed: without "\??\"; empty for a reparse point that is no junction). A share
// is never touched: a path on another computer is classified by its name alone,
// so a scan never waits for the network. `drives` may be shared by the calls of
// one scan; without it each call asks.
LinkHealth CheckLinkHealth(const std::wstring& junction, const std::wstring& target, DriveTypes* drives = nullptr);
