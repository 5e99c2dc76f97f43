// Texts the message box composes while it is up: the clipboard copy, the countdown
// label and title, and the help file's path. Pure functions of their inputs.
#pragma once

#include <string>
#include <vector>

// The line that frames each part of the clipboard copy.
constexpr wchar_t kPromptCopySeparator[] = L"---------------------------\r\n";
// The copy is built in a buffer of this many units, terminator included.
constexpr size_t kPromptCopyBufferLength = 8192;
constexpr size_t kPromptCopyTitleMax = 999;
constexpr size_t kPromptCopyMessageMax = 3999;
constexpr size_t kPromptCopyButtonMax = 198;

// A label as the button shows it: each "&" that marks an access key dropped, "&&"
// read as one "&".
std::wstring RemoveAccessKeyMarks(const std::wstring& label);

// The box as plain text: separator, title, separator, the message and a separator
// (when the box has a message control: `message` non-null), then every button's
// label followed by three blanks on one line, and a closing separator. Title,
// message and labels are cut to the lengths above.
std::wstring FormatPromptCopyText(const std::wstring& title, const std::wstring* message,
                                  const std::vector<std::wstring>& buttonLabels);

// "<label> = <seconds>" on the default button while the time-out counts down.
std::wstring CountdownLabel(const wchar_t* label, int seconds);

// "<caption> <seconds>" in the title while the buttons are disabled.
std::wstring DisabledPeriodTitle(const wchar_t* caption, int seconds);

// The WinHelp file beside the program: its path with the extension replaced by
// ".hlp"; empty when the file name has no extension.
std::wstring HelpFilePathFor(const std::wstring& exePath);
