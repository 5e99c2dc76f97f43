// The relocation's journal: what is written is read back exactly, and anything
// but a whole journal of this program is told apart and never acted on.
#include <gtest/gtest.h>

#include <string>

#include "engine/relocation_journal.h"
#include "junction/reparse_buffer.h"
#include "tests/relocate/file_tree.h"

namespace {

using namespace relocation_testing;

// A junction's reparse data, as the junction library writes it.
std::vector<BYTE> JunctionBytes(const wchar_t* target) {
    wchar_t name[reparse::kSubstituteNameCapacity];
    std::vector<BYTE> block(reparse::kReparseBlockSize);
    if (!reparse::FormSubstituteName(target, name, reparse::kSubstituteNameCapacity)) return {};
    block.resize(reparse::BuildMountPointBuffer(name, block.data(), block.size()));
    return block;
}

// A symbolic link's reparse data (relative, so the flags field is 1).
std::vector<BYTE> SymlinkBytes(const std::wstring& target) {
    const auto put16 = [](std::vector<BYTE>& b, size_t v) {
        b.push_back(static_cast<BYTE>(v));
        b.push_back(static_cast<BYTE>(v >> 8));
    };
    const size_t nameBytes = target.size() * 2;
    std::vector<BYTE> data = {0x0C, 0x00, 0x00, 0xA0};
    put16(data, 12 + 2 * nameBytes);
    put16(data, 0);
    put16(data, 0);
    put16(data, nameBytes);
    put16(data, nameBytes);
    put16(data, nameBytes);
    data.insert(data.end(), {1, 0, 0, 0});
    for (int copy = 0; copy < 2; ++copy) {
        for (wchar_t c : target) put16(data, c);
    }
    return data;
}

std::wstring Hex(const std::vector<BYTE>& bytes) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    for (BYTE b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

RelocationJournal SampleJournal() {
    RelocationJournal journal;
    journal.source = L"N:\\Games\\Steam Library";
    journal.target = L"M:\\";
    journal.phase = JournalPhase::SourceRemoved;
    journal.entries = {L"readme.txt", L"Spiele für später", L"check=x", L"a b"};
    journal.links = {{L"profile\\Application Data", true, JunctionBytes(L"N:\\Games\\Steam Library\\profile")},
                     {L"sub\\link=odd", false, SymlinkBytes(L"..\\readme.txt")},
                     {L"sub\\folder link", true, SymlinkBytes(L"..\\Spiele für später")}};
    journal.sourceId = FolderId{0x1234abcd, 0x0001000000000abcull};
    journal.targetId = FolderId{0x99, 7};
    return journal;
}

TEST(RelocationJournal, ReadsBackExactlyWhatWasFormattedInEveryPhase) {
    for (JournalPhase phase : {JournalPhase::Moving, JournalPhase::Moved, JournalPhase::SourceRemoved,
                               JournalPhase::JunctionMade, JournalPhase::RollingBack}) {
        RelocationJournal journal = SampleJournal();
        journal.phase = phase;
        RelocationJournal read;
        ASSERT_TRUE(ParseJournal(FormatJournal(journal), read)) << static_cast<int>(phase);
        EXPECT_EQ(read, journal);
    }
}

RelocationJournal SampleMoveBackJournal() {
    RelocationJournal journal = SampleJournal();
    journal.kind = JournalKind::MoveBack;
    journal.phase = JournalPhase::RollingBack;
    journal.junctionData = JunctionBytes(L"M:\\");
    return journal;
}

// A move back carries its kind and its junction's bytes; a relocation's journal
// reads exactly as journals always did, so one written before moves back were
// journalled is still read as a relocation's.
TEST(RelocationJournal, AMoveBackKeepsItsKindAndJunctionAndAnOlderJournalReadsAsARelocation) {
    for (JournalPhase phase : {JournalPhase::RollingBack, JournalPhase::Moving}) {
        RelocationJournal journal = SampleMoveBackJournal();
        journal.phase = phase;
        RelocationJournal read;
        ASSERT_TRUE(ParseJournal(FormatJournal(journal), read));
        EXPECT_EQ(read, journal);
        EXPECT_EQ(read.kind, JournalKind::MoveBack);
    }

    const std::wstring older =
        L"Dirshift relocation journal 1\nphase=moved\nsource=N:\\Games\ntarget=M:\\Games moved\n"
        L"entry=readme.txt\nlink=a\\b|" + Hex(JunctionBytes(L"N:\\Elsewhere")) + L"\n";
    RelocationJournal read;
    ASSERT_TRUE(ParseJournal(SealJournalText(older), read));
    EXPECT_EQ(read.kind, JournalKind::Relocation);
    EXPECT_TRUE(read.junctionData.empty());
    EXPECT_EQ(FormatJournal(read), SealJournalText(older)) << "a relocation's journal is written as before";

    const std::wstring body = older.substr(older.find(L'\n'));
    const std::wstring refused[] = {
        L"Dirshift relocation journal 1\nkind=move-back" + body,                       // no junction to make again
        L"Dirshift relocation journal 1\nkind=move-back\njunction=" + body,           // an empty one
        L"Dirshift relocation journal 1\njunction=0300" + body,                        // a relocation has none
        L"Dirshift relocation journal 1\nkind=backwards\njunction=0300" + body,       // an unknown kind
        L"Dirshift relocation journal 1\nkind=move-back\njunction=03zz" + body,
        // junction bytes that are whole but would make a junction to elsewhere, or
        // a symbolic link
        L"Dirshift relocation journal 1\nkind=move-back\njunction=" + Hex(JunctionBytes(L"C:\\Windows")) + body,
        L"Dirshift relocation journal 1\nkind=move-back\njunction=" + Hex(SymlinkBytes(L"M:\\Games moved")) + body,
    };
    for (const std::wstring& text : refused) EXPECT_FALSE(ParseJournal(SealJournalText(text), read)) << text;
}

TEST(RelocationJournal, EveryCutShortJournalIsRefused) {
    for (const RelocationJournal& journal : {SampleJournal(), SampleMoveBackJournal()}) {
        const std::wstring whole = FormatJournal(journal);
        RelocationJournal read;
        for (size_t length = 0; length < whole.size(); ++length) {
            EXPECT_FALSE(ParseJournal(whole.substr(0, length), read)) << length;
        }
    }
}

TEST(RelocationJournal, AlteredOrForeignContentIsRefused) {
    const std::wstring whole = FormatJournal(SampleJournal());
    RelocationJournal read;
    std::wstring flipped = whole;
    flipped[whole.find(L"Steam")] = L's';
    EXPECT_FALSE(ParseJournal(flipped, read)) << "one character changed";
    EXPECT_FALSE(ParseJournal(whole + L"entry=late\n", read)) << "a line after the checksum";

    // Correctly sealed, but naming what recovery could not check before acting.
    struct Case {
        const char* what;
        void (*change)(RelocationJournal&);
    };
    const Case cases[] = {
        {"relative source", [](RelocationJournal& j) { j.source = L"Games"; }},
        {"share as target", [](RelocationJournal& j) { j.target = L"\\\\server\\share\\Games"; }},
        {"device path", [](RelocationJournal& j) { j.source = L"\\\\?\\N:\\Games"; }},
        {"dot-dot in a path", [](RelocationJournal& j) { j.target = L"M:\\Games\\..\\Windows"; }},
        {"drive-relative", [](RelocationJournal& j) { j.target = L"M:Games"; }},
        {"empty target", [](RelocationJournal& j) { j.target.clear(); }},
        {"entry with a separator", [](RelocationJournal& j) { j.entries.push_back(L"..\\..\\Windows"); }},
        {"entry that is a dot", [](RelocationJournal& j) { j.entries.push_back(L".."); }},
        {"link leaving the folder", [](RelocationJournal& j) { j.links.push_back({L"..\\outside", true, {1}}); }},
        {"link without a name", [](RelocationJournal& j) { j.links.push_back({L"", false, {1}}); }},
        // Link data that would make a reparse point of another kind than a link,
        // or data whose stated length is not its length.
        {"deduplicated file as a link",
         [](RelocationJournal& j) { j.links.push_back({L"big.vhd", false, {0x13, 0, 0, 0x80, 0, 0, 0, 0}}); }},
        {"junction as a file link",
         [](RelocationJournal& j) { j.links.push_back({L"f", false, JunctionBytes(L"N:\\x")}); }},
        {"link data cut short",
         [](RelocationJournal& j) {
             std::vector<BYTE> data = JunctionBytes(L"N:\\x");
             data.pop_back();
             j.links.push_back({L"f", true, data});
         }},
        {"move back's junction to another folder",
         [](RelocationJournal& j) {
             j.kind = JournalKind::MoveBack;
             j.junctionData = JunctionBytes(L"C:\\Program Files\\Other");
         }},
    };
    for (const Case& c : cases) {
        RelocationJournal journal = SampleJournal();
        c.change(journal);
        EXPECT_FALSE(ParseJournal(FormatJournal(journal), read)) << c.what;
    }
}

TEST(RelocationJournal, UnknownHeaderKeyOrPhaseIsRefusedEvenWhenSealed) {
    const std::wstring whole = FormatJournal(SampleJournal());
    const std::wstring body = whole.substr(0, whole.rfind(L"check="));
    const std::wstring afterHeader = body.substr(body.find(L'\n'));
    RelocationJournal read;
    ASSERT_TRUE(ParseJournal(SealJournalText(body), read)) << "the body as it is";
    const std::wstring foreign[] = {
        L"Dirshift relocation journal 2" + afterHeader,
        body + L"color=blue\n",
        body + L"phase=flying\n",
        body + L"no equals sign\n",
        body + L"link=a\\b|0g\n",
        body + L"link=a\\b|abc\n",
        body + L"source-id=1234-5678\n",
        L"Dirshift relocation journal 1\nsource=N:\\a\ntarget=M:\\b\n",  // no phase
    };
    for (const std::wstring& text : foreign) EXPECT_FALSE(ParseJournal(SealJournalText(text), read)) << text;
}

TEST(JournalStore, WritesReplacesReadsAndRemovesOnDisk) {
    ScratchFolder scratch(TempRoot());
    const JournalStore store(scratch / L"Dirshift");
    RelocationJournal read;
    EXPECT_EQ(store.Read(read), JournalStore::ReadResult::None) << "no folder yet";

    RelocationJournal journal = SampleJournal();
    ASSERT_TRUE(store.Write(journal));
    ASSERT_EQ(store.Read(read), JournalStore::ReadResult::Found);
    EXPECT_EQ(read, journal);

    journal.phase = JournalPhase::RollingBack;
    ASSERT_TRUE(store.Write(journal));
    ASSERT_EQ(store.Read(read), JournalStore::ReadResult::Found);
    EXPECT_EQ(read.phase, JournalPhase::RollingBack);
    EXPECT_FALSE(PathExists(store.path() + L".new")) << "the fresh copy became the journal";

    EXPECT_TRUE(store.Remove());
    EXPECT_EQ(store.Read(read), JournalStore::ReadResult::None);
    EXPECT_TRUE(store.Remove()) << "nothing left to remove is no failure";
}

TEST(JournalStore, AFileThatIsNotAWholeJournalIsDamaged) {
    ScratchFolder scratch(TempRoot());
    const JournalStore store(scratch.path());
    ASSERT_TRUE(store.Write(SampleJournal()));
    const std::wstring whole = L"\xFEFF" + FormatJournal(SampleJournal());
    const std::string bytes(reinterpret_cast<const char*>(whole.data()), whole.size() * sizeof(wchar_t));

    const std::string contents[] = {
        "",                                  // emptied
        "x",                                 // odd size
        bytes.substr(2),                     // without its byte-order mark
        bytes.substr(0, bytes.size() / 2),   // torn in the middle
        std::string(4096, '\0'),             // zeroed
    };
    for (const std::string& content : contents) {
        WriteTextFile(store.path(), content);
        RelocationJournal read;
        EXPECT_EQ(store.Read(read), JournalStore::ReadResult::Damaged) << content.size();
    }
    WriteTextFile(store.path(), bytes);
    RelocationJournal read;
    EXPECT_EQ(store.Read(read), JournalStore::ReadResult::Found) << "the same bytes, whole";
}

}  // namespace

namespace {

// What a relocation moved is kept per junction beside the journal: read back whole
// for its own junction only, and never when altered.
TEST(JournalStore, KeepsWhatARelocationMovedPerJunction) {
    ScratchFolder scratch(TempRoot());
    const JournalStore store(scratch / L"Dirshift");
    MovedRecord record;
    record.junction = L"N:\\Games\\Steam";
    record.target = L"M:\\Steam";
    record.targetId = FolderId{0x1234, 0x56};
    record.entries = {L"steamapps", L"config.vdf", L"Spiele für später"};
    ASSERT_TRUE(store.WriteMovedRecord(record));

    MovedRecord read;
    ASSERT_TRUE(store.ReadMovedRecord(L"n:\\games\\STEAM", read)) << "paths compare as the file system does";
    EXPECT_EQ(read.junction, record.junction);
    EXPECT_EQ(read.target, record.target);
    EXPECT_EQ(read.targetId, record.targetId);
    EXPECT_EQ(read.entries, record.entries);
    EXPECT_FALSE(store.ReadMovedRecord(L"N:\\Games\\Other", read));

    const std::wstring sealed = SealJournalText(L"Dirshift moved record 1\njunction=N:\\a\ntarget=M:\\b\nentry=x\n");
    EXPECT_TRUE(ParseMovedRecord(sealed, read));
    std::wstring altered = sealed;
    altered[altered.find(L"entry=x") + 6] = L'y';
    EXPECT_FALSE(ParseMovedRecord(altered, read)) << "one character changed";
    EXPECT_FALSE(ParseMovedRecord(SealJournalText(L"Dirshift moved record 1\njunction=N:\\a\ntarget=M:\\b\n"
                                                  L"entry=..\\..\\Windows\n"),
                                  read))
        << "an entry that is no plain name";

    EXPECT_TRUE(store.RemoveMovedRecord(record.junction));
    EXPECT_FALSE(store.ReadMovedRecord(record.junction, read));
}

}  // namespace
