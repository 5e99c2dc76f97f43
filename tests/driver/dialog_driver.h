// Drives dialogs the way a user does, through window messages: read and type
// texts, press buttons, close windows, read status bars and list views. Works on
// windows of another process (dirshift.exe) and of the test's own process alike.
#pragma once

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace testing_driver {

constexpr int SB_SIMPLEID_PART = 255;

// Polls `condition` (pumping this thread's messages) until it holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

std::vector<HWND> TopLevelWindows(DWORD processId);
std::vector<HWND> ThreadWindows(DWORD threadId);
std::wstring ClassNameOf(HWND window);
std::wstring WindowText(HWND window);

std::wstring ControlText(HWND dialog, int controlId);
void SetControlText(HWND dialog, int controlId, const std::wstring& text);
bool IsControlEnabled(HWND dialog, int controlId);
bool IsChecked(HWND dialog, int controlId);

// Presses a button as a click does: the dialog receives WM_COMMAND with BN_CLICKED.
// Posted, so a button that opens a modal box does not block the test.
void PressButton(HWND dialog, int controlId);
// Clicks a check box (toggles it and notifies the dialog).
void ClickCheckBox(HWND dialog, int controlId);

// The ways a user closes a window.
void CloseWithCloseBox(HWND window);  // the caption's X: WM_SYSCOMMAND SC_CLOSE
void CloseWithAltF4(HWND window);     // Alt+F4 reaching the window's key handling
void PressEnterIn(HWND dialog, int controlId);  // Enter with the focus in a control
void PressEscape(HWND dialog);

// Text of a status bar's simple part, or of part `part` of its multi-part mode.
std::wstring StatusBarText(HWND statusBar, int part = SB_SIMPLEID_PART);
std::wstring DialogStatusText(HWND dialog);  // of the dialog's status bar, id 4883

// List view rows as text, one vector of column texts per row, in display order.
int ListViewRowCount(HWND listView);
std::wstring ListViewText(HWND listView, int row, int column);
std::vector<std::vector<std::wstring>> ListViewRows(HWND listView, int columns);
void ListViewSelect(HWND listView, int row, bool selected);

// Saves the whole screen as a 24-bit BMP under the build's screenshot folder and
// returns its Windows path (empty on failure). `name` without extension.
std::wstring SaveScreenshot(const std::wstring& name);

// Types keys through the system's input, as a user does: they go to the focus of
// the foreground window, in order, and move the key state the program reads.
struct Key {
    WORD code;
    bool up;
};
void TypeKeys(std::initializer_list<Key> keys);

// The clipboard's text, or empty.
std::wstring ClipboardText();

}  // namespace testing_driver
