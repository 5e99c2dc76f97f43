#include "tests/driver/scale_checks.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "base/dpi.h"
#include "base/unique_resource.h"
#include "resources/resource.h"
#include "tests/driver/dialog_driver.h"

namespace testing_driver {

namespace {

constexpr int kStatusBarId = 4883;

struct IconBits {
    SIZE size{};
    std::vector<BYTE> colour;
    std::vector<BYTE> mask;
};

std::vector<BYTE> BitmapBytes(HBITMAP bitmap, SIZE& size) {
    BITMAP info{};
    if (bitmap == nullptr || ::GetObjectW(bitmap, sizeof(info), &info) == 0) return {};
    size = SIZE{info.bmWidth, info.bmHeight};
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = info.bmWidth;
    header.biHeight = info.bmHeight;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    std::vector<BYTE> bytes(static_cast<size_t>(info.bmWidth) * static_cast<size_t>(info.bmHeight) * 4);
    HDC screen = ::GetDC(nullptr);
    ::GetDIBits(screen, bitmap, 0, static_cast<UINT>(info.bmHeight), bytes.data(),
                reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, screen);
    return bytes;
}

IconBits BitsOf(HICON icon) {
    IconBits bits;
    ICONINFO info{};
    if (icon == nullptr || !::GetIconInfo(icon, &info)) return bits;
    SIZE maskSize{};
    bits.mask = BitmapBytes(info.hbmMask, maskSize);
    if (info.hbmColor != nullptr) {
        bits.colour = BitmapBytes(info.hbmColor, bits.size);
    } else {
        // A monochrome icon keeps its image below its mask in one bitmap twice as high.
        bits.size = SIZE{maskSize.cx, maskSize.cy / 2};
    }
    if (info.hbmColor != nullptr) ::DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr) ::DeleteObject(info.hbmMask);
    return bits;
}

std::wstring TextOf(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(copied, 0)));
    return text;
}

// Measures texts in a control's own font.
class FontDc {
public:
    explicit FontDc(HWND control) : control_(control), dc_(::GetDC(control)) {
        const auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
        previous_ = ::SelectObject(dc_, font != nullptr ? static_cast<HGDIOBJ>(font) : ::GetStockObject(SYSTEM_FONT));
    }
    ~FontDc() {
        ::SelectObject(dc_, previous_);
        ::ReleaseDC(control_, dc_);
    }
    FontDc(const FontDc&) = delete;
    FontDc& operator=(const FontDc&) = delete;

    // The extent of `text` drawn on one line, "&" taken as a prefix unless `noPrefix`.
    SIZE Line(const std::wstring& text, bool noPrefix) const {
        RECT r{0, 0, 0, 0};
        ::DrawTextW(dc_, text.c_str(), static_cast<int>(text.size()), &r,
                    DT_CALCRECT | DT_SINGLELINE | (noPrefix ? DT_NOPREFIX : 0));
        return SIZE{r.right - r.left, r.bottom - r.top};
    }
    // The extent of `text` wrapped at `width`, as a static control wraps it.
    SIZE Wrapped(const std::wstring& text, int width, bool noPrefix) const {
        RECT r{0, 0, width, 0};
        ::DrawTextW(dc_, text.c_str(), static_cast<int>(text.size()), &r,
                    DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | (noPrefix ? DT_NOPREFIX : 0));
        return SIZE{r.right - r.left, r.bottom - r.top};
    }
    int LineHeight() const {
        TEXTMETRICW metrics{};
        ::GetTextMetricsW(dc_, &metrics);
        return metrics.tmHeight;
    }

private:
    HWND control_;
    HDC dc_;
    HGDIOBJ previous_;
};

SIZE TextExtent(HDC dc, HFONT font, const std::wstring& text, UINT format) {
    const HGDIOBJ previous = ::SelectObject(dc, font);
    RECT r{0, 0, 0, 0};
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CALCRECT | format);
    ::SelectObject(dc, previous);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

std::wstring Describe(HWND control, const std::wstring& text, const std::wstring& why) {
    return std::to_wstring(::GetDlgCtrlID(control)) + L" " + ClassNameOf(control) + L" \"" + text + L"\": " + why;
}

std::wstring Needs(const wchar_t* what, int needed, int has) {
    return std::wstring(what) + L" needs " + std::to_wstring(needed) + L", has " + std::to_wstring(has);
}

void CheckButton(HWND control, UINT dpi, const RECT& client, std::vector<std::wstring>& clipped) {
    const std::wstring text = TextOf(control);
    if (text.empty()) return;
    const FontDc dc(control);
    const SIZE line = dc.Line(text, false);
    const LONG type = ::GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK;
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    int needed = 0;
    if (type == BS_GROUPBOX) {
        needed = line.cx + ScaleForDpi(16, dpi);  // the caption stands on the frame, inset
    } else if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
               type == BS_AUTORADIOBUTTON || type == BS_3STATE || type == BS_AUTO3STATE) {
        needed = ScaleForDpi(13, dpi) + ScaleForDpi(3, dpi) + line.cx;  // box, gap, label
        if (line.cy > height) clipped.push_back(Describe(control, text, Needs(L"height", line.cy, height)));
    } else {
        needed = line.cx + ScaleForDpi(6, dpi);  // the frame and the focus rectangle
        const int neededHeight = line.cy + ScaleForDpi(4, dpi);
        if (neededHeight > height) clipped.push_back(Describe(control, text, Needs(L"height", neededHeight, height)));
    }
    if (needed > width) clipped.push_back(Describe(control, text, Needs(L"width", needed, width)));
}

void CheckStatic(HWND control, const RECT& client, std::vector<std::wstring>& clipped) {
    const std::wstring text = TextOf(control);
    const LONG style = ::GetWindowLongW(control, GWL_STYLE);
    const LONG type = style & SS_TYPEMASK;
    if (text.empty() || (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT)) return;
    const FontDc dc(control);
    const int width = client.right - client.left;
    const SIZE wrapped = dc.Wrapped(text, width, (style & SS_NOPREFIX) != 0);
    if (wrapped.cx > width) clipped.push_back(Describe(control, text, Needs(L"width", wrapped.cx, width)));
    if (wrapped.cy > client.bottom - client.top) {
        clipped.push_back(Describe(control, text, Needs(L"height", wrapped.cy, client.bottom - client.top)));
    }
}

void CheckLineHeight(HWND control, const RECT& client, std::vector<std::wstring>& clipped) {
    const FontDc dc(control);
    const int height = client.bottom - client.top;
    if (dc.LineHeight() > height) clipped.push_back(Describe(control, TextOf(control), Needs(L"height", dc.LineHeight(), height)));
}

void CheckListColumns(HWND list, UINT dpi, std::vector<std::wstring>& clipped) {
    HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    if (header == nullptr) return;
    const FontDc dc(header);
    const int count = static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int column = 0; column < count; ++column) {
        wchar_t title[256] = L"";
        LVCOLUMNW info{};
        info.mask = LVCF_TEXT | LVCF_WIDTH;
        info.pszText = title;
        info.cchTextMax = 256;
        if (!::SendMessageW(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&info))) continue;
        const int needed = dc.Line(title, true).cx + ScaleForDpi(12, dpi);  // the header's own margins
        if (needed > info.cx) clipped.push_back(Describe(list, title, Needs(L"column width", needed, info.cx)));
    }
}

}  // namespace

SIZE IconPixelSize(HICON icon) { return BitsOf(icon).size; }

bool SameIconImage(HICON left, HICON right) {
    const IconBits a = BitsOf(left);
    const IconBits b = BitsOf(right);
    return a.size.cx == b.size.cx && a.size.cy == b.size.cy && a.colour == b.colour && a.mask == b.mask &&
           !a.mask.empty();
}

RECT ChildRect(HWND parent, HWND child) {
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::vector<std::wstring> ClippedTexts(HWND dialog) {
    std::vector<std::wstring> clipped;
    const UINT dpi = DpiForWindow(dialog);
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (!::IsWindowVisible(child)) continue;
        RECT client{};
        ::GetClientRect(child, &client);
        const std::wstring name = ClassNameOf(child);
        if (::lstrcmpiW(name.c_str(), L"Button") == 0) {
            CheckButton(child, dpi, client, clipped);
        } else if (::lstrcmpiW(name.c_str(), L"Static") == 0) {
            CheckStatic(child, client, clipped);
        } else if (::lstrcmpiW(name.c_str(), L"Edit") == 0 || name == STATUSCLASSNAMEW) {
            CheckLineHeight(child, client, clipped);
        } else if (name == WC_LISTVIEWW) {
            CheckListColumns(child, dpi, clipped);
        }
    }
    return clipped;
}

std::vector<Part> PartsOf(HWND window) {
    std::vector<Part> parts;
    RECT client{};
    ::GetClientRect(window, &client);
    parts.push_back({L"client", client});
    for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        parts.push_back({std::to_wstring(::GetDlgCtrlID(child)), ChildRect(window, child)});
    }
    return parts;
}

void ExpectProgramIcons(HWND dialog, HINSTANCE module, UINT dpi) {
    const struct {
        WPARAM which;
        int metric;
    } icons[] = {{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}};
    for (const auto& icon : icons) {
        const int size = SystemMetricForDpi(icon.metric, dpi);
        const auto shown = reinterpret_cast<HICON>(::SendMessageW(dialog, WM_GETICON, icon.which, 0));
        const SIZE pixels = IconPixelSize(shown);
        EXPECT_EQ(pixels.cx, size) << "icon " << icon.which;
        EXPECT_EQ(pixels.cy, size) << "icon " << icon.which;
        const UniqueIcon resource(static_cast<HICON>(
            ::LoadImageW(module, MAKEINTRESOURCEW(IDI_DIRSHIFT), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
        EXPECT_TRUE(SameIconImage(shown, resource.get())) << "the " << size << "-pixel image of icon 138";
    }
}

void ExpectStatusBarForDpi(HWND dialog, UINT dpi) {
    HWND statusBar = ::GetDlgItem(dialog, kStatusBarId);
    ASSERT_NE(statusBar, nullptr);
    RECT client{};
    ::GetClientRect(dialog, &client);
    const RECT bar = ChildRect(dialog, statusBar);
    EXPECT_EQ(bar.bottom, client.bottom);
    EXPECT_EQ(bar.left, 0);
    EXPECT_EQ(bar.right, client.right);
    NONCLIENTMETRICSW fonts{};
    ASSERT_TRUE(NonClientFontsForDpi(dpi, fonts));
    LOGFONTW shown{};
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(statusBar, WM_GETFONT, 0, 0));
    ASSERT_NE(::GetObjectW(font, sizeof(shown), &shown), 0);
    EXPECT_EQ(shown.lfHeight, fonts.lfStatusFont.lfHeight) << "the status font of " << dpi << " DPI";
    EXPECT_GE(bar.bottom - bar.top, std::abs(fonts.lfStatusFont.lfHeight)) << "a line of it";
}

int TextStretch(HWND box, UINT dpi) {
    NONCLIENTMETRICSW fonts{};
    if (!NonClientFontsForDpi(kBaseDpi, fonts)) return 0;
    const UniqueFont at96(::CreateFontIndirectW(&fonts.lfMessageFont));
    const auto shown = reinterpret_cast<HFONT>(::SendDlgItemMessageW(box, 1001, WM_GETFONT, 0, 0));
    HDC dc = ::GetDC(box);
    int stretch = 0;
    auto compare = [&](const std::wstring& text, UINT format) {
        const SIZE small = TextExtent(dc, at96.get(), text, format);
        const SIZE large = TextExtent(dc, shown, text, format);
        const int across = std::abs(static_cast<int>(large.cx) - MulDiv(small.cx, static_cast<int>(dpi), 96));
        const int down = std::abs(static_cast<int>(large.cy) - MulDiv(small.cy, static_cast<int>(dpi), 96));
        stretch = std::max({stretch, across, down});
    };
    compare(WindowText(::GetDlgItem(box, 1001)), DT_NOPREFIX | DT_EXPANDTABS);
    for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (ClassNameOf(child) == L"Button") compare(WindowText(child), DT_SINGLELINE);
    }
    ::ReleaseDC(box, dc);
    return stretch;
}

int ExpectScaled(const RECT& actual, const RECT& at96, UINT dpi, int textStretch, const std::wstring& what) {
    const auto scaled = [dpi](LONG v) { return MulDiv(v, static_cast<int>(dpi), 96); };
    const std::string name(what.begin(), what.end());
    const int tolerance = 2 + textStretch;
    EXPECT_NEAR(actual.left, scaled(at96.left), tolerance) << name;
    EXPECT_NEAR(actual.top, scaled(at96.top), tolerance) << name;
    EXPECT_NEAR(actual.right, scaled(at96.right), tolerance) << name;
    EXPECT_NEAR(actual.bottom, scaled(at96.bottom), tolerance) << name;
    return std::max({std::abs(static_cast<int>(actual.left - scaled(at96.left))),
                     std::abs(static_cast<int>(actual.top - scaled(at96.top))),
                     std::abs(static_cast<int>(actual.right - scaled(at96.right))),
                     std::abs(static_cast<int>(actual.bottom - scaled(at96.bottom)))});
}

}  // namespace testing_driver
