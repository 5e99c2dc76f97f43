// Remembered message-box answers: a ticked "do not ask/tell/show me again" box
// stores the whole result under HKCU\Software\<company>\<exe file name>\PromptBox,
// one REG_DWORD per message text. The names are pure functions of their inputs;
// only the Read/Write/LookUp calls touch the registry, and they never fail loudly.
#pragma once

#include <windows.h>

#include <string>

#include "promptbox/prompt_box.h"

// The only part of a module name that takes part in the value name.
constexpr size_t kEncodedModuleNameMax = 490;

// Checksum of a message text: the low byte of every unit times (index + length),
// summed with 32-bit wrap-around. Null counts as the empty text.
INT32 ComputeMessageKey(const wchar_t* text);

// Scrambles the first 490 units of a module name into the 64-letter alphabet, one
// letter per unit, so the value names do not spell the program's name.
std::wstring EncodeModuleName(const wchar_t* moduleName);

// The encoded module name followed by the message key in signed decimal; empty when
// the module name is null or empty (nothing is remembered then).
std::wstring RememberedAnswerValueName(const wchar_t* moduleName, INT32 messageKey);

// "Software\<company>\<file name of exePath>\PromptBox"; the company part is left
// out when it is empty.
std::wstring RememberedAnswerKeyPath(const wchar_t* companyName, const wchar_t* exePath);

// The stored answer, or 0 when the value name is empty or the key or a 4-byte value
// is missing or unreadable.
UINT32 ReadRememberedAnswer(const wchar_t* companyName, const wchar_t* valueName);

// Stores the answer as REG_DWORD; every failure is silent.
void WriteRememberedAnswer(const wchar_t* companyName, const wchar_t* valueName, UINT32 answer);

// Sets params.messageKey from the text and returns the answer stored for it, or 0
// when params.moduleName is null or nothing is stored.
UINT32 LookUpRememberedAnswer(PromptBoxParams& params, const wchar_t* text);

// True when a stored value is a ticked answer that ends the call without a box.
constexpr bool IsFinalRememberedAnswer(UINT32 answer) {
    return (answer & (PB_DONTASKAGAIN | PB_DONTTELLAGAIN | PB_DONTSHOWAGAIN)) != 0;
}
