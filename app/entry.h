// The program's start: process-wide values, the start-up warning, the choice of
// face and the one modal dialog whose result is the exit code.
#pragma once

int RunDirshift(int argc, wchar_t** argv);
