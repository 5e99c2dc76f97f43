// The in-memory dialog template: its bytes parsed back by the Win32 layout rules,
// and what CPromptTemplate builds from a call (items, ids, flags, the title cut).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "promptbox/prompt_template.h"
#include "resources/resource.h"

namespace {

// A template read back the way the dialog manager reads one.
struct ParsedItem {
    DWORD style, exStyle;
    short x, y, cx, cy;
    WORD id;
    WORD classAtom;
    std::wstring text;
    size_t offset;
};

struct ParsedTemplate {
    DWORD style, exStyle;
    WORD count;
    short x, y, cx, cy;
    std::wstring title;
    std::vector<ParsedItem> items;
    size_t end;  // offset just past the last item's creation-data word
};

class Reader {
public:
    explicit Reader(const std::vector<BYTE>& bytes) : bytes_(bytes) {}
    template <typename T>
    T Read() {
        T value{};
        if (offset_ + sizeof(T) > bytes_.size()) throw std::runtime_error("read past the template");
        std::memcpy(&value, bytes_.data() + offset_, sizeof(T));
        offset_ += sizeof(T);
        return value;
    }
    std::wstring Text() {
        std::wstring text;
        for (wchar_t unit = Read<wchar_t>(); unit != L'\0'; unit = Read<wchar_t>()) text.push_back(unit);
        return text;
    }
    void AlignTo4() { offset_ = (offset_ + 3) & ~size_t{3}; }
    size_t offset() const { return offset_; }

private:
    const std::vector<BYTE>& bytes_;
    size_t offset_ = 0;
};

ParsedTemplate Parse(const std::vector<BYTE>& bytes) {
    Reader r(bytes);
    ParsedTemplate t{};
    t.style = r.Read<DWORD>();
    t.exStyle = r.Read<DWORD>();
    t.count = r.Read<WORD>();
    t.x = r.Read<short>();
    t.y = r.Read<short>();
    t.cx = r.Read<short>();
    t.cy = r.Read<short>();
    EXPECT_EQ(r.Read<WORD>(), 0) << "no menu";
    EXPECT_EQ(r.Read<WORD>(), 0) << "the predefined dialog class";
    t.title = r.Text();
    for (WORD i = 0; i < t.count; ++i) {
        r.AlignTo4();
        ParsedItem item{};
        item.offset = r.offset();
        item.style = r.Read<DWORD>();
        item.exStyle = r.Read<DWORD>();
        item.x = r.Read<short>();
        item.y = r.Read<short>();
        item.cx = r.Read<short>();
        item.cy = r.Read<short>();
        item.id = r.Read<WORD>();
        EXPECT_EQ(r.Read<WORD>(), 0xFFFF) << "class given as an atom";
        item.classAtom = r.Read<WORD>();
        item.text = r.Text();
        EXPECT_EQ(r.Read<WORD>(), 0) << "no creation data";
        t.items.push_back(item);
    }
    t.end = r.offset();
    return t;
}

std::unique_ptr<CPromptItem> Item(WORD classAtom, DWORD style, WORD id, const std::wstring& text, short x = 1,
                                  short y = 2, short cx = 3, short cy = 4) {
    auto item = std::make_unique<CPromptItem>();
    item->classAtom = classAtom;
    item->style = style;
    item->id = id;
    item->text = text;
    item->x = x;
    item->y = y;
    item->cx = cx;
    item->cy = cy;
    return item;
}

std::vector<BYTE> Write(const DLGTEMPLATE& header, const std::wstring& title,
                        const std::vector<std::unique_ptr<CPromptItem>>& items, size_t* sizeOut = nullptr) {
    std::vector<const CPromptItem*> list;
    for (const auto& item : items) list.push_back(item.get());
    const size_t size = DialogTemplateByteSize(title.size(), list.data(), static_cast<int>(list.size()));
    if (sizeOut != nullptr) *sizeOut = size;
    std::vector<BYTE> bytes(size, 0xCD);
    EXPECT_TRUE(WriteDialogTemplate(header, title.c_str(), title.size(), list.data(), static_cast<int>(list.size()),
                                    bytes.data(), bytes.size()));
    return bytes;
}

TEST(DialogTemplateBytes, SizesFollowTheAlignmentRules) {
    struct Case {
        std::wstring title;
        std::vector<std::wstring> texts;
        size_t size;
    };
    // Header: (2 * title + 27) & ~3. Items: 2 * text + 26, rounded up to 4 but the last.
    const Case cases[] = {
        {L"", {}, 24},
        {L"A", {}, 28},          // 22 + 4 = 26 -> 28
        {L"AB", {}, 28},         // 22 + 6 = 28
        {L"Dirshift", {L""}, 40 + 26},
        {L"Dirshift", {L"", L""}, 40 + 28 + 26},
        {L"Dirshift", {L"Hello", L"OK", L"Cancel"}, 40 + 36 + 32 + 38},
        {L"Odd", {L"a", L"ab", L"abc"}, 32 + 28 + 32 + 32},
    };
    for (const Case& c : cases) {
        std::vector<std::unique_ptr<CPromptItem>> items;
        for (const auto& text : c.texts) items.push_back(Item(kButtonClassAtom, WS_CHILD, 1, text));
        size_t size = 0;
        const std::vector<BYTE> bytes = Write(DLGTEMPLATE{}, c.title, items, &size);
        EXPECT_EQ(size, c.size) << "title \"" << c.title << "\", " << c.texts.size() << " items";
    }
}

TEST(DialogTemplateBytes, ParsesBackWithItemsOnFourByteBoundaries) {
    DLGTEMPLATE header{};
    header.style = 0x90C80880;
    header.cdit = 4;
    header.cx = 204;
    header.cy = 77;
    std::vector<std::unique_ptr<CPromptItem>> items;
    items.push_back(Item(kStaticClassAtom, 0x50000000, 1000, L"", 12, 12, 17, 4));
    items.push_back(Item(kStaticClassAtom, 0x50000080, 1001, L"Odd length text", 36, 12, 156, 21));
    items.push_back(Item(kButtonClassAtom, 0x50010001, IDYES, L"Yes", 58, 44, 44, 13));
    items.push_back(Item(kButtonClassAtom, 0x50010003, 5555, L"Do not ask me again", 8, 63, 75, 10));

    size_t size = 0;
    const std::vector<BYTE> bytes = Write(header, L"Dirshift", items, &size);
    const ParsedTemplate t = Parse(bytes);
    EXPECT_EQ(t.style, 0x90C80880u);
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.count, 4);
    EXPECT_EQ(t.cx, 204);
    EXPECT_EQ(t.cy, 77);
    EXPECT_EQ(t.title, L"Dirshift");
    ASSERT_EQ(t.items.size(), 4u);
    EXPECT_EQ(t.end, size) << "the size ends exactly after the last item";
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(t.items[i].offset % 4, 0u);
        EXPECT_EQ(t.items[i].style, items[i]->style);
        EXPECT_EQ(t.items[i].exStyle, 0u);
        EXPECT_EQ(t.items[i].x, items[i]->x);
        EXPECT_EQ(t.items[i].y, items[i]->y);
        EXPECT_EQ(t.items[i].cx, items[i]->cx);
        EXPECT_EQ(t.items[i].cy, items[i]->cy);
        EXPECT_EQ(t.items[i].id, items[i]->id);
        EXPECT_EQ(t.items[i].classAtom, items[i]->classAtom);
        EXPECT_EQ(t.items[i].text, items[i]->text);
    }
    // DLGITEMTEMPLATE fields are packed: 18 bytes before the class words.
    EXPECT_EQ(sizeof(DLGITEMTEMPLATE), 18u);
    DLGITEMTEMPLATE first{};
    std::memcpy(&first, bytes.data() + t.items[2].offset, sizeof(first));
    EXPECT_EQ(first.id, IDYES);
    EXPECT_EQ(first.cx, 44);
}

TEST(DialogTemplateBytes, RefusesABufferTooSmallWithoutWritingPastIt) {
    std::vector<std::unique_ptr<CPromptItem>> items;
    items.push_back(Item(kButtonClassAtom, WS_CHILD, 1, L"OK"));
    const CPromptItem* list[] = {items[0].get()};
    const size_t size = DialogTemplateByteSize(3, list, 1);
    std::vector<BYTE> bytes(size + 8, 0xCD);
    EXPECT_FALSE(WriteDialogTemplate(DLGTEMPLATE{}, L"Box", 3, list, 1, bytes.data(), size - 1));
    for (size_t i = size - 1; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], 0xCD) << "byte " << i;
    EXPECT_FALSE(WriteDialogTemplate(DLGTEMPLATE{}, L"Box", 3, list, 1, nullptr, size));
}

// What the call builds: base units and fonts come from the system, so the tests
// look at the items, their order, ids, styles and texts, and at relations.
class PromptTemplateBuild : public ::testing::Test {
protected:
    std::unique_ptr<CPromptTemplate> Build(const wchar_t* text, const wchar_t* caption, UINT style) {
        return std::make_unique<CPromptTemplate>(nullptr, text, caption, style, *params_);
    }
    std::unique_ptr<PromptBoxParams> params_ = std::make_unique<PromptBoxParams>();
};

std::vector<WORD> ItemIds(const CPromptTemplate& t) {
    std::vector<WORD> ids;
    for (int i = 0; i < t.ItemCount(); ++i) ids.push_back(t.items[i]->id);
    return ids;
}

TEST_F(PromptTemplateBuild, QuestionWithCheckBoxHasIconTextButtonsCheckBoxInOrder) {
    params_->options = PB_OPT_NARROW | PB_OPT_MODERNLOOK;
    params_->stringsInstance = ::GetModuleHandleW(nullptr);
    const auto t = Build(L"Proceed?", L"Dirshift", MB_YESNOCANCEL | MB_ICONEXCLAMATION | PB_DONTASKAGAIN);
    EXPECT_EQ(ItemIds(*t), (std::vector<WORD>{1000, 1001, IDYES, IDNO, IDCANCEL, 5555}));
    EXPECT_EQ(t->header.cdit, 6);
    EXPECT_EQ(t->header.style, 0x90C80880u);
    EXPECT_NE(t->icon, nullptr);
    EXPECT_EQ(t->items[0]->classAtom, kStaticClassAtom);
    EXPECT_EQ(t->items[1]->classAtom, kStaticClassAtom);
    EXPECT_EQ(t->items[1]->text, L"Proceed?");
    EXPECT_EQ(t->items[2]->text, L"Yes");
    EXPECT_EQ(t->items[2]->style, 0x50010001u) << "the first button is the default";
    EXPECT_EQ(t->items[3]->style, 0x50010000u);
    EXPECT_EQ(t->items[5]->style, 0x50010003u);
    EXPECT_EQ(t->items[5]->text, L"Do not ask me again");
    EXPECT_EQ(t->dialogFlags, DF_ASKAGAIN | DF_ESCAPE_CANCEL);
    EXPECT_EQ(t->defaultButtonId, static_cast<UINT>(IDYES));
    EXPECT_EQ(t->buttonCount, 3);
    EXPECT_EQ(t->messageStaticId, 1001u);
    EXPECT_EQ(t->nextStaticId, 1002u);
    EXPECT_TRUE(t->rightButtons) << "the modern look puts the buttons right";
    EXPECT_TRUE(t->backgroundBrush) << "the modern look colours the message band";
    // The buttons stand in one row, left to right, 6 pixels apart in dialog units' terms.
    EXPECT_LT(t->items[2]->x, t->items[3]->x);
    EXPECT_LT(t->items[3]->x, t->items[4]->x);
    EXPECT_EQ(t->items[2]->y, t->items[4]->y);
    EXPECT_GT(t->items[5]->y, t->items[2]->y) << "the check box stands below the row";
    EXPECT_GT(t->items[1]->x, t->items[0]->x) << "the text stands right of the icon";
}

TEST_F(PromptTemplateBuild, DefaultButtonFallsBackToTheFirstBeyondTheCount) {
    struct Case {
        UINT style;
        UINT defaultId;
    };
    const Case cases[] = {
        {MB_YESNO | MB_DEFBUTTON4, IDYES},
        {MB_OK | MB_DEFBUTTON3, IDOK},
        {MB_OK | MB_HELP | MB_DEFBUTTON2, 300},
        {MB_YESNOCANCEL | PB_YESTOALL | PB_NOTOALL | MB_DEFBUTTON4, PB_IDNOTOALL},
        {MB_CANCELTRYCONTINUE | MB_DEFBUTTON3, IDCONTINUE},
    };
    for (const Case& c : cases) {
        const auto t = Build(L"Text", L"Caption", c.style);
        EXPECT_EQ(t->defaultButtonId, c.defaultId) << std::hex << c.style;
        int defaults = 0;
        for (int i = 0; i < t->ItemCount(); ++i) {
            if (t->items[i]->classAtom == kButtonClassAtom && (t->items[i]->style & 0x0F) == BS_DEFPUSHBUTTON) {
                ++defaults;
                EXPECT_EQ(t->items[i]->id, c.defaultId);
            }
        }
        EXPECT_EQ(defaults, 1) << "exactly one default button";
    }
}

TEST_F(PromptTemplateBuild, CaptionIsCutTo1023CharactersInTheTitle) {
    const std::wstring longCaption(2000, L'c');
    const auto t = Build(L"Text", longCaption.c_str(), MB_OK);
    std::vector<BYTE> bytes(t->TemplateByteSize());
    ASSERT_TRUE(t->WriteTemplate(bytes.data(), bytes.size()));
    const ParsedTemplate parsed = Parse(bytes);
    EXPECT_EQ(parsed.title, std::wstring(1023, L'c'));
    EXPECT_EQ(parsed.end, bytes.size());
    EXPECT_EQ(parsed.count, t->ItemCount());
    EXPECT_EQ(std::wstring(t->caption.get()), longCaption) << "the caption itself is kept whole";
}

TEST_F(PromptTemplateBuild, EmptyMessageStillGetsItsItem) {
    for (const wchar_t* text : {L"", static_cast<const wchar_t*>(nullptr)}) {
        const auto t = Build(text, L"Caption", MB_OK);
        EXPECT_EQ(ItemIds(*t), (std::vector<WORD>{1001, IDOK}));
        EXPECT_EQ(t->items[0]->text, L"");
        EXPECT_EQ(t->dialogFlags, DF_ESCAPE_OK);
    }
}

TEST_F(PromptTemplateBuild, TextsAndCaptionFromStringResources) {
    params_->stringsInstance = ::GetModuleHandleW(nullptr);
    const auto t = Build(MAKEINTRESOURCEW(IDS_SCAN_COMPLETE), MAKEINTRESOURCEW(IDS_APP_CAPTION), MB_OK);
    EXPECT_STREQ(t->text.get(), L"Scan complete");
    EXPECT_STREQ(t->caption.get(), L"Dirshift");
    const auto missing = Build(MAKEINTRESOURCEW(4321), MAKEINTRESOURCEW(4322), MB_OK);
    EXPECT_STREQ(missing->text.get(), L"");
    EXPECT_STREQ(missing->caption.get(), L"");
}

TEST_F(PromptTemplateBuild, FiveCustomEntriesGiveFourButtons) {
    wcscpy_s(params_->customButtons, L"Move\nCopy\nLink\nSkip\nQuit");
    const auto t = Build(L"How?", L"Caption", MB_YESNOCANCEL | MB_DEFBUTTON2);
    EXPECT_EQ(ItemIds(*t), (std::vector<WORD>{1001, 23, 24, 25, 26}));
    EXPECT_EQ(t->items[1]->text, L"Move");
    EXPECT_EQ(t->items[4]->text, L"Skip");
    EXPECT_EQ(t->defaultButtonId, 24u);
    EXPECT_EQ(t->dialogFlags, 0u) << "Esc does not answer custom buttons";
}

TEST_F(PromptTemplateBuild, CustomButtonsFromAStringResourceComeFirst) {
    params_->stringsInstance = ::GetModuleHandleW(nullptr);
    params_->customButtonsId = IDS_SCAN_COMPLETE;
    wcscpy_s(params_->customButtons, L"Ignored");
    const auto t = Build(L"Text", L"Caption", MB_OK);
    EXPECT_EQ(ItemIds(*t), (std::vector<WORD>{1001, 23}));
    EXPECT_EQ(t->items[1]->text, L"Scan complete");
}

TEST_F(PromptTemplateBuild, CustomTextOfLineFeedsOnlyGivesAnOkButton) {
    wcscpy_s(params_->customButtons, L"\n\n");
    const auto t = Build(L"Text", L"Caption", MB_YESNO);
    EXPECT_EQ(ItemIds(*t), (std::vector<WORD>{1001, IDOK}));
    EXPECT_EQ(t->dialogFlags & DF_ESCAPE_OK, DF_ESCAPE_OK);
}

TEST_F(PromptTemplateBuild, TimeOutWidensEveryButtonAndTheCheckBox) {
    const auto plain = Build(L"Text", L"Caption", MB_OK | PB_DONTSHOWAGAIN);
    params_->timeoutSeconds = 5;
    const auto timed = Build(L"Text", L"Caption", MB_OK | PB_DONTSHOWAGAIN);
    for (int i = 0; i < kPromptLabelTableSize; ++i) {
        EXPECT_EQ(timed->buttonWidths[i], plain->buttonWidths[i] + plain->countdownWidth) << "label " << i;
    }
    EXPECT_GT(timed->items[1]->cx, plain->items[1]->cx) << "OK";
    EXPECT_GT(timed->items[2]->cx, plain->items[2]->cx) << "check box";
}

TEST_F(PromptTemplateBuild, NegativeCountdownsAreNone) {
    const auto plain = Build(L"Text", L"Caption", MB_OK);
    params_->timeoutSeconds = -3;
    params_->disabledSeconds = -7;
    const auto negative = Build(L"Text", L"Caption", MB_OK);
    EXPECT_EQ(negative->timeoutSeconds, 0);
    EXPECT_EQ(negative->disabledSeconds, 0);
    EXPECT_EQ(negative->buttonWidths[kLabelOk], plain->buttonWidths[kLabelOk]) << "no countdown room";
}

TEST_F(PromptTemplateBuild, SystemModalStyleAddsDsSysModal) {
    const auto t = Build(L"Text", L"Caption", MB_OK | MB_ICONQUESTION | MB_SYSTEMMODAL);
    EXPECT_EQ(t->header.style, 0x90C80882u);
}

TEST_F(PromptTemplateBuild, HelpAndReportButtonsWithTheirLabels) {
    params_->reportCallback = [](const wchar_t*, UINT32) {};
    wcscpy_s(params_->reportCaption, L"Send report");
    params_->stringsInstance = ::GetModuleHandleW(nullptr);
    const auto t = Build(L"Text", L"Caption", MB_OK | MB_HELP);
    EXPECT_EQ(ItemIds(*t), (std::vector<WORD>{1001, IDOK, 300, 301}));
    EXPECT_EQ(t->items[2]->text, L"Help");
    EXPECT_EQ(t->items[3]->text, L"Send report");
    EXPECT_EQ(t->buttonCount, 3);
}

TEST_F(PromptTemplateBuild, CustomIconFromTheProgramAndNoneWhenMissing) {
    params_->iconId = IDI_DIRSHIFT;
    const auto custom = Build(L"Text", L"Caption", MB_OK);
    EXPECT_NE(custom->icon, nullptr);
    EXPECT_EQ(custom->items[0]->id, 1000);

    params_->iconId = 4999;  // no such icon: no icon item, no shift of the text
    const auto missing = Build(L"Text", L"Caption", MB_OK | MB_ICONQUESTION);
    EXPECT_EQ(missing->icon, nullptr);
    EXPECT_EQ(ItemIds(*missing), (std::vector<WORD>{1001, IDOK}));

    params_->iconId = 0x12345;  // not a resource number
    const auto invalid = Build(L"Text", L"Caption", MB_OK | MB_ICONHAND);
    EXPECT_NE(invalid->icon, nullptr) << "the style's system icon";
}

TEST_F(PromptTemplateBuild, MessageWithAmpersandIsShownAsWritten) {
    const auto t = Build(L"C:\\Music & Video", L"Caption", MB_OK);
    EXPECT_EQ(t->items[0]->text, L"C:\\Music & Video");
    EXPECT_EQ(t->items[0]->style & SS_NOPREFIX, static_cast<DWORD>(SS_NOPREFIX));
}

}  // namespace
