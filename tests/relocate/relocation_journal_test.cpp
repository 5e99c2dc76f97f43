// The relocation's journal: what is written is read back exactly, and anything
// but a whole journal of this program is told apart and never acted on.
#include <gtest/gtest.h>

#include <string>

#include "engine/relocation_journal.h"
#include "tests/relocate/file_tree.h"

namespace {

using namespace relocation_testing;

RelocationJournal SampleJournal() {
    RelocationJournal journal;
    journal.source = L"N:\\Games\\Steam Library";
    journal.target = L"M:\\";
    journal.phase = JournalPhase::SourceRemoved;
    journal.entries = {L"readme.txt", L"Spiele für später", L"check=x", L"a b"};
    journal.links = {{L"profile\\Application Data", true, {0x03, 0x00, 0x00, 0xA0, 0xFF, 0x00}},
                     {L"sub\\link=odd", false, {}}};
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
    journal.junctionData = {0x03, 0x00, 0x00, 0xA0, 0x10, 0x00, 0x00, 0x00, 0xAB, 0xCD};
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
        L"entry=readme.txt\nlink=a\\b|0300\n";
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
