// What a user sees of a window at a display scale, read from the real window: the
// size and image of its icons, where its controls stand, and whether each control
// shows its whole text. Works on windows of the test's own process (fonts are read
// from the controls).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_driver {

// Width and height of an icon's image; 0 x 0 for no icon.
SIZE IconPixelSize(HICON icon);

// True when both icons have the same size, colours and mask.
bool SameIconImage(HICON left, HICON right);

// A child window's rectangle in its parent's client coordinates.
RECT ChildRect(HWND parent, HWND child);

// Every control of `dialog` whose text does not fit the room it has at the
// window's DPI, described as "<id> <class> \"text\": why". Push buttons need their
// label with a little padding, check boxes the box, a gap and the label, group
// boxes their caption, statics their text wrapped as they wrap it, edit fields and
// status bars the height of a line, list views each column's title.
std::vector<std::wstring> ClippedTexts(HWND dialog);

// Checks (gtest expectations) that the dialog shows icon 138 of `module` (the
// program's resources) as its big and small icon, each at the size that `dpi`
// asks for.
void ExpectProgramIcons(HWND dialog, HINSTANCE module, UINT dpi);

// Checks that the dialog's status bar stands along its whole bottom in the status
// font of `dpi`, at least a line of it high.
void ExpectStatusBarForDpi(HWND dialog, UINT dpi);

// Named rectangles in client pixels, as one part of a box.
struct Part {
    std::wstring name;
    RECT rect;
};

// The box's client area ("client") and each control by its id, in window order.
std::vector<Part> PartsOf(HWND window);

// How far the texts of a message box at `dpi` (its message and its buttons' labels,
// in its own font) are from their extents at 96 DPI scaled, in pixels. Fonts come
// in whole pixels and glyphs are fitted to the pixel grid, so text does not scale
// exactly, nor can anything sized to it.
int TextStretch(HWND box, UINT dpi);

// Checks that `actual`, a part at `dpi`, is the part `at96` scaled: each edge
// within two pixels beyond `textStretch`. Returns the largest difference of an edge.
int ExpectScaled(const RECT& actual, const RECT& at96, UINT dpi, int textStretch, const std::wstring& what);

}  // namespace testing_driver
