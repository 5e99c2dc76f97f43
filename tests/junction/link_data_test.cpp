// Links as reparse data: the substitute name read back out of the bytes, and a
// junction into a moved folder pointed at the same place in the folder's new home.
#include <gtest/gtest.h>

#include <string>

#include "junction/link_data.h"
#include "junction/reparse_buffer.h"

namespace {

ReparseBytes JunctionTo(const std::wstring& target) {
    wchar_t name[reparse::kSubstituteNameCapacity];
    EXPECT_TRUE(reparse::FormSubstituteName(target.c_str(), name, reparse::kSubstituteNameCapacity));
    ReparseBytes block(reparse::kReparseBlockSize);
    block.resize(reparse::BuildMountPointBuffer(name, block.data(), block.size()));
    return block;
}

TEST(LinkData, JunctionsIntoTheMovedFolderFollowItAndOthersStay) {
    const struct {
        const wchar_t* target;
        const wchar_t* oldFolder;
        const wchar_t* newFolder;
        const wchar_t* expected;
    } cases[] = {
        {L"N:\\Data\\sub", L"N:\\Data", L"M:\\Moved", L"\\??\\M:\\Moved\\sub"},
        {L"n:\\DATA\\a\\b", L"N:\\Data", L"M:\\Moved", L"\\??\\M:\\Moved\\a\\b"},  // case does not matter
        {L"N:\\Data", L"N:\\Data", L"M:\\Moved", L"\\??\\M:\\Moved"},             // the folder itself
        {L"N:\\Data\\sub", L"N:\\Data", L"R:\\", L"\\??\\R:\\sub"},                // to a drive root
        {L"N:\\Data", L"N:\\Data", L"R:\\", L"\\??\\R:\\"},
        {L"N:\\Data2\\sub", L"N:\\Data", L"M:\\Moved", L"\\??\\N:\\Data2\\sub"},   // a sibling sharing the prefix
        {L"N:\\Elsewhere", L"N:\\Data", L"M:\\Moved", L"\\??\\N:\\Elsewhere"},
        {L"N:\\", L"N:\\Data", L"M:\\Moved", L"\\??\\N:\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.target)));
        ReparseBytes repointed;
        ASSERT_TRUE(RepointJunction(JunctionTo(c.target), c.oldFolder, c.newFolder, repointed));
        EXPECT_EQ(LinkSubstituteName(repointed), c.expected);
    }
}

TEST(LinkData, SymbolicLinksAndDamagedDataAreLeftAsTheyAre) {
    // A symbolic link to "\??\N:\Data\x" (flags 0): header, offsets, flags, name.
    const std::wstring name = L"\\??\\N:\\Data\\x";
    ReparseBytes symlink = {0x0C, 0x00, 0x00, 0xA0, 0, 0, 0, 0};
    const auto push16 = [&](std::size_t value) {
        symlink.push_back(static_cast<std::uint8_t>(value));
        symlink.push_back(static_cast<std::uint8_t>(value >> 8));
    };
    push16(0);
    push16(name.size() * 2);
    push16(name.size() * 2);
    push16(0);
    for (int i = 0; i < 4; ++i) symlink.push_back(0);
    for (wchar_t c : name) push16(c);
    symlink[4] = static_cast<std::uint8_t>(symlink.size() - 8);
    EXPECT_EQ(LinkSubstituteName(symlink), name);
    ReparseBytes kept;
    ASSERT_TRUE(RepointJunction(symlink, L"N:\\Data", L"M:\\Moved", kept));
    EXPECT_EQ(kept, symlink);

    // A name that runs past the data is no name at all.
    ReparseBytes damaged = JunctionTo(L"N:\\Data\\sub");
    damaged[10] = 0xFF;
    EXPECT_EQ(LinkSubstituteName(damaged), L"");
    EXPECT_EQ(LinkSubstituteName(ReparseBytes{1, 2}), L"");
}

}  // namespace
