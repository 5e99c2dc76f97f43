// How each relocation message reaches the user: its exact text, the box that shows
// it and that box's owner, in one table.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "engine/relocation_engine.h"

enum class MessageBoxKind {
    System,  // the platform's MessageBoxW
    Prompt,  // the program's own PromptBox
    Status,  // the dialog's status bar only: news that needs no answer
};

struct RelocationMessageStyle {
    RelocationMessage message;
    // The text, with {source}, {target}, {probe}, {name} and {limit} standing for
    // the facts of the same names, and {string:<id>} for a string resource.
    const wchar_t* text;
    UINT style;               // MB_ and PB_ bits
    bool ownedByDialog;       // false: the box has no owner
    MessageBoxKind kind;
    const wchar_t* caption;   // null: the program's caption
};

// The table's row for `message`.
const RelocationMessageStyle& StyleOf(RelocationMessage message);

// The text of `message` with its facts filled in; `loadString` gives a string
// resource's text. Facts are inserted as they are, never read as placeholders.
std::wstring ComposeRelocationText(RelocationMessage message, const RelocationFacts& facts,
                                   const std::function<std::wstring(UINT)>& loadString);

// The buttons of a recovery question, one label a line: finish the relocation,
// move everything back, decide later.
extern const wchar_t kRecoveryChoiceLabels[];
// The buttons of the question after a move back that did not end: finish moving
// back, undo it (the junction as it was), decide later.
extern const wchar_t kMoveBackRecoveryChoiceLabels[];
// The buttons of a recovery question with no way back: finish, or decide later.
extern const wchar_t kFinishOnlyChoiceLabels[];
