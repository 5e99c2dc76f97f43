// Command-line rules of the program's start, kept free of windows so they are
// tested directly.
#pragma once

#include <string>

// The folder the program was started for: the first argument after the program's
// name (whatever it is, even a switch), with one trailing double quote or backslash
// removed. A quoted "C:\Data\" arrives as C:\Data" under the splitting rules, and a
// context-menu entry quoting a drive root gives D:" - both come out clean.
std::wstring StartupPathFromArguments(int argc, const wchar_t* const* argv);

// True when the raw command line asks for the relocation face: "/create" anywhere in
// it, matched case-sensitively, as Explorer's context-menu entry writes it.
bool CommandLineSelectsRelocation(const wchar_t* rawCommandLine);
