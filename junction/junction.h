// The junction library: checks a volume for reparse points, creates, reads, walks
// and removes NTFS junctions. Never shows anything to the user: failures return
// false and write one debug line; the calling dialog decides what the user sees.
#pragma once

#include <windows.h>

#include <cstdint>

// Size of the walk's path and target buffers, terminator included.
constexpr int kJunctionPathCapacity = 1024;

// `path` without a leading "\??\" (the NT form in which a junction stores its target).
const wchar_t* WithoutNtPrefix(const wchar_t* path);

// True when the volume named by the first character of `path` supports reparse points.
[[nodiscard]] bool VolumeSupportsReparsePoints(const wchar_t* path);

// Makes `linkPath` a junction to `targetPath`, creating either folder when missing.
[[nodiscard]] bool CreateJunction(const wchar_t* linkPath, const wchar_t* targetPath);

// Removes the junction `linkPath` itself; the target folder and its files stay.
// A folder that no longer carries a reparse point is never removed.
[[nodiscard]] bool RemoveJunction(const wchar_t* linkPath);

// Points the junction `linkPath` at `newTarget` (a full path of at most 259
// characters) in one step, while it still stores `expectedTarget` as it was
// listed (with or without "\??\", compared ignoring case): its data is replaced, never
// removed first, so a failure leaves the old data in place. True only when the
// data read back afterwards points at `newTarget`. The new target is not checked
// here: the caller decides what it may be.
[[nodiscard]] bool RepointJunctionAt(const wchar_t* linkPath, const wchar_t* expectedTarget, const wchar_t* newTarget);

// True when `path` is a folder that carries a reparse point and could be opened.
// For a junction, `target` receives the substitute name as stored ("\??\D:\Data")
// and `tag` IO_REPARSE_TAG_MOUNT_POINT; for other kinds both are left unchanged.
[[nodiscard]] bool ReadReparsePoint(const wchar_t* path, wchar_t (&target)[kJunctionPathCapacity], DWORD& tag);

// Called by FindJunctions for every reparse-point folder (Found: path and target
// set) and before entering every ordinary sub-folder (Poll: path and target null).
// Returning false stops the walk.
using JunctionVisitor = bool (*)(std::uintptr_t context, const wchar_t* path, const wchar_t* target, DWORD tag);

// Walks `folder` (at most 1023 characters) depth-first, reporting reparse-point
// folders to `visitor` without entering them. Returns -1 when the visitor stopped
// the walk, otherwise the number of Found calls made at this level.
int FindJunctions(const wchar_t* folder, JunctionVisitor visitor, std::uintptr_t context, bool recurse);

// FindJunctions on a pool of `threads` threads (0: PoolThreadCount()) that share
// the folders still to be listed, each listing one folder at a time: the same
// Found and Poll calls, the same sub-folder lines, and no junction entered, but in
// no fixed order and from several threads at once, so the visitor must be safe to
// call concurrently. Once the visitor returns false, every thread stops at its
// next entry. Returns -1 when the walk was stopped (or ran out of memory),
// otherwise the number of Found calls in the whole walk. Every thread of the
// walk has ended when it returns.
int FindJunctionsPooled(const wchar_t* folder, JunctionVisitor visitor, std::uintptr_t context, bool recurse,
                        int threads = 0);
