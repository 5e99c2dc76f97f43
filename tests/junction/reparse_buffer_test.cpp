// The mount-point reparse data and the walk's path text, byte for byte.
#include "junction/reparse_buffer.h"

#include "base/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using reparse::ReparseKind;
using Bytes = std::vector<std::uint8_t>;

Bytes Utf16Bytes(const std::wstring& text) {
    Bytes bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return bytes;
}

// A header (tag, ReparseDataLength, Reserved) and the four name fields, as
// written by hand so the expected bytes never come from the code under test.
Bytes Header(std::uint32_t tag, std::uint16_t dataLength, std::uint16_t substituteOffset, std::uint16_t substituteLength,
             std::uint16_t printOffset, std::uint16_t printLength) {
    Bytes b = {static_cast<std::uint8_t>(tag), static_cast<std::uint8_t>(tag >> 8), static_cast<std::uint8_t>(tag >> 16),
               static_cast<std::uint8_t>(tag >> 24)};
    for (std::uint16_t v : {dataLength, std::uint16_t{0}, substituteOffset, substituteLength, printOffset, printLength}) {
        b.push_back(static_cast<std::uint8_t>(v & 0xFF));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    return b;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::size_t Build(const std::wstring& name, Bytes& block) {
    block.assign(reparse::kReparseBlockSize, 0xCC);
    return reparse::BuildMountPointBuffer(name.c_str(), block.data(), block.size());
}

TEST(MountPointBuffer, WorkedExampleIsExactly42Bytes) {
    Bytes block;
    ASSERT_EQ(Build(L"\\??\\D:\\Data", block), 42u);
    const Bytes expected = Concat(Concat(Header(0xA0000003, 34, 0, 22, 24, 0), Utf16Bytes(L"\\??\\D:\\Data")),
                                  Bytes{0, 0, 0, 0});
    EXPECT_EQ(Bytes(block.begin(), block.begin() + 42), expected);
}

TEST(MountPointBuffer, LongestSubstituteNameGives546BytesAndTheRestOfTheBlockStaysZero) {
    const std::wstring name = L"\\??\\C:\\" + std::wstring(256, L'x');
    ASSERT_EQ(name.size(), 263u);
    Bytes block;
    ASSERT_EQ(Build(name, block), 546u);
    EXPECT_EQ(Bytes(block.begin(), block.begin() + 16), Header(0xA0000003, 538, 0, 526, 528, 0));
    EXPECT_EQ(Bytes(block.begin() + 16, block.begin() + 542), Utf16Bytes(name));
    for (std::size_t i = 542; i < block.size(); ++i) ASSERT_EQ(block[i], 0) << "byte " << i;
}

TEST(MountPointBuffer, NameThatDoesNotFitTheBlockBuildsNothing) {
    // 11 characters need 42 bytes; a 41-byte block cannot hold them.
    Bytes block(41, 0xCC);
    EXPECT_EQ(reparse::BuildMountPointBuffer(L"\\??\\D:\\Data", block.data(), block.size()), 0u);
    EXPECT_EQ(block, Bytes(41, 0));
    block.assign(42, 0xCC);
    EXPECT_EQ(reparse::BuildMountPointBuffer(L"\\??\\D:\\Data", block.data(), block.size()), 42u);
}

TEST(SubstituteName, TrailingBackslashIsDroppedExceptOnADriveRoot) {
    struct Case {
        const wchar_t* fullTarget;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"D:\\Data\\", L"\\??\\D:\\Data"},
        {L"D:\\Data", L"\\??\\D:\\Data"},
        {L"D:\\", L"\\??\\D:\\"},
        {L"D:\\Data\\\\", L"\\??\\D:\\Data\\"},  // only one backslash goes
        {L"D:\\a\\", L"\\??\\D:\\a"},
    };
    for (const Case& c : cases) {
        wchar_t name[reparse::kSubstituteNameCapacity];
        ASSERT_TRUE(reparse::FormSubstituteName(c.fullTarget, name, reparse::kSubstituteNameCapacity)) << c.fullTarget;
        EXPECT_STREQ(name, c.expected) << c.fullTarget;
    }
}

TEST(SubstituteName, LongestFullPathFitsAndALongerOneIsRefusedNotCut) {
    wchar_t name[reparse::kSubstituteNameCapacity];
    const std::wstring longest = L"C:\\" + std::wstring(256, L'y');  // 259 characters
    ASSERT_TRUE(reparse::FormSubstituteName(longest.c_str(), name, reparse::kSubstituteNameCapacity));
    EXPECT_EQ(std::wstring(name), L"\\??\\" + longest);

    const std::wstring tooLong = longest + L"z";
    EXPECT_FALSE(reparse::FormSubstituteName(tooLong.c_str(), name, reparse::kSubstituteNameCapacity));
    EXPECT_STREQ(name, L"");
}

struct Parsed {
    reparse::ReparseInfo info;
    std::wstring target;
};

constexpr wchar_t kUntouched[] = L"untouched";

Parsed Parse(const Bytes& data, std::size_t returned, std::size_t capacity = 1024) {
    std::vector<wchar_t> target(capacity + 1, L'\0');
    std::copy(std::begin(kUntouched), std::end(kUntouched) - 1, target.begin());
    const reparse::ReparseInfo info = reparse::ParseReparseData(data.data(), returned, target.data(), capacity);
    // The slot behind the capacity must never be written.
    EXPECT_EQ(target[capacity], L'\0');
    return {info, std::wstring(target.data())};
}

TEST(ParseReparseData, ReadsBackWhatWasBuilt) {
    Bytes block;
    const std::size_t size = Build(L"\\??\\D:\\Data", block);
    const Parsed parsed = Parse(block, size);
    EXPECT_EQ(parsed.info.kind, ReparseKind::MountPoint);
    EXPECT_EQ(parsed.info.tag, 0xA0000003u);
    EXPECT_EQ(parsed.target, L"\\??\\D:\\Data");
}

TEST(ParseReparseData, SubstituteNameStoredAfterThePrintNameIsTheOneReturned) {
    const Bytes print = Concat(Utf16Bytes(L"D:\\Shown"), {0, 0});
    const Bytes substitute = Concat(Utf16Bytes(L"\\??\\D:\\Real"), {0, 0});
    const auto printBytes = static_cast<std::uint16_t>(print.size() - 2);
    const auto substituteBytes = static_cast<std::uint16_t>(substitute.size() - 2);
    const Bytes data = Concat(Concat(Header(0xA0000003, static_cast<std::uint16_t>(8 + print.size() + substitute.size()),
                                            static_cast<std::uint16_t>(print.size()), substituteBytes, 0, printBytes),
                                     print),
                              substitute);
    const Parsed parsed = Parse(data, data.size());
    EXPECT_EQ(parsed.info.kind, ReparseKind::MountPoint);
    EXPECT_EQ(parsed.target, L"\\??\\D:\\Real");
}

TEST(ParseReparseData, TellsKindsApartByTheirTag) {
    struct Case {
        std::uint32_t tag;
        ReparseKind kind;
    };
    const Case cases[] = {
        {0xA000000C, ReparseKind::OtherMicrosoft},  // symbolic link
        {0x80000017, ReparseKind::OtherMicrosoft},  // any other Microsoft tag
        {0x00000000, ReparseKind::ThirdParty},
        {0x7FFFFFFF, ReparseKind::ThirdParty},
        {0x00001234, ReparseKind::ThirdParty},
    };
    for (const Case& c : cases) {
        const Bytes data = Concat(Header(c.tag, 12, 0, 2, 4, 0), Bytes{'x', 0, 0, 0, 0, 0});
        const Parsed parsed = Parse(data, data.size());
        EXPECT_EQ(parsed.info.kind, c.kind) << std::hex << c.tag;
        EXPECT_EQ(parsed.info.tag, c.tag);
        EXPECT_EQ(parsed.target, kUntouched) << "only a junction writes a target";
    }
}

TEST(ParseReparseData, FewerBytesThanATagAreUnreadable) {
    const Bytes data = {0x03, 0x00, 0x00, 0xA0};
    for (std::size_t returned = 0; returned < 4; ++returned) {
        EXPECT_EQ(Parse(data, returned).info.kind, ReparseKind::Unreadable) << returned;
    }
    EXPECT_EQ(Parse(data, 4).info.kind, ReparseKind::MalformedJunction);
}

// Junction data that lies about where its name is: never read past what was
// returned, never written past the target, never shown cut short.
TEST(ParseReparseData, NameOutsideTheDataOrTargetIsDroppedNotCut) {
    const Bytes name = Utf16Bytes(L"\\??\\D:\\Data");  // 22 bytes
    struct Case {
        const char* what;
        Bytes data;
        std::size_t returned;
    };
    const Bytes good = Concat(Concat(Header(0xA0000003, 34, 0, 22, 24, 0), name), Bytes{0, 0, 0, 0});
    const Case cases[] = {
        {"returned data ends inside the name", good, 30},
        {"returned data ends inside the header", good, 15},
        {"offset past the end", Concat(Concat(Header(0xA0000003, 34, 40, 22, 24, 0), name), Bytes{0, 0, 0, 0}), 42},
        {"length past the end", Concat(Concat(Header(0xA0000003, 34, 0, 200, 24, 0), name), Bytes{0, 0, 0, 0}), 42},
        {"offset far past the end",
         Concat(Concat(Header(0xA0000003, 34, 0xFFFE, 4, 24, 0), name), Bytes{0, 0, 0, 0}), 42},
        {"stated data length shorter than the name",
         Concat(Concat(Header(0xA0000003, 10, 0, 22, 24, 0), name), Bytes{0, 0, 0, 0}), 42},
        {"odd byte length", Concat(Concat(Header(0xA0000003, 34, 0, 21, 24, 0), name), Bytes{0, 0, 0, 0}), 42},
        {"a NUL inside the name",
         Concat(Concat(Header(0xA0000003, 34, 0, 22, 24, 0), Concat(Utf16Bytes(L"\\??\\D:"), Bytes(10, 0))),
                Bytes{0, 0, 0, 0}),
         42},
    };
    for (const Case& c : cases) {
        // Copy exactly `returned` bytes, so a sanitizer or the heap checker sees
        // any read past them.
        const Bytes returned(c.data.begin(), c.data.begin() + static_cast<std::ptrdiff_t>(c.returned));
        const Parsed parsed = Parse(returned, returned.size());
        EXPECT_EQ(parsed.info.kind, ReparseKind::MalformedJunction) << c.what;
        EXPECT_EQ(parsed.info.tag, 0xA0000003u) << c.what;
        EXPECT_EQ(parsed.target, kUntouched) << c.what;
    }
}

TEST(ParseReparseData, NameOf1023CharactersFitsAnd1024DoNot) {
    for (std::size_t units : {1023u, 1024u}) {
        const std::wstring name = L"\\??\\D:\\" + std::wstring(units - 7, L'n');
        const auto bytes = static_cast<std::uint16_t>(units * 2);
        const Bytes data = Concat(Concat(Header(0xA0000003, static_cast<std::uint16_t>(bytes + 12), 0, bytes,
                                                static_cast<std::uint16_t>(bytes + 2), 0),
                                         Utf16Bytes(name)),
                                  Bytes{0, 0, 0, 0});
        const Parsed parsed = Parse(data, data.size(), 1024);
        if (units == 1023) {
            EXPECT_EQ(parsed.info.kind, ReparseKind::MountPoint);
            EXPECT_EQ(parsed.target, name);
        } else {
            EXPECT_EQ(parsed.info.kind, ReparseKind::MalformedJunction);
            EXPECT_EQ(parsed.target, kUntouched);
        }
    }
}

TEST(WalkText, DotEntriesAreExactlyDotAndDotDot) {
    EXPECT_TRUE(IsDotEntry(L"."));
    EXPECT_TRUE(IsDotEntry(L".."));
    for (const wchar_t* name : {L"..x", L".x", L"...", L"x", L".cache", L"x.."}) {
        EXPECT_FALSE(IsDotEntry(name)) << name;
    }
}

TEST(WalkText, ChildPathsGetOneSeparator) {
    struct Case {
        const wchar_t* folder;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"N:", L"N:\\sub"},
        {L"N:\\a", L"N:\\a\\sub"},
        {L"\\", L"\\sub"},
        {L"", L"sub"},
    };
    for (const Case& c : cases) {
        wchar_t path[16] = {};
        std::wstring(c.folder).copy(path, 15);
        const std::size_t length = std::wstring(c.folder).size();
        EXPECT_EQ(reparse::AppendPathComponent(path, length, 16, L"sub"), std::wstring(c.expected).size());
        EXPECT_STREQ(path, c.expected);
    }
}

TEST(WalkText, ChildPathThatDoesNotFitLeavesThePathAsItWas) {
    wchar_t path[8] = L"N:\\ab";                                          // 5 characters
    EXPECT_EQ(reparse::AppendPathComponent(path, 5, 8, L"c"), 7u);  // "N:\ab\c" + terminator = 8
    EXPECT_STREQ(path, L"N:\\ab\\c");
    path[5] = 0;
    EXPECT_EQ(reparse::AppendPathComponent(path, 5, 8, L"cd"), 0u);
    EXPECT_STREQ(path, L"N:\\ab");
}

TEST(WalkText, StartFolderLosesOneTrailingBackslash) {
    struct Case {
        const wchar_t* folder;
        std::size_t length;
    };
    const Case cases[] = {{L"N:\\a\\", 4}, {L"N:\\a", 4}, {L"N:\\", 2}, {L"\\", 1}, {L"N:\\a\\\\", 5}, {L"", 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(reparse::TrimmedFolderLength(c.folder, std::wstring(c.folder).size()), c.length) << c.folder;
    }
}

}  // namespace
