// The relocation's journal: written ahead of every step that moves files, so that
// a relocation cut short (the program killed, the power gone) can be finished or
// undone at the next start. One journal per user; it lives outside every folder
// that a relocation moves.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "engine/folder_identity.h"

// How far a relocation got. Each phase is written before its step starts.
enum class JournalPhase {
    Moving,         // entries are being moved into the destination
    Moved,          // every entry is in the destination
    SourceRemoved,  // the emptied source folder is gone; the junction comes next
    JunctionMade,   // the junction stands; links inside are being put back
    RollingBack,    // entries are being moved back into the source
    // Between drives the entries are copied, and the source only goes once its
    // copy has been proven: it is renamed aside, the junction takes its place, and
    // the renamed folder is deleted last.
    Copying,         // entries are being copied into the destination; the source is untouched
    Verified,        // every copy matched its original; the source is renamed aside next
    Swapped,         // the junction stands; the source, renamed aside, is to be deleted
    DeletingSource,  // the source, renamed aside, is being deleted
};

// True for the phases of a move between drives by copy.
bool IsCopyPhase(JournalPhase phase);

// A link inside the moved folder, taken out of the move as a link.
struct JournalLink {
    std::wstring relativePath;       // below the source (and the destination)
    bool folder = true;              // a folder link, or a link to a file
    std::vector<BYTE> reparseData;   // its reparse data, as read before the move
    bool operator==(const JournalLink& other) const {
        return relativePath == other.relativePath && folder == other.folder && reparseData == other.reparseData;
    }
};

// What the user had started. A move back is written as the undoing of a finished
// relocation (the same two paths, the same entries and links in the source's
// form), so that recovery can take either way out with the same steps.
enum class JournalKind {
    Relocation,  // the source's files on their way into the destination
    MoveBack,    // a junction's files on their way back into its place
};

struct RelocationJournal {
    JournalKind kind = JournalKind::Relocation;
    std::wstring source;  // full paths; for a move back, the junction's
    std::wstring target;
    JournalPhase phase = JournalPhase::Moving;
    std::vector<std::wstring> entries;  // the source's top-level names, as listed before the move
    std::vector<JournalLink> links;     // reparse data as it stands in the source
    // A move back's junction, byte for byte, so that undoing it makes the very same
    // junction again. Empty for a relocation.
    std::vector<BYTE> junctionData;
    // In the copy phases, a folder beside the source in its own parent: for a
    // relocation, the name the source takes once its copy is proven; for a move
    // back, where the junction's files are copied to before they take its place.
    std::wstring aside;
    // Which plain folder stood at each path when the journal last said so; not
    // known while none stands there. A folder found there that is another one is
    // not acted on: it is not the folder the journal speaks of.
    FolderId sourceId;
    FolderId targetId;
    bool operator==(const RelocationJournal& other) const {
        return kind == other.kind && source == other.source && target == other.target && phase == other.phase &&
               entries == other.entries && links == other.links && junctionData == other.junctionData &&
               aside == other.aside && sourceId == other.sourceId && targetId == other.targetId;
    }
};

// The journal as text: a header line, one "key=value" line each, and a checksum
// line over everything before it, so that a torn or altered journal is told from a
// whole one. Names cannot hold line ends, so no escaping is needed.
std::wstring FormatJournal(const RelocationJournal& journal);

// `body` (whole lines) followed by its checksum line.
std::wstring SealJournalText(const std::wstring& body);

// False, with `journal` unspecified, for anything but a whole journal of this
// program: a wrong header or checksum, an unknown phase, kind or key, a path that
// is not a full local path, an entry name that is not a plain name, a move back
// without its junction's data or with data that is not a junction to its own
// target, a link whose data is not a junction or symbolic link, a copy phase without
// a place aside in the source's own parent. A journal without a kind is a relocation's (as
// every journal written before moves back were journalled).
[[nodiscard]] bool ParseJournal(const std::wstring& text, RelocationJournal& journal);

// What a relocation that ended moved, kept for its move back: a move back then
// tells what it moves that the relocation did not.
struct MovedRecord {
    std::wstring junction;  // full paths
    std::wstring target;
    FolderId targetId;
    std::vector<std::wstring> entries;  // the top-level names the relocation moved
};

// False for anything but a whole record of this program.
[[nodiscard]] bool ParseMovedRecord(const std::wstring& text, MovedRecord& record);

// Where the journal is kept: one file in a folder of its own, which only
// administrators and the system may change. The journal steers what an
// administrator's program moves where: one that anybody else could have written
// or swapped is never read as true.
class JournalStore {
public:
    // The store in `folder` (created when first written); `folder` and the file
    // are checked before each use.
    explicit JournalStore(std::wstring folder);
    // The store in the last of `folders`, each inside the one before it; every one
    // of them is checked before each use, and made when missing.
    explicit JournalStore(std::vector<std::wstring> folders);
    // The user's store: "Dirshift\journal\<the user's SID>" below the
    // machine's program-data folder.
    static JournalStore ForCurrentUser();
    // Where Dirshift kept the journal before: below the user's local application
    // data, which the user's every program may change.
    static std::wstring EarlierJournalPath();
    // Deletes the file at `path` itself, and only when it is a plain file that
    // really lies at that path (no link on the way leads elsewhere).
    [[nodiscard]] static bool DeleteEarlierJournal(const std::wstring& path);

    const std::wstring& folder() const { return folder_; }
    const std::wstring& path() const { return path_; }

    // Replaces the journal with `journal` and returns once it is on the disk: the
    // text goes to a fresh file written through and flushed, which then replaces
    // the journal in one rename. A journal is thus whole, old or new, at any time.
    [[nodiscard]] bool Write(const RelocationJournal& journal) const;

    enum class ReadResult { None, Found, Damaged, Untrusted };
    // None when there is no journal; Damaged when one is there but not whole;
    // Untrusted when the journal or a folder on its way may have been written or
    // swapped by others than administrators (then it is not read at all).
    [[nodiscard]] ReadResult Read(RelocationJournal& journal) const;

    // Whether the store's folders (those that exist) and its journal are kept only
    // by administrators, with no link on the way.
    [[nodiscard]] bool Trusted() const;

    // Removes the journal; true when none is left.
    [[nodiscard]] bool Remove() const;

    // The record of what a relocation moved, one per junction, kept in the same
    // folder with the same checks as the journal.
    [[nodiscard]] bool WriteMovedRecord(const MovedRecord& record) const;
    // False when there is none for `junction` (a full path), or none that can be
    // trusted and read whole.
    [[nodiscard]] bool ReadMovedRecord(const std::wstring& junction, MovedRecord& record) const;
    bool RemoveMovedRecord(const std::wstring& junction) const;

private:
    [[nodiscard]] bool WriteText(const std::wstring& path, const std::wstring& body) const;
    [[nodiscard]] ReadResult ReadText(const std::wstring& path, std::wstring& body) const;
    [[nodiscard]] bool RemoveFile(const std::wstring& path) const;
    std::wstring RecordPath(const std::wstring& junction) const;

    std::vector<std::wstring> folders_;
    std::wstring folder_;
    std::wstring path_;
};
