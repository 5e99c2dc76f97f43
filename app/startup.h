// Command-line rules of the program's start, kept free of windows so they are
// tested directly.
#pragma once

#include <string>

#include "engine/move_back.h"

// The folder the program was started for: the first argument after the program's
// name (whatever it is, even a switch), with one trailing double quote or backslash
// removed. A quoted "C:\Data\" arrives as C:\Data" under the splitting rules, and a
// context-menu entry quoting a drive root gives D:" - both come out clean.
std::wstring StartupPathFromArguments(int argc, const wchar_t* const* argv);

// True when the raw command line asks for the relocation face: "/create" anywhere in
// it, matched case-sensitively, as Explorer's context-menu entry writes it.
bool CommandLineSelectsRelocation(const wchar_t* rawCommandLine);

// True when the raw command line asks to move a junction's files back: "/restore"
// anywhere in it, matched case-sensitively like "/create", and no "/create" (which
// keeps its meaning wherever it stands).
bool CommandLineSelectsMoveBack(const wchar_t* rawCommandLine);

// The junction that a move back from the command line acts on: the start-up path,
// cut at a double quote. No Windows path holds one; it is there when a quoted path
// ended in a backslash ("D:\Games\" /restore), which makes the quote literal and
// joins the rest of the line to the path.
std::wstring MoveBackPathFromArguments(int argc, const wchar_t* const* argv);

// The exit code of a move back started from the command line: 0 done, 2 when the
// user declined, 1 when it was refused or failed.
int MoveBackExitCode(MoveBackResult result);
