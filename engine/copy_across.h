// A relocation between drives, step by step: the source's entries are copied into
// the destination and proven there, the source is renamed aside in its own parent
// and the junction takes its name, and the renamed source is deleted last. Until
// the rename every original is untouched; after it, every file is in the copy.
// The relocation and its recovery at the next start both take these steps.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/access_scan.h"
#include "engine/folder_identity.h"
#include "engine/journal_keeper.h"
#include "engine/relocation_engine.h"
#include "engine/tree_copy.h"
#include "engine/tree_delete.h"
#include "junction/link_data.h"

struct CopyAcrossRequest {
    std::wstring source;  // full paths
    std::wstring target;
    std::vector<std::wstring> names;  // the source's entries to copy
    std::vector<LinkRecord> links;    // links in the tree: not copied, made in the copy by the caller
    bool compareContents = false;
};

struct CopyAcrossOutcome {
    TreeCopyOutcome copy;
    // On any end but Copied: whether what was copied is gone again, and if not,
    // the first entry left of it.
    bool removed = true;
    std::wstring left;
};

// Copies and proves the entries on a worker thread while `observer` waits (and
// may cancel); on any end but Copied, removes what the copy made before it
// returns.
CopyAcrossOutcome CopyAcross(const CopyAcrossRequest& request, RelocationObserver& observer);

// Removes the copy of `request.names` from `request.target`, the links made
// there included; `left` names the first entry that stayed.
bool RemoveCopy(const CopyAcrossRequest& request, std::wstring& left);

// The message for a copy that failed with `fault`.
RelocationMessage CopyFaultMessage(TreeCopyFault fault);

// A name beside `path` in its own parent that nothing uses yet: `path` followed
// by `suffix`, numbered when taken ("-2", "-3", ...). Empty when none is free.
std::wstring FreeNameBeside(const std::wstring& path, const wchar_t* suffix);

// Where the source goes once its copy is proven, and where a move back copies a
// junction's files before they take its place.
constexpr wchar_t kAsideSuffix[] = L".moved-by-dirshift";
constexpr wchar_t kCopyBackSuffix[] = L".moving-back-by-dirshift";

enum class SwapOutcome {
    Swapped,     // the junction stands at the source's path; the source is at `aside`
    SourceKept,  // nothing changed: the source could not be renamed (`error` says why)
    NoJunction,  // no junction could be made (`error`); the source is back at its path
    Replaced,    // the source was no longer the folder `sourceId`: nothing changed
    StuckAside,  // no junction, and the source could not be renamed back from `aside`
};

// Renames the source aside and makes the junction to `target` in its place. When
// the junction cannot be made, the source is renamed back.
SwapOutcome SwapSourceForJunction(const std::wstring& source, const std::wstring& aside, const std::wstring& target,
                                  const FolderId& sourceId, DWORD& error);

// Deletes the source renamed aside: its links as recorded, then every entry whose
// copy stands in `target`.
TreeDeleteResult DeleteAsideSource(const std::wstring& aside, const FolderId& sourceId, const std::wstring& target,
                                   const std::vector<LinkRecord>& links, std::wstring& left);

// The steps from the copy to the end, journalled, each ending with the files in
// one whole place and the user told which; shared by a relocation and the
// recovery that finishes one.
class CopySwapSteps {
public:
    // `junctionTarget` is what the junction stores (the destination's full path,
    // with no subst drive). `releaseHolds` lets go of any handle that keeps the
    // folders from being renamed or removed. Every reference must outlive this.
    CopySwapSteps(const CopyAcrossRequest& copy, std::wstring aside, std::wstring junctionTarget,
                  JournalKeeper& keeper, RelocationObserver& observer, RelocationFacts& facts,
                  std::function<void()> releaseHolds = {});

    // The destination folder was made for this relocation: an end with nothing
    // changed removes it again when it is empty.
    void RemoveTargetWhenEmpty(bool made) { removeTarget_ = made; }

    // Copies, proves, makes the links, swaps the source (the folder `sourceId`)
    // for the junction and deletes it. Completed once the junction stands.
    RelocationResult CopyProveAndSwap(const FolderId& sourceId);
    // From a proven copy: the swap and the deletion.
    RelocationResult SwapAndDelete(const FolderId& sourceId);
    // After the swap: the source, renamed aside, is deleted.
    RelocationResult DeleteSource(const FolderId& sourceId);

    // Nothing changed: the journal goes, and the user hears `message`.
    RelocationResult EndUnchanged(RelocationMessage message);
    // The copy is removed (what is left of it named), then the user hears `message`.
    RelocationResult RemoveCopyAndEnd(RelocationMessage message);

    // What a Completed end tells: done, or done with something of the source left.
    RelocationMessage doneMessage() const { return doneMessage_; }

private:
    RelocationResult CopyLeftBehind(const std::wstring& left, RelocationMessage first);

    const CopyAcrossRequest& copy_;
    std::wstring aside_;
    std::wstring junctionTarget_;
    JournalKeeper& keeper_;
    RelocationObserver& observer_;
    RelocationFacts& facts_;
    std::function<void()> releaseHolds_;
    bool removeTarget_ = false;
    RelocationMessage doneMessage_ = RelocationMessage::Completed;
};

// A move back between drives, step by step: the junction's files are copied back
// into a folder beside it and proven, the junction gives way to that copy (which
// takes its name), and the folder the junction pointed to is deleted last. Until
// the junction goes, every original is untouched.
struct CopyBackPlan {
    std::wstring junction;    // full paths
    std::wstring target;      // the folder the junction points to
    std::wstring copyPlace;   // beside the junction, in its parent
    ReparseBytes junctionData;
    FolderId targetId;
    FolderId copyId;          // known once the copy's folder is made
    std::vector<std::wstring> names;
    std::vector<LinkRecord> targetLinks;    // links in the target, as read there
    std::vector<LinkRecord> junctionLinks;  // the same as they will stand at the old path
    bool compareContents = false;
};

// Shared by a move back and the recovery that finishes or undoes one; each step
// reports how it ended (the move back's own messages) and keeps the journal in
// step. Completed: the copy stands at the old path.
class CopyBackSteps {
public:
    CopyBackSteps(CopyBackPlan plan, JournalKeeper& keeper, RelocationObserver& observer, RelocationFacts& facts,
                  std::function<void()> releaseHolds = {});

    // Copies into a fresh folder (what an earlier try left there is removed
    // first), proves the copy, puts it in the junction's place and deletes the
    // originals.
    RelocationResult CopyProveAndSwap();
    // From a proven copy whose junction is gone already: the copy takes the name.
    RelocationResult MoveCopyIn();
    // After the swap: the originals, and their folder, are deleted.
    RelocationResult DeleteOriginals();
    // Before the swap: the junction as it was (made again from its bytes when it is
    // gone) and the copy removed.
    RelocationResult Undo();

    // A cancel ended the copy.
    bool cancelled() const { return cancelled_; }

private:
    bool MakeCopyFolder();
    RelocationResult PutCopyInPlace();
    RelocationResult EndWithoutCopy(RelocationMessage message, bool removedAlready = false,
                                    const std::wstring& leftAlready = std::wstring());
    bool JunctionAsItWas() const;
    bool MakeJunctionAgain() const;
    CopyAcrossRequest CopyRequest() const;

    CopyBackPlan plan_;
    JournalKeeper& keeper_;
    RelocationObserver& observer_;
    RelocationFacts& facts_;
    std::function<void()> releaseHolds_;
    bool cancelled_ = false;
};
